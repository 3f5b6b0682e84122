// The echo helper's frames: what it accepts, what it refuses, and that both
// sides read what the other wrote.

#include "platform/net/helper_protocol.h"
#include "platform/net/resolver.h"

#include <QtTest>

using namespace tarnwick::net;

Q_DECLARE_METATYPE(tarnwick::net::RequestCheck)

namespace {

HelperRequest valid()
{
    HelperRequest r;
    r.destination = parseIPv4("198.18.3.2").value_or(0);
    r.dataSize = 32;
    r.ttl = 3;
    r.timeoutMs = 2000;
    r.id = 0x01020304;
    return r;
}

} // namespace

class TestNetHelperProtocol : public QObject {
    Q_OBJECT

private slots:
    void requestRoundTrip();
    void abandonFrame();
    void requestValidation_data();
    void requestValidation();
    void responses_data();
    void responses();
};

void TestNetHelperProtocol::requestRoundTrip()
{
    const HelperRequest sent = valid();
    const HelperRequestFrame frame = encodeHelperRequest(sent);
    // The destination travels in network order, as its four bytes.
    QCOMPARE(int(frame[8]), 198);
    QCOMPARE(int(frame[11]), 2);
    HelperRequest got;
    QCOMPARE(decodeHelperRequest(frame, got), RequestCheck::Ok);
    QCOMPARE(got.destination, sent.destination);
    QCOMPARE(got.dataSize, sent.dataSize);
    QCOMPARE(got.ttl, sent.ttl);
    QCOMPARE(got.timeoutMs, sent.timeoutMs);
    QCOMPARE(got.id, sent.id);
    QCOMPARE(got.kind, HelperRequestKind::Echo);
}

// Only its id counts: what else it carries would be refused in a request.
void TestNetHelperProtocol::abandonFrame()
{
    HelperRequest abandon;
    abandon.kind = HelperRequestKind::Abandon;
    abandon.id = 0xfedcba98;
    abandon.ttl = 999;
    abandon.timeoutMs = 0;
    HelperRequest got = valid();
    QCOMPARE(decodeHelperRequest(encodeHelperRequest(abandon), got), RequestCheck::Ok);
    QCOMPARE(got.kind, HelperRequestKind::Abandon);
    QCOMPARE(got.id, abandon.id);
    QCOMPARE(got.destination, 0u);
    // An echo request with the same fields is refused.
    abandon.kind = HelperRequestKind::Echo;
    QCOMPARE(decodeHelperRequest(encodeHelperRequest(abandon), got), RequestCheck::BadTtl);
}

void TestNetHelperProtocol::requestValidation_data()
{
    QTest::addColumn<QString>("destination");
    QTest::addColumn<int>("dataSize");
    QTest::addColumn<int>("ttl");
    QTest::addColumn<qint64>("timeoutMs");
    QTest::addColumn<int>("corruptByte"); // -1: none; else that byte gets 0xff
    QTest::addColumn<RequestCheck>("check");

    QTest::newRow("valid") << "198.18.3.2" << 32 << 3 << qint64(2000) << -1 << RequestCheck::Ok;
    QTest::newRow("loopback") << "127.0.0.1" << 32 << 0 << qint64(2000) << -1 << RequestCheck::Ok;
    QTest::newRow("no data, ttl 255, longest wait")
        << "198.18.3.2" << 0 << 255 << qint64(kHelperMaxTimeoutMs) << -1 << RequestCheck::Ok;
    QTest::newRow("largest data") << "198.18.3.2" << int(kHelperMaxDataSize) << 0 << qint64(1) << -1
                                  << RequestCheck::Ok;
    QTest::newRow("last unicast before multicast")
        << "223.255.255.254" << 32 << 0 << qint64(2000) << -1 << RequestCheck::Ok;
    QTest::newRow("magic") << "198.18.3.2" << 32 << 0 << qint64(2000) << 0
                           << RequestCheck::BadFrame;
    QTest::newRow("frame size") << "198.18.3.2" << 32 << 0 << qint64(2000) << 5
                                << RequestCheck::BadFrame;
    QTest::newRow("unknown kind") << "198.18.3.2" << 32 << 0 << qint64(2000) << 14
                                  << RequestCheck::BadKind;
    QTest::newRow("ttl 256") << "198.18.3.2" << 32 << 256 << qint64(2000) << -1
                             << RequestCheck::BadTtl;
    QTest::newRow("0.0.0.0") << "0.0.0.0" << 32 << 0 << qint64(2000) << -1
                             << RequestCheck::BadDestination;
    QTest::newRow("0.255.0.1") << "0.255.0.1" << 32 << 0 << qint64(2000) << -1
                               << RequestCheck::BadDestination;
    QTest::newRow("multicast") << "224.0.0.1" << 32 << 0 << qint64(2000) << -1
                               << RequestCheck::BadDestination;
    QTest::newRow("reserved block")
        << "240.0.0.1" << 32 << 0 << qint64(2000) << -1 << RequestCheck::BadDestination;
    QTest::newRow("broadcast") << "255.255.255.255" << 32 << 0 << qint64(2000) << -1
                               << RequestCheck::BadDestination;
    QTest::newRow("data too big") << "198.18.3.2" << int(kHelperMaxDataSize) + 1 << 0
                                  << qint64(2000) << -1 << RequestCheck::BadDataSize;
    QTest::newRow("no time-out") << "198.18.3.2" << 32 << 0 << qint64(0) << -1
                                 << RequestCheck::BadTimeout;
    QTest::newRow("time-out too long") << "198.18.3.2" << 32 << 0 << qint64(kHelperMaxTimeoutMs) + 1
                                       << -1 << RequestCheck::BadTimeout;
    QTest::newRow("time-out wraps negative")
        << "198.18.3.2" << 32 << 0 << qint64(0xffffffff) << -1 << RequestCheck::BadTimeout;
}

