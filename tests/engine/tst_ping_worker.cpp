// The five ping workers driven through the engine, with the echo service and
// the resolver replaced by doubles and the workers' time by a manual clock, so
// that timing and outcomes are the test's.

#include "engine/monitor_engine.h"
#include "support/manual_time.h"
#include "support/scripted_echo.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

using namespace tarnwick;
using namespace tarnwick::engine;
using tarnwick::test::EchoAnswer;
using tarnwick::test::ManualTime;
using tarnwick::test::ScriptedEchoService;

namespace {

struct Recorded {
    int slot;
    QString line;
    qint64 at;
};

class Rig {
public:
    Rig()
        : echo(std::make_shared<ScriptedEchoService>()),
          engine(
              [this](int slot, const QString& line) {
                  lines.push_back({slot, line, time.elapsed()});
              },
              echo,
              [this](const std::string& host, const net::Canceller* c) {
                  return echo->resolve(host, c);
              },
              &time)
    {
        echo->useClock(&time);
        engine.settings().setDelayText(QStringLiteral("1000"));
        engine.settings().setTimeout(2000);
    }
    int count(int slot) const
    {
        return static_cast<int>(std::count_if(
            lines.begin(), lines.end(), [slot](const Recorded& r) { return r.slot == slot; }));
    }
    QStringList linesOf(int slot) const
    {
        QStringList out;
        for (const auto& r : lines)
            if (r.slot == slot)
                out << r.line;
        return out;
    }

    // Moves the workers' time on and lets them run up to their next waits
    // (pacing, or an echo held on the clock).
    bool step(qint64 ms, int threads = 5)
    {
        time.advance(ms);
        return QTest::qWaitFor([&] { return time.settled(threads); }, 5000);
    }
    // The first poll, then `steps` attempts `delay` apart.
    bool attempts(int steps, qint64 delay)
    {
        if (!step(0) || !step(TNewThread::kPollMs))
            return false;
        for (int i = 1; i < steps; ++i)
            if (!step(delay))
                return false;
        return true;
    }

    ManualTime time;
    std::vector<Recorded> lines;
    std::shared_ptr<ScriptedEchoService> echo;
    MonitorEngine engine;
};

} // namespace

class TestPingWorker : public QObject {
    Q_OBJECT
private slots:
    void pollsWhileStoppedThenPings();
    void stopLetsOneMoreLineThrough();
    void stopThenStartWithinPacingLeavesNoGap();
    void onlyTheFirstFiveEntriesAreMonitored();
    void missingOrEmptyEntriesMakeNoAttempt();
    void unresolvableHostFailsAtOnce();
    void namesLongerThanAnyHostNameAreNeverLookedUp_data();
    void namesLongerThanAnyHostNameAreNeverLookedUp();
    void delayOfZeroPingsBackToBack();
    void lineNamesTheHostThatWasPinged();
    void exitCutsShortAnEchoInFlight();
    void missingPermissionIsReportedOnce();
};

void TestPingWorker::pollsWhileStoppedThenPings()
{
    Rig rig;
    rig.echo->addHost("a", {EchoAnswer::Reply, 5, 0, 0});
    rig.engine.settings().setHosts({QStringLiteral("a")});
    rig.engine.startWorkers();
    QCOMPARE(rig.engine.workerCount(), 5);
    QVERIFY(rig.step(0));
    QVERIFY(rig.step(200));
    QVERIFY(rig.step(250));
    QCOMPARE(rig.echo->totalEchoes(), 0);

    // The polls now end at 650: the flag is noticed there, not before.
    rig.engine.toggleRun();
    QVERIFY(rig.step(199));
    QVERIFY(rig.lines.empty());
    QVERIFY(rig.step(1));
    QCOMPARE(int(rig.lines.size()), 1);
    QCOMPARE(rig.lines.front().at, qint64{650});
    QCOMPARE(rig.lines.front().slot, 0);
    QCOMPARE(rig.lines.front().line, QStringLiteral("Reply from a bytes=32 time=5 ms"));
}

void TestPingWorker::stopLetsOneMoreLineThrough()
{
    Rig rig;
    rig.echo->addHost("a", {EchoAnswer::Reply, 1, 0, 150});
    rig.engine.settings().setHosts({QStringLiteral("a")});
    rig.engine.settings().setDelayText(QStringLiteral("200"));
    rig.engine.toggleRun();
    rig.engine.startWorkers();
    QVERIFY(rig.step(0));
    QVERIFY(rig.step(200));
    QVERIFY(rig.step(150));
    QVERIFY(rig.step(200));
    QCOMPARE(rig.count(0), 1);
    // Stop while the second echo is under way: it still gives its line.
    QCOMPARE(rig.echo->echoesInFlight(), 1);
    rig.engine.toggleRun();
    QVERIFY(rig.step(150));
    QCOMPARE(rig.count(0), 2);
    for (int i = 0; i < 10; ++i)
        QVERIFY(rig.step(100));
    QCOMPARE(rig.count(0), 2);
    QCOMPARE(rig.echo->totalEchoes(), 2);
}

