// Route snapshots against a scripted echo service (no network): one trace at
// a time, in order, each reported with its own output; the hop limit holds;
// shutdown while a probe waits ends at once and reports nothing.

#include "support/scripted_echo.h"

#include "trace/route_snapshot.h"

#include <QElapsedTimer>
#include <QtTest>

using namespace tarnwick;
using namespace tarnwick::test;

class TestRouteSnapshot : public QObject {
    Q_OBJECT
private slots:
    void oneAfterTheOther();
    void aSilentRouteStopsAtTheHopLimit();
    void shutdownCutsAWaitingProbeShort();
};

void TestRouteSnapshot::oneAfterTheOther()
{
    // 10.9.9.1 is the first hop of both; each target answers at hop 2.
    auto echo = std::make_shared<ScriptedEchoService>(
        [](const std::string& destination, int ttl, int) -> EchoAnswer {
            return ttl == 1 ? replyFrom("10.9.9.1")
                            : replyFrom(destination == "10.9.1.2" ? "10.9.1.2" : "10.9.2.2");
        });
    QList<std::pair<std::uint64_t, QString>> done;
    int runningWhenDone = -1;
    trace::RouteSnapshots* self = nullptr;
    trace::RouteSnapshots snapshots(echo, [&](std::uint64_t id, const QString& route) {
        done << std::make_pair(id, route);
        runningWhenDone = self->busy() ? 1 : 0;
    });
    self = &snapshots;
    snapshots.take(11, QStringLiteral("10.9.1.2"));
    snapshots.take(12, QStringLiteral("10.9.2.2"));
    QVERIFY(snapshots.busy());
    QCOMPARE(snapshots.queued(), std::size_t(1));
    QTRY_COMPARE_WITH_TIMEOUT(done.size(), 2, 10000);
    QCOMPARE(done[0].first, std::uint64_t(11));
    QCOMPARE(done[1].first, std::uint64_t(12));
    QVERIFY2(done[0].second.startsWith(QStringLiteral("Tracing route to 10.9.1.2 [10.9.1.2]\r\n"
                                                      "over of maximum 16 hops:\r\n")),
             qPrintable(done[0].second));
    QVERIFY(done[0].second.contains(QStringLiteral("10.9.9.1\r\n")));
    QVERIFY(done[0].second.endsWith(QStringLiteral("10.9.1.2\r\nTrace complete.\r\n")));
    QVERIFY(!done[1].second.contains(QStringLiteral("10.9.1.2")));
    QCOMPARE(done[0].second.count(QStringLiteral("Tracing route")), 1);
    // The first was done before the second began.
    QCOMPARE(runningWhenDone, 0);
}

void TestRouteSnapshot::aSilentRouteStopsAtTheHopLimit()
{
    // Hops 1 and 3 answer, the rest never: a silent hop between answering
    // ones does not end it, three in a row do; short of that, the hop limit.
    auto echo = std::make_shared<ScriptedEchoService>([](const std::string&, int ttl, int) {
        return ttl == 1 ? replyFrom("10.9.0.1") : ttl == 3 ? replyFrom("10.9.0.3") : noReply();
    });
    QStringList routes;
    trace::RouteSnapshots snapshots(
        echo, [&routes](std::uint64_t, const QString& route) { routes << route; });
    snapshots.take(1, QStringLiteral("10.9.9.9"));
    QTRY_COMPARE_WITH_TIMEOUT(routes.size(), 1, 10000);
    QCOMPARE(routes[0].count(QStringLiteral("Requested Timed out.")), 4);
    QVERIFY2(
        routes[0].endsWith(QStringLiteral("(3 hops in a row did not answer: stopped here)\r\n")),
        qPrintable(routes[0]));
    QCOMPARE(echo->totalEchoes(), 6 * 3);

    trace::RouteSnapshots shorter(
        echo, [&routes](std::uint64_t, const QString& route) { routes << route; }, 2);
    shorter.take(2, QStringLiteral("10.9.9.9"));
    QTRY_COMPARE_WITH_TIMEOUT(routes.size(), 2, 10000);
    QVERIFY(routes[1].endsWith(QStringLiteral("Requested Timed out.\r\nTrace complete.\r\n")));
}

void TestRouteSnapshot::shutdownCutsAWaitingProbeShort()
{
    auto echo = std::make_shared<ScriptedEchoService>(
        [](const std::string&, int, int) -> EchoAnswer { return blockUntilCancelled(); });
    int reported = 0;
    auto snapshots = std::make_unique<trace::RouteSnapshots>(
        echo, [&reported](std::uint64_t, const QString&) { ++reported; });
    snapshots->take(1, QStringLiteral("10.9.9.9"));
    snapshots->take(2, QStringLiteral("10.9.9.8"));
    QTRY_COMPARE_WITH_TIMEOUT(echo->echoesInFlight(), 1, 5000);
    QElapsedTimer clock;
    clock.start();
    snapshots.reset();
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(echo->cancelledEchoes(), 1);
    QCoreApplication::processEvents();
    QCOMPARE(reported, 0);
    QCOMPARE(echo->totalEchoes(), 1);
}

QTEST_GUILESS_MAIN(TestRouteSnapshot)
#include "tst_route_snapshot.moc"
