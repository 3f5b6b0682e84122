// The five ping workers driven through the engine, with the echo service and
// the resolver replaced by doubles so that timing and outcomes are the test's.

#include "support/scripted_echo.h"

#include "engine/monitor_engine.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

using namespace tarnwick;
using namespace tarnwick::engine;
using tarnwick::test::EchoAnswer;
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
                  lines.push_back({slot, line, clock.elapsed()});
              },
              echo)
    {
        clock.start();
        engine.setResolver([this](const std::string& host, const net::Canceller* c) {
            return echo->resolve(host, c);
        });
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

    QElapsedTimer clock;
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
    QTest::qWait(450);
    QCOMPARE(rig.echo->totalEchoes(), 0);

    const qint64 started = rig.clock.elapsed();
    rig.engine.toggleRun();
    QTRY_VERIFY_WITH_TIMEOUT(!rig.lines.empty(), 2000);
    // A polling worker notices the flag within one 200 ms poll.
    QVERIFY2(rig.lines.front().at - started <= 350,
             qPrintable(QString::number(rig.lines.front().at - started)));
    QCOMPARE(rig.lines.front().slot, 0);
    QCOMPARE(rig.lines.front().line, QStringLiteral("Reply from a bytes=32 time=5 ms"));
    for (int slot = 1; slot < 5; ++slot)
        QCOMPARE(rig.count(slot), 0);
}

void TestPingWorker::stopLetsOneMoreLineThrough()
{
    Rig rig;
    rig.echo->addHost("a", {EchoAnswer::Reply, 1, 0, 150});
    rig.engine.settings().setHosts({QStringLiteral("a")});
    rig.engine.settings().setDelayText(QStringLiteral("200"));
    rig.engine.toggleRun();
    rig.engine.startWorkers();
    QTRY_VERIFY_WITH_TIMEOUT(rig.count(0) >= 2, 3000);
    // Stop while an echo is (most likely) under way.
    QTRY_COMPARE_WITH_TIMEOUT(rig.echo->echoesInFlight(), 1, 2000);
    rig.engine.toggleRun();
    const int atStop = rig.count(0);
    QTest::qWait(900);
    QVERIFY(rig.count(0) <= atStop + 1);
    QVERIFY(rig.count(0) >= atStop);
}

void TestPingWorker::stopThenStartWithinPacingLeavesNoGap()
{
    Rig rig;
    rig.echo->addHost("a", {EchoAnswer::Reply, 1, 0, 0});
    rig.engine.settings().setHosts({QStringLiteral("a")});
    rig.engine.settings().setDelayText(QStringLiteral("600"));
    rig.engine.toggleRun();
    rig.engine.startWorkers();
    QTRY_VERIFY_WITH_TIMEOUT(rig.count(0) >= 1, 2000);
    const qint64 first = rig.lines.back().at;
    rig.engine.toggleRun();
    rig.engine.toggleRun();
    QTRY_VERIFY_WITH_TIMEOUT(rig.count(0) >= 2, 3000);
    const qint64 gap = rig.lines.back().at - first;
    // Falling back to polling would add at least one 200 ms poll.
    QVERIFY2(gap >= 590 && gap < 760, qPrintable(QString::number(gap)));
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
    QTRY_VERIFY_WITH_TIMEOUT(rig.count(0) >= 3 && rig.count(4) >= 3, 3000);
    for (int slot = 0; slot < 5; ++slot) {
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
    QTRY_VERIFY_WITH_TIMEOUT(rig.count(0) >= 4 && rig.count(2) >= 4, 3000);
    QCOMPARE(rig.count(1), 0);
    QCOMPARE(rig.count(3), 0);
    QCOMPARE(rig.count(4), 0);
    QCOMPARE(rig.echo->lookups(), rig.count(0) + rig.count(2));
}

void TestPingWorker::unresolvableHostFailsAtOnce()
{
    Rig rig;
    rig.engine.settings().setHosts({QStringLiteral("nosuch.invalid")});
    rig.engine.settings().setTimeout(10000);
    rig.engine.settings().setDelayText(QStringLiteral("200"));
    rig.engine.toggleRun();
    rig.engine.startWorkers();
    QTRY_VERIFY_WITH_TIMEOUT(rig.count(0) >= 3, 3000);
    for (const QString& line : rig.linesOf(0))
        QCOMPARE(line, QStringLiteral("Destination host unreachable."));
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
    QTRY_VERIFY_WITH_TIMEOUT(rig.count(0) >= 2, 3000);
    rig.engine.shutdown();
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
    QTRY_VERIFY_WITH_TIMEOUT(rig.count(0) >= 50, 3000);
    // Fifty attempts well inside the time one 200 ms poll each would take.
    QVERIFY(rig.lines[49].at - rig.lines[0].at < 2000);
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
    QTRY_COMPARE_WITH_TIMEOUT(rig.echo->echoesInFlight(), 1, 2000);
    rig.engine.settings().setHosts({QStringLiteral("new")});
    QTRY_VERIFY_WITH_TIMEOUT(rig.count(0) >= 2, 3000);
    QCOMPARE(rig.linesOf(0).at(0), QStringLiteral("Reply from old bytes=32 time=9 ms"));
    QCOMPARE(rig.linesOf(0).at(1), QStringLiteral("Reply from new bytes=32 time=4 ms"));
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
    QTRY_COMPARE_WITH_TIMEOUT(rig.echo->echoesInFlight(), 5, 2000);
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
    QTRY_VERIFY_WITH_TIMEOUT(rig.count(0) >= 5 && rig.count(1) >= 5, 3000);
    QTRY_COMPARE(spy.count(), 1);
    QCoreApplication::processEvents();
    QCOMPARE(spy.count(), 1);
    for (const auto& r : rig.lines)
        QCOMPARE(r.line, QStringLiteral("Requested Timed out."));
}

QTEST_GUILESS_MAIN(TestPingWorker)
#include "tst_ping_worker.moc"
