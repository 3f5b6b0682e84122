// The pacing wait against an injected tick counter, and the blocking result
// handover between a worker and the GUI thread.

#include "engine/engine_settings.h"
#include "engine/pacing_wait.h"
#include "engine/result_handover.h"
#include "engine/tick_clock.h"
#include "support/manual_time.h"

#include <QtTest>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <thread>

using namespace tarnwick::engine;
using tarnwick::test::ManualTime;

namespace {

// Each wait either runs to its end or is woken after the next scripted delay.
struct ScriptedWaiter : Waiter {
    explicit ScriptedWaiter(ManualTime& t) : ticks(t) {}
    bool wait(int ms) override
    {
        requested << ms;
        if (!wakes.isEmpty() && wakes.first() < ms) {
            ticks.advance(wakes.takeFirst());
            return true;
        }
        ticks.advance(ms);
        return false;
    }
    ManualTime& ticks;
    QList<int> wakes;
    QList<int> requested;
};

} // namespace

class TestPacingHandover : public QObject {
    Q_OBJECT
private slots:
    void pacing_data();
    void pacing();
    void pacingStopsWhenServiceSaysSo();
    void delayText_data();
    void delayText();
    void handoverRecordsInOrderAndBlocks();
    void handoverCancelReleasesWaitingWorker();
    void handoverReleasesEachWorkerAfterItsOwnLine();
};

void TestPacingHandover::pacing_data()
{
    QTest::addColumn<uint>("start");
    QTest::addColumn<int>("ms");
    QTest::addColumn<QList<int>>("wakes");
    QTest::addColumn<QList<int>>("requested");

    QTest::newRow("plain") << 1000u << 500 << QList<int>{} << QList<int>{500};
    QTest::newRow("early wakes do not lengthen")
        << 1000u << 500 << QList<int>{100, 200} << QList<int>{500, 400, 200};
    QTest::newRow("across the counter's wrap")
        << 0xFFFFFF00u << 500 << QList<int>{200, 250} << QList<int>{500, 300, 50};
    QTest::newRow("wake exactly at the wrap")
        << 0xFFFFFFF6u << 20 << QList<int>{10} << QList<int>{20, 10};
    QTest::newRow("zero returns at once") << 5u << 0 << QList<int>{} << QList<int>{};
    QTest::newRow("negative returns at once") << 5u << -300 << QList<int>{} << QList<int>{};
}

void TestPacingHandover::pacing()
{
    QFETCH(uint, start);
    QFETCH(int, ms);
    QFETCH(QList<int>, wakes);
    ManualTime ticks;
    ticks.jumpTo(start);
    ScriptedWaiter waiter(ticks);
    waiter.wakes = wakes;
    int serviced = 0;
    QVERIFY(pacingWait(ms, ticks, waiter, [&] {
        ++serviced;
        return true;
    }));
    QTEST(waiter.requested, "requested");
    QCOMPARE(serviced, wakes.size());
    QCOMPARE(tickDistance(start, ticks.now()), std::max(ms, 0));
}

void TestPacingHandover::pacingStopsWhenServiceSaysSo()
{
    ManualTime ticks;
    ScriptedWaiter waiter(ticks);
    waiter.wakes = {30, 30};
    QVERIFY(!pacingWait(1000, ticks, waiter, [] { return false; }));
    QCOMPARE(waiter.requested, QList<int>{1000});
    QCOMPARE(ticks.now(), 30u);
}

void TestPacingHandover::delayText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("delay");
    QTest::newRow("number") << "1500" << 1500;
    QTest::newRow("outside the range is used as typed") << "50000" << 50000;
    QTest::newRow("zero") << "0" << 0;
    QTest::newRow("negative") << "-20" << -20;
    QTest::newRow("leading blanks") << "  300" << 300;
    QTest::newRow("empty falls back") << "" << 700;
    QTest::newRow("letters fall back") << "12a" << 700;
    QTest::newRow("trailing blank falls back") << "300 " << 700;
    QTest::newRow("too large falls back") << "99999999999" << 700;
}