void TestPingWorker::stopThenStartWithinPacingLeavesNoGap()
{
    Rig rig;
    rig.echo->addHost("a", {EchoAnswer::Reply, 1, 0, 0});
    rig.engine.settings().setHosts({QStringLiteral("a")});
    rig.engine.settings().setDelayText(QStringLiteral("600"));
    rig.engine.toggleRun();
    rig.engine.startWorkers();
    QVERIFY(rig.step(0));
    QVERIFY(rig.step(200));
    QCOMPARE(rig.count(0), 1);
    rig.engine.toggleRun();
    QVERIFY(rig.step(100));
    rig.engine.toggleRun();
    // Falling back to polling would add at least one 200 ms poll.
    QVERIFY(rig.step(499));
    QCOMPARE(rig.count(0), 1);
    QVERIFY(rig.step(1));
    QCOMPARE(rig.count(0), 2);
    QCOMPARE(rig.lines.back().at - rig.lines.front().at, qint64{600});
}

void TestPingWorker::onlyTheFirstFiveEntriesAreMonitored()
{
    Rig rig;
    QStringList hosts;
    for (const char* h : {"a", "b", "c", "d", "e", "f", "g"}) {
        rig.echo->addHost(h, {EchoAnswer::Reply, 3, 0, 0});
        hosts << QLatin1String(h);
    }
    rig.engine.settings().setHosts(hosts);
    rig.engine.settings().setDelayText(QStringLiteral("100"));
    rig.engine.toggleRun();
    rig.engine.startWorkers();
    QVERIFY(rig.attempts(3, 100));
    for (int slot = 0; slot < 5; ++slot) {
        QCOMPARE(rig.count(slot), 3);
        const QString expected =
            QStringLiteral("Reply from %1 bytes=32 time=3 ms").arg(hosts[slot]);
        for (const QString& line : rig.linesOf(slot))
            QCOMPARE(line, expected);
    }
    QCOMPARE(rig.echo->echoCount("f"), 0);
    QCOMPARE(rig.echo->echoCount("g"), 0);
}

void TestPingWorker::missingOrEmptyEntriesMakeNoAttempt()
{
    Rig rig;
    rig.echo->addHost("a", {EchoAnswer::Reply, 2, 0, 0});
    rig.engine.settings().setHosts({QStringLiteral("a"), QString(), QStringLiteral("a")});
    rig.engine.settings().setDelayText(QStringLiteral("100"));
    rig.engine.toggleRun();
    rig.engine.startWorkers();
    QVERIFY(rig.attempts(4, 100));
    QCOMPARE(rig.count(0), 4);
    QCOMPARE(rig.count(2), 4);
    QCOMPARE(rig.count(1), 0);
    QCOMPARE(rig.count(3), 0);
    QCOMPARE(rig.count(4), 0);
    QCOMPARE(rig.echo->lookups(), 8);
}

void TestPingWorker::unresolvableHostFailsAtOnce()
{
    Rig rig;
    rig.engine.settings().setHosts({QStringLiteral("nosuch.invalid")});
    rig.engine.settings().setTimeout(10000);
    rig.engine.settings().setDelayText(QStringLiteral("200"));
    rig.engine.toggleRun();
    rig.engine.startWorkers();
    QVERIFY(rig.attempts(3, 200));
    QCOMPARE(rig.count(0), 3);
    // Each line at the attempt's own time: nothing waited for the time-out.
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(rig.lines[i].at, qint64{200 + 200 * i});
        QCOMPARE(rig.lines[i].line, QStringLiteral("Destination host unreachable."));
    }
    QCOMPARE(rig.echo->totalEchoes(), 0);
}

void TestPingWorker::namesLongerThanAnyHostNameAreNeverLookedUp_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("lookedUp");
    const QString longest(253, QLatin1Char('a'));
    QTest::newRow("253 characters") << longest << true;
    QTest::newRow("254 characters") << longest + QLatin1Char('a') << false;
    QTest::newRow("a line of a huge file") << QString(1 << 22, QLatin1Char('a')) << false;
    // The resolver trims blanks; they make no name longer.
    QTest::newRow("253 characters among blanks")
        << QStringLiteral(" \t") + longest + QString(100, QLatin1Char(' ')) << true;
}

