// The client's side of the helper stream, against a stand-in helper that
// sends nothing and claims whatever round trip the test asks for.

#include "platform/net/echo_backends.h"
#include "platform/net/resolver.h"

#include <QtTest>

using namespace tarnwick::net;

Q_DECLARE_METATYPE(tarnwick::net::EchoFailure)

class TestNetHelperClient : public QObject {
    Q_OBJECT
private slots:
    void roundTripsBeyondTheTimeOutAreTimeOuts_data();
    void roundTripsBeyondTheTimeOutAreTimeOuts();
};

void TestNetHelperClient::roundTripsBeyondTheTimeOutAreTimeOuts_data()
{
    QTest::addColumn<int>("claimedMs"); // the stand-in's round trip
    QTest::addColumn<EchoFailure>("failure");
    QTest::newRow("quick") << 3 << EchoFailure::None;
    QTest::newRow("the whole time-out") << 100 << EchoFailure::None;
    QTest::newRow("past the time-out") << 101 << EchoFailure::TimedOut;
    QTest::newRow("largest figure") << 0xffff << EchoFailure::TimedOut;
}

// A replaced helper once made the log read "time=4294967295 ms": a figure no
// echo within its time-out can have counts as that time-out, as on the
// socket paths.
void TestNetHelperClient::roundTripsBeyondTheTimeOutAreTimeOuts()
{
    QFETCH(int, claimedMs);
    QFETCH(EchoFailure, failure);
    int error = 0;
    const auto handle = openHelperEcho(TARNWICK_FAKE_HELPER_PATH, &error);
    QVERIFY2(handle, qPrintable(QString::number(error)));
    EchoRequest request;
    request.destination = parseIPv4("198.18.3.2").value_or(0);
    request.dataSize = static_cast<std::uint16_t>(claimedMs);
    request.timeoutMs = 100;
    const std::uint64_t started = helperProcessesStarted();
    const EchoResult result = handle->echo(request);
    QCOMPARE(result.failure, failure);
    QCOMPARE(result.reply.has_value(), failure == EchoFailure::None);
    if (result.reply)
        QCOMPARE(result.reply->roundTripMs, std::uint32_t(claimedMs));
    // The same helper goes on answering.
    request.dataSize = 1;
    QVERIFY(handle->echo(request).reply);
    QCOMPARE(helperProcessesStarted(), started);
}

QTEST_GUILESS_MAIN(TestNetHelperClient)
#include "tst_net_helper_client.moc"