void TestNetHelperProtocol::requestValidation()
{
    QFETCH(QString, destination);
    QFETCH(int, dataSize);
    QFETCH(int, ttl);
    QFETCH(qint64, timeoutMs);
    QFETCH(int, corruptByte);
    QFETCH(RequestCheck, check);

    HelperRequest r;
    r.destination = parseIPv4(destination.toStdString()).value_or(0);
    r.dataSize = static_cast<std::uint16_t>(dataSize);
    r.ttl = static_cast<std::uint16_t>(ttl);
    r.timeoutMs = static_cast<std::uint32_t>(timeoutMs);
    r.id = 0x0badf00d;
    HelperRequestFrame frame = encodeHelperRequest(r);
    if (corruptByte >= 0) {
        frame[std::size_t(corruptByte)] = 0xff;
    }
    HelperRequest out;
    out.timeoutMs = 4242;
    QCOMPARE(decodeHelperRequest(frame, out), check);
    if (check != RequestCheck::Ok) {
        QCOMPARE(out.timeoutMs, std::uint32_t{4242}); // left alone
    }
    // A refusal answers the request it refuses; only a frame out of step has
    // no id to trust.
    if (check != RequestCheck::BadFrame) {
        QCOMPARE(out.id, r.id);
    }
}

void TestNetHelperProtocol::responses_data()
{
    QTest::addColumn<int>("outcome");
    QTest::addColumn<bool>("magicIntact");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("reply") << int(HelperOutcome::Reply) << true << true;
    QTest::newRow("ready") << int(HelperOutcome::Ready) << true << true;
    QTest::newRow("rejected") << int(HelperOutcome::Rejected) << true << true;
    QTest::newRow("abandoned") << int(HelperOutcome::Abandoned) << true << true;
    QTest::newRow("outcome 0") << 0 << true << false;
    QTest::newRow("outcome past the last") << int(HelperOutcome::Abandoned) + 1 << true << false;
    QTest::newRow("foreign magic") << int(HelperOutcome::Reply) << false << false;
}

void TestNetHelperProtocol::responses()
{
    QFETCH(int, outcome);
    QFETCH(bool, magicIntact);
    QFETCH(bool, accepted);
    HelperResponse sent;
    sent.outcome = static_cast<HelperOutcome>(outcome);
    sent.status = 11013;
    sent.roundTripMs = 150;
    sent.address = parseIPv4("198.18.1.1").value_or(0);
    sent.error = 101;
    sent.id = 0x80000001;
    sent.heldUs = 9876;
    HelperResponseFrame frame = encodeHelperResponse(sent);
    if (!magicIntact) {
        frame[3] ^= 0x01;
    }
    const auto got = decodeHelperResponse(frame);
    QCOMPARE(got.has_value(), accepted);
    if (accepted) {
        QCOMPARE(int(got->outcome), outcome);
        QCOMPARE(got->status, sent.status);
        QCOMPARE(got->roundTripMs, sent.roundTripMs);
        QCOMPARE(got->address, sent.address);
        QCOMPARE(got->error, sent.error);
        QCOMPARE(got->id, sent.id);
        QCOMPARE(got->heldUs, sent.heldUs);
    }
}

QTEST_GUILESS_MAIN(TestNetHelperProtocol)
#include "tst_net_helper_protocol.moc"