// A name no DNS name can be is unresolvable as it stands: converting and
// looking up a 100 MB entry once a second held a core and a gigabyte.
void TestPingWorker::namesLongerThanAnyHostNameAreNeverLookedUp()
{
    QFETCH(QString, entry);
    QFETCH(bool, lookedUp);
    Rig rig;
    rig.echo->addHost(entry.toStdString(), {EchoAnswer::Reply, 1, 0, 0});
    rig.engine.settings().setHosts({entry});
    rig.engine.settings().setDelayText(QStringLiteral("200"));
    rig.engine.toggleRun();
    rig.engine.startWorkers();
    QVERIFY(rig.attempts(2, 200));
    rig.engine.shutdown();
    QCOMPARE(rig.count(0), 2);
    const QString expected = lookedUp
                                 ? QStringLiteral("Reply from %1 bytes=32 time=1 ms").arg(entry)
                                 : QStringLiteral("Destination host unreachable.");
    for (const QString& line : rig.linesOf(0))
        QCOMPARE(line, expected);
    QCOMPARE(rig.echo->lookups() > 0, lookedUp);
}

void TestPingWorker::delayOfZeroPingsBackToBack()
{
    Rig rig;
    rig.echo->addHost("a", {EchoAnswer::Reply, 0, 0, 0});
    rig.engine.settings().setHosts({QStringLiteral("a")});
    rig.engine.settings().setDelayText(QStringLiteral("0"));
    rig.engine.toggleRun();
    rig.engine.startWorkers();
    QVERIFY(rig.step(0));
    rig.time.advance(TNewThread::kPollMs);
    // Fifty attempts while the clock stands still.
    QTRY_VERIFY_WITH_TIMEOUT(rig.count(0) >= 50, 5000);
    QCOMPARE(rig.lines[49].at, qint64{TNewThread::kPollMs});
    // The four slots without a host wait a poll each instead of spinning.
    QTRY_COMPARE_WITH_TIMEOUT(rig.time.waiting(), 4, 5000);
    QCOMPARE(rig.count(1) + rig.count(2) + rig.count(3) + rig.count(4), 0);
}

void TestPingWorker::lineNamesTheHostThatWasPinged()
{
    Rig rig;
    rig.echo->addHost("old", {EchoAnswer::Reply, 9, 0, 300});
    rig.echo->addHost("new", {EchoAnswer::Reply, 4, 0, 0});
    rig.engine.settings().setHosts({QStringLiteral("old")});
    rig.engine.settings().setDelayText(QStringLiteral("100"));
    rig.engine.toggleRun();
    rig.engine.startWorkers();
    QVERIFY(rig.attempts(1, 100));
    QCOMPARE(rig.echo->echoesInFlight(), 1);
    rig.engine.settings().setHosts({QStringLiteral("new")});
    QVERIFY(rig.step(300));
    QVERIFY(rig.step(100));
    QCOMPARE(rig.linesOf(0), QStringList({QStringLiteral("Reply from old bytes=32 time=9 ms"),
                                          QStringLiteral("Reply from new bytes=32 time=4 ms")}));
}

void TestPingWorker::exitCutsShortAnEchoInFlight()
{
    Rig rig;
    QStringList hosts;
    for (const char* h : {"a", "b", "c", "d", "e"}) {
        rig.echo->addHost(h, {EchoAnswer::TimeOut, 0, 0, 0});
        hosts << QLatin1String(h);
    }
    rig.engine.settings().setHosts(hosts);
    rig.engine.settings().setTimeout(10000);
    rig.engine.toggleRun();
    rig.engine.startWorkers();
    QVERIFY(rig.attempts(1, 0));
    QCOMPARE(rig.echo->echoesInFlight(), 5);
    QElapsedTimer t;
    t.start();
    rig.engine.shutdown();
    QVERIFY2(t.elapsed() < 500, qPrintable(QString::number(t.elapsed())));
    QCOMPARE(rig.engine.workerCount(), 0);
    QCOMPARE(rig.echo->cancelledEchoes(), 5);
    QCoreApplication::processEvents();
    QVERIFY(rig.lines.empty());
    QVERIFY(!rig.engine.isRunning());
}

void TestPingWorker::missingPermissionIsReportedOnce()
{
    Rig rig;
    rig.echo->addHost("a", {EchoAnswer::NotPermitted, 0, 0, 0});
    rig.echo->addHost("b", {EchoAnswer::NotPermitted, 0, 0, 0});
    QSignalSpy spy(&rig.engine, &MonitorEngine::echoNotPermitted);
    rig.engine.settings().setHosts({QStringLiteral("a"), QStringLiteral("b")});
    rig.engine.settings().setDelayText(QStringLiteral("50"));
    rig.engine.toggleRun();
    rig.engine.startWorkers();
    QVERIFY(rig.attempts(5, 50));
    QCOMPARE(rig.count(0), 5);
    QCOMPARE(rig.count(1), 5);
    QTRY_COMPARE(spy.count(), 1);
    QCoreApplication::processEvents();
    QCOMPARE(spy.count(), 1);
    for (const auto& r : rig.lines)
        QCOMPARE(r.line, QStringLiteral("Requested Timed out."));
}

QTEST_GUILESS_MAIN(TestPingWorker)
#include "tst_ping_worker.moc"
