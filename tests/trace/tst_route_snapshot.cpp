// Route snapshots against a scripted echo service (no network): each starts at
// once (up to one per host slot) and is reported with its own output; a
// silent route ends early, the hop limit holds; shutdown while probes wait
// ends at once and reports nothing.

#include "support/scripted_echo.h"
#include "trace/route_snapshot.h"

#include <QElapsedTimer>
#include <QtTest>

#include <map>

using namespace tarnwick;
using namespace tarnwick::test;

class TestRouteSnapshot : public QObject {
    Q_OBJECT
private slots:
    void eachAtOnceEachItsOwn();
    void aSilentRouteStopsAtTheHopLimit();
    void shutdownCutsAWaitingProbeShort();
};

void TestRouteSnapshot::eachAtOnceEachItsOwn()
{
    // 10.9.9.1 is everyone's first hop, slow to answer so that the traces
    // overlap; each target answers at hop 2.
    static const char* const targets[] = {"10.9.1.1", "10.9.1.2", "10.9.1.3", "10.9.1.4",
                                          "10.9.1.5", "10.9.1.6", "10.9.1.7"};
    auto echo = std::make_shared<ScriptedEchoService>([](const std::string& destination, int ttl,
                                                         int) -> EchoAnswer {
        return ttl == 1 ? replyFrom("10.9.9.1", 100) : replyFrom(targets[destination.back() - '1']);
    });
    std::map<std::uint64_t, QString> done;
    trace::RouteSnapshots snapshots(
        echo, [&done](std::uint64_t id, const QString& route) { done[id] = route; });
    for (int k = 1; k <= 7; ++k)
        snapshots.take(k, QStringLiteral("10.9.1.%1").arg(k));
    // One per host slot at once; the rest wait their turn.
    QCOMPARE(snapshots.running(), trace::RouteSnapshots::kMaxRunning);
    QCOMPARE(snapshots.queued(), std::size_t(2));
    QTRY_COMPARE_WITH_TIMEOUT(done.size(), std::size_t(7), 20000);
    for (const auto& [id, route] : done) {
        const QString target = QStringLiteral("10.9.1.%1").arg(id);
        QVERIFY2(route.startsWith(QStringLiteral("Tracing route to %1 [%1]\r\n"
                                                 "over of maximum 16 hops:\r\n")
                                      .arg(target)),
                 qPrintable(route));
        QVERIFY(route.contains(QStringLiteral("10.9.9.1\r\n")));
        QVERIFY(route.endsWith(target + QStringLiteral("\r\nTrace complete.\r\n")));
        QCOMPARE(route.count(QStringLiteral("Tracing route")), 1);
        QCOMPARE(route.count(QStringLiteral("10.9.1.")), 3);
    }
    QCOMPARE(snapshots.running(), std::size_t(0));
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
    QTRY_COMPARE_WITH_TIMEOUT(echo->echoesInFlight(), 2, 5000);
    QElapsedTimer clock;
    clock.start();
    snapshots.reset();
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(echo->cancelledEchoes(), 2);
    QCoreApplication::processEvents();
    QCOMPARE(reported, 0);
    QCOMPARE(echo->totalEchoes(), 2);
}

QTEST_GUILESS_MAIN(TestRouteSnapshot)
#include "tst_route_snapshot.moc"