void TestPacingHandover::delayText()
{
    QFETCH(QString, text);
    EngineSettings settings;
    settings.setDelayFallback(700);
    settings.setDelayText(text);
    QTEST(settings.delayMs(), "delay");
}

void TestPacingHandover::handoverRecordsInOrderAndBlocks()
{
    QStringList recorded;
    std::atomic<int> delivered{0};
    ResultHandover handover([&](int slot, const QString& line) {
        // The worker must still be waiting while its line is being recorded.
        QCOMPARE(delivered.load(), recorded.size());
        recorded << QStringLiteral("%1:%2").arg(slot).arg(line);
    });
    std::atomic<int> refused{0};
    std::thread worker([&] {
        for (int i = 0; i < 20; ++i) {
            if (!handover.deliver(3, QString::number(i)))
                ++refused;
            ++delivered;
        }
    });
    QTRY_COMPARE_WITH_TIMEOUT(delivered.load(), 20, 5000);
    worker.join();
    QCOMPARE(refused.load(), 0);
    QCOMPARE(recorded.size(), 20);
    for (int i = 0; i < 20; ++i)
        QCOMPARE(recorded[i], QStringLiteral("3:%1").arg(i));
}

void TestPacingHandover::handoverCancelReleasesWaitingWorker()
{
    int recorded = 0;
    ResultHandover handover([&](int, const QString&) { ++recorded; });
    std::array<std::atomic<int>, 5> result{};
    std::vector<std::thread> workers;
    for (int slot = 0; slot < 5; ++slot) {
        result[slot] = -1;
        workers.emplace_back(
            [&, slot] { result[slot] = handover.deliver(slot, QStringLiteral("x")) ? 1 : 0; });
    }
    // The GUI thread processes no events (so the polling here runs none),
    // and the workers stay blocked until the handover is cancelled, which
    // releases every one of them.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (handover.waitingCalls() < 5 && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const int blocked = handover.waitingCalls();
    handover.cancelAll();
    for (auto& w : workers)
        w.join();
    QCOMPARE(blocked, 5);
    for (const auto& r : result)
        QCOMPARE(r.load(), 0);
    QCOMPARE(handover.waitingCalls(), 0);
    QCoreApplication::processEvents();
    QCOMPARE(recorded, 0); // a line handed over after cancellation is not recorded
    QVERIFY(!handover.deliver(0, QStringLiteral("y")));
}

// Five workers at once, as the five slots deliver: each is released when its
// own line is recorded, and each slot's lines keep their order.
void TestPacingHandover::handoverReleasesEachWorkerAfterItsOwnLine()
{
    constexpr int kLines = 40;
    std::array<std::atomic<int>, 5> delivered{};
    std::array<QStringList, 5> recorded;
    bool early = false;
    ResultHandover handover([&](int slot, const QString& line) {
        early = early || delivered[slot].load() != recorded[slot].size();
        recorded[slot] << line;
    });
    std::vector<std::thread> workers;
    for (int slot = 0; slot < 5; ++slot) {
        workers.emplace_back([&, slot] {
            for (int i = 0; i < kLines; ++i) {
                if (handover.deliver(slot, QString::number(i)))
                    ++delivered[slot];
            }
        });
    }
    QTRY_VERIFY_WITH_TIMEOUT(std::all_of(delivered.cbegin(), delivered.cend(),
                                         [](const auto& d) { return d.load() == kLines; }),
                             10000);
    for (auto& w : workers)
        w.join();
    QVERIFY(!early);
    for (const QStringList& lines : recorded) {
        QCOMPARE(lines.size(), kLines);
        for (int i = 0; i < kLines; ++i)
            QCOMPARE(lines[i], QString::number(i));
    }
}

QTEST_GUILESS_MAIN(TestPacingHandover)
#include "tst_pacing_handover.moc"
