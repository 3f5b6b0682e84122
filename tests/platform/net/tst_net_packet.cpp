// Echo packets and reply matching on crafted bytes, without any network.

#include "platform/net/packet.h"
#include "platform/net/resolver.h"

#include <QtTest>

#include <cerrno>
#include <ctime> // linux/errqueue.h needs struct timespec
#include <initializer_list>

#include <linux/errqueue.h>

using namespace tarnwick::net;

Q_DECLARE_METATYPE(tarnwick::net::MatchKind)

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t ip(const char* dotted)
{
    return parseIPv4(dotted).value_or(0);
}

void put16(Bytes& b, std::size_t at, std::uint16_t v)
{
    b[at] = static_cast<std::uint8_t>(v >> 8);
    b[at + 1] = static_cast<std::uint8_t>(v);
}

void putAddress(Bytes& b, std::size_t at, std::uint32_t a)
{
    std::memcpy(&b[at], &a, 4);
}

// An ICMP message with a correct checksum: type, code, the 4 bytes after the
// checksum, then body.
Bytes icmpMessage(std::uint8_t type, std::uint8_t code, std::uint16_t id, std::uint16_t seq,
                  const Bytes& body = {})
{
    Bytes m{type, code, 0, 0, 0, 0, 0, 0};
    put16(m, 4, id);
    put16(m, 6, seq);
    m.insert(m.end(), body.begin(), body.end());
    put16(m, 2, internetChecksum(m));
    return m;
}

// An IPv4 datagram around payload; optionWords adds that many 4-byte words
// of options (NOPs) to the header.
Bytes ipDatagram(const char* source, const char* destination, const Bytes& payload,
                 int optionWords = 0, std::uint8_t protocol = 1)
{
    const std::size_t header = 20 + 4 * static_cast<std::size_t>(optionWords);
    Bytes d(header, 0);
    d[0] = static_cast<std::uint8_t>(0x40 | (header / 4));
    put16(d, 2, static_cast<std::uint16_t>(header + payload.size()));
    d[8] = 64;
    d[9] = protocol;
    putAddress(d, 12, ip(source));
    putAddress(d, 16, ip(destination));
    for (std::size_t i = 20; i < header; ++i) {
        d[i] = 1; // NOP
    }
    d.insert(d.end(), payload.begin(), payload.end());
    return d;
}

// What a router sends back: its error quoting our request's IP header (with
// quotedOptionWords of options) and the first 8 bytes of our echo header.
Bytes icmpErrorFor(std::uint8_t type, std::uint8_t code, const char* router, const char* target,
                   std::uint16_t id, std::uint16_t seq, int quotedOptionWords = 0,
                   int outerOptionWords = 0)
{
    Bytes request = ipDatagram("198.18.1.2", target, icmpMessage(8, 0, id, seq, Bytes(32, 0)),
                               quotedOptionWords);
    request.resize(request.size() - 32); // header and 8 bytes, as routers quote
    return ipDatagram(router, "198.18.1.2", icmpMessage(type, code, 0, 0, request),
                      outerOptionWords);
}

const EchoExpectation kExpected{ip("198.18.3.2"), 0x1234, 77};

} // namespace

class TestNetPacket : public QObject {
    Q_OBJECT

private slots:
    void checksum_data();
    void checksum();
    void echoRequest();
    void statusTable_data();
    void statusTable();
    void rawPackets_data();
    void rawPackets();
    void datagramReplies_data();
    void datagramReplies();
    void datagramErrors_data();
    void datagramErrors();
};

void TestNetPacket::checksum_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("expected");
    auto b = [](std::initializer_list<int> v) {
        QByteArray a;
        for (const int x : v) {
            a.append(static_cast<char>(x));
        }
        return a;
    };
    // RFC 1071's worked example: the sum is ddf2, so the checksum is 220d.
    QTest::newRow("rfc 1071 example")
        << b({0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7}) << 0x220d;
    QTest::newRow("empty") << QByteArray() << 0xffff;
    QTest::newRow("odd length pads with zero") << b({0x01}) << 0xfeff;
    QTest::newRow("carries fold back in") << b({0xff, 0xff, 0xff, 0xff}) << 0x0000;
    QTest::newRow("carry from the odd byte") << b({0xff, 0xff, 0x01}) << 0xfeff;
    QTest::newRow("echo header, id 1 seq 1") << b({8, 0, 0, 0, 0, 1, 0, 1}) << 0xf7fd;
}

void TestNetPacket::checksum()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, expected);
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    QCOMPARE(int(internetChecksum({data, std::size_t(bytes.size())})), expected);
}

void TestNetPacket::echoRequest()
{
    for (const std::uint16_t size : {std::uint16_t{0}, std::uint16_t{1}, std::uint16_t{32}}) {
        const Bytes p = buildEchoRequest(0xbeef, 0x0102, size);
        QCOMPARE(p.size(), std::size_t(8 + size));
        QCOMPARE(int(p[0]), 8);
        QCOMPARE(int(p[1]), 0);
        QCOMPARE(int(p[4]), 0xbe);
        QCOMPARE(int(p[5]), 0xef);
        QCOMPARE(int(p[6]), 0x01);
        QCOMPARE(int(p[7]), 0x02);
        QVERIFY(std::all_of(p.begin() + 8, p.end(), [](std::uint8_t x) { return x == 0; }));
        QCOMPARE(int(internetChecksum(p)), 0);
    }
}

void TestNetPacket::statusTable_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("status");
    const int rows[][3] = {
        {0, 0, 0},      {3, 0, 11002},  {3, 6, 11002},  {3, 9, 11002},  {3, 11, 11002},
        {3, 1, 11003},  {3, 7, 11003},  {3, 10, 11003}, {3, 12, 11003}, {3, 13, 11003},
        {3, 14, 11003}, {3, 15, 11003}, {3, 8, 11003},  {3, 2, 11004},  {3, 3, 11005},
        {3, 4, 11009},  {3, 5, 11012},  {11, 0, 11013}, {11, 1, 11014}, {12, 0, 11015},
        {12, 1, 11015}, {4, 0, 11016},  {3, 16, 11050}, {11, 2, 11050}, {5, 0, 11050},
        {13, 0, 11050},
    };
    for (const auto& r : rows) {
        QTest::addRow("%d/%d", r[0], r[1]) << r[0] << r[1] << r[2];
    }
}

void TestNetPacket::statusTable()
{
    QFETCH(int, type);
    QFETCH(int, code);
    QFETCH(int, status);
    QCOMPARE(int(statusForIcmp(type, code)), status);
}

void TestNetPacket::rawPackets_data()
{
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<MatchKind>("kind");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("address");

    auto q = [](const Bytes& b) {
        return QByteArray(reinterpret_cast<const char*>(b.data()), int(b.size()));
    };
    const Bytes reply =
        ipDatagram("198.18.3.2", "198.18.1.2", icmpMessage(0, 0, 0x1234, 77, Bytes(32, 0)));

    QTest::newRow("our reply") << q(reply) << MatchKind::Reply << 0 << "198.18.3.2";
    QTest::newRow("our reply without data")
        << q(ipDatagram("198.18.3.2", "198.18.1.2", icmpMessage(0, 0, 0x1234, 77)))
        << MatchKind::Reply << 0 << "198.18.3.2";
    QTest::newRow("reply with IP options")
        << q(ipDatagram("198.18.3.2", "198.18.1.2", icmpMessage(0, 0, 0x1234, 77), 2))
        << MatchKind::Reply << 0 << "198.18.3.2";
    Bytes padded = reply;
    padded.insert(padded.end(), 6, 0xaa); // link-layer padding after the datagram
    QTest::newRow("trailing padding ignored") << q(padded) << MatchKind::Reply << 0 << "198.18.3.2";
    QTest::newRow("foreign identifier")
        << q(ipDatagram("198.18.3.2", "198.18.1.2", icmpMessage(0, 0, 0x1235, 77)))
        << MatchKind::Unrelated << 0 << "";
    QTest::newRow("older sequence")
        << q(ipDatagram("198.18.3.2", "198.18.1.2", icmpMessage(0, 0, 0x1234, 76)))
        << MatchKind::Unrelated << 0 << "";
    QTest::newRow("reply from another host")
        << q(ipDatagram("198.18.3.9", "198.18.1.2", icmpMessage(0, 0, 0x1234, 77)))
        << MatchKind::WrongSource << 0 << "";
    Bytes corrupt = reply;
    corrupt.back() ^= 0x01;
    QTest::newRow("bad checksum") << q(corrupt) << MatchKind::BadChecksum << 0 << "";
    QTest::newRow("our own request (loopback)")
        << q(ipDatagram("198.18.1.2", "198.18.3.2", icmpMessage(8, 0, 0x1234, 77)))
        << MatchKind::Unrelated << 0 << "";
    QTest::newRow("not ICMP") << q(ipDatagram("198.18.3.2", "198.18.1.2",
                                              icmpMessage(0, 0, 0x1234, 77), 0, 17))
                              << MatchKind::Unrelated << 0 << "";
    QTest::newRow("shorter than an IP header")
        << q(Bytes(reply.begin(), reply.begin() + 19)) << MatchKind::Truncated << 0 << "";
    QTest::newRow("cut inside the ICMP header")
        << q(Bytes(reply.begin(), reply.begin() + 26)) << MatchKind::Truncated << 0 << "";
    Bytes badIhl = reply;
    badIhl[0] = 0x44;
    QTest::newRow("header length below 20") << q(badIhl) << MatchKind::Truncated << 0 << "";
    Bytes v6 = reply;
    v6[0] = 0x65;
    QTest::newRow("not IPv4") << q(v6) << MatchKind::Truncated << 0 << "";

    QTest::newRow("ttl exceeded from a router")
        << q(icmpErrorFor(11, 0, "198.18.1.1", "198.18.3.2", 0x1234, 77)) << MatchKind::IcmpError
        << 11013 << "198.18.1.1";
    QTest::newRow("host unreachable")
        << q(icmpErrorFor(3, 1, "198.18.2.2", "198.18.3.2", 0x1234, 77)) << MatchKind::IcmpError
        << 11003 << "198.18.2.2";
    QTest::newRow("options in the quoted header")
        << q(icmpErrorFor(3, 0, "198.18.2.2", "198.18.3.2", 0x1234, 77, 3)) << MatchKind::IcmpError
        << 11002 << "198.18.2.2";
    QTest::newRow("options in the outer header")
        << q(icmpErrorFor(11, 0, "198.18.2.2", "198.18.3.2", 0x1234, 77, 0, 1))
        << MatchKind::IcmpError << 11013 << "198.18.2.2";
    QTest::newRow("parameter problem")
        << q(icmpErrorFor(12, 0, "198.18.2.2", "198.18.3.2", 0x1234, 77)) << MatchKind::IcmpError
        << 11015 << "198.18.2.2";
    QTest::newRow("error for another destination")
        << q(icmpErrorFor(3, 1, "198.18.2.2", "198.18.3.50", 0x1234, 77)) << MatchKind::Unrelated
        << 0 << "";
    QTest::newRow("error for a foreign identifier")
        << q(icmpErrorFor(11, 0, "198.18.1.1", "198.18.3.2", 0x4321, 77)) << MatchKind::Unrelated
        << 0 << "";
    QTest::newRow("error for an older sequence")
        << q(icmpErrorFor(11, 0, "198.18.1.1", "198.18.3.2", 0x1234, 76)) << MatchKind::Unrelated
        << 0 << "";
    Bytes quotesReply = ipDatagram("198.18.1.2", "198.18.3.2", icmpMessage(0, 0, 0x1234, 77));
    QTest::newRow("error quoting a reply, not a request")
        << q(ipDatagram("198.18.2.2", "198.18.1.2", icmpMessage(3, 1, 0, 0, quotesReply)))
        << MatchKind::Unrelated << 0 << "";
    Bytes shortQuote = icmpErrorFor(11, 0, "198.18.1.1", "198.18.3.2", 0x1234, 77);
    shortQuote.resize(shortQuote.size() - 4);
    put16(shortQuote, 2, static_cast<std::uint16_t>(shortQuote.size()));
    put16(shortQuote, 22, 0);
    {
        Bytes icmp(shortQuote.begin() + 20, shortQuote.end());
        put16(shortQuote, 22, internetChecksum(icmp));
    }
    QTest::newRow("quote without the whole echo header")
        << q(shortQuote) << MatchKind::Truncated << 0 << "";
    Bytes quoteWithOptions = icmpErrorFor(11, 0, "198.18.1.1", "198.18.3.2", 0x1234, 77, 2);
    // Quoted header claims more options than were quoted.
    quoteWithOptions[28] = 0x4f;
    {
        put16(quoteWithOptions, 22, 0);
        Bytes icmp(quoteWithOptions.begin() + 20, quoteWithOptions.end());
        put16(quoteWithOptions, 22, internetChecksum(icmp));
    }
    QTest::newRow("quoted header longer than the quote")
        << q(quoteWithOptions) << MatchKind::Truncated << 0 << "";
    // Advice to the sender, not a failure of the request: the wait goes on.
    QTest::newRow("redirect") << q(icmpErrorFor(5, 1, "198.18.1.1", "198.18.3.2", 0x1234, 77))
                              << MatchKind::Advisory << 0 << "";
    QTest::newRow("source quench") << q(icmpErrorFor(4, 0, "198.18.2.2", "198.18.3.2", 0x1234, 77))
                                   << MatchKind::Advisory << 0 << "";
    QTest::newRow("redirect for a foreign identifier")
        << q(icmpErrorFor(5, 1, "198.18.1.1", "198.18.3.2", 0x4321, 77)) << MatchKind::Unrelated
        << 0 << "";
    QTest::newRow("information request quoting ours")
        << q(icmpErrorFor(15, 0, "198.18.1.1", "198.18.3.2", 0x1234, 77)) << MatchKind::Unrelated
        << 0 << "";
}

void TestNetPacket::rawPackets()
{
    QFETCH(QByteArray, packet);
    QFETCH(MatchKind, kind);
    QFETCH(int, status);
    QFETCH(QString, address);
    const auto* data = reinterpret_cast<const std::uint8_t*>(packet.constData());
    const Match m = matchRawPacket({data, std::size_t(packet.size())}, kExpected);
    QCOMPARE(m.kind, kind);
    QCOMPARE(m.completes(), !address.isEmpty());
    if (m.completes()) {
        QCOMPARE(int(m.status), status);
        QCOMPARE(QString::fromStdString(formatIPv4(m.address)), address);
    }
}

void TestNetPacket::datagramReplies_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("from");
    QTest::addColumn<MatchKind>("kind");
    auto q = [](const Bytes& b) {
        return QByteArray(reinterpret_cast<const char*>(b.data()), int(b.size()));
    };
    QTest::newRow("ours") << q(icmpMessage(0, 0, 0x1234, 77, Bytes(32, 0))) << "198.18.3.2"
                          << MatchKind::Reply;
    QTest::newRow("forged source")
        << q(icmpMessage(0, 0, 0x1234, 77)) << "198.18.10.99" << MatchKind::WrongSource;
    QTest::newRow("older sequence")
        << q(icmpMessage(0, 0, 0x1234, 76)) << "198.18.3.2" << MatchKind::Unrelated;
    QTest::newRow("foreign identifier")
        << q(icmpMessage(0, 0, 0x1200, 77)) << "198.18.3.2" << MatchKind::Unrelated;
    QTest::newRow("not a reply") << q(icmpMessage(8, 0, 0x1234, 77)) << "198.18.3.2"
                                 << MatchKind::Unrelated;
    QTest::newRow("cut short") << q(Bytes{0, 0, 0, 0, 0x12, 0x34, 0}) << "198.18.3.2"
                               << MatchKind::Truncated;
}

void TestNetPacket::datagramReplies()
{
    QFETCH(QByteArray, message);
    QFETCH(QString, from);
    QFETCH(MatchKind, kind);
    const auto* data = reinterpret_cast<const std::uint8_t*>(message.constData());
    const Match m =
        matchDatagramReply({data, std::size_t(message.size())}, ip(qPrintable(from)), kExpected);
    QCOMPARE(m.kind, kind);
    if (kind == MatchKind::Reply) {
        QCOMPARE(m.status, std::uint32_t{0});
        QCOMPARE(m.address, ip("198.18.3.2"));
    }
}

void TestNetPacket::datagramErrors_data()
{
    QTest::addColumn<int>("origin");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("sentTo");
    QTest::addColumn<int>("quotedSeq"); // -1: nothing quoted
    QTest::addColumn<MatchKind>("kind");
    QTest::addColumn<int>("status");

    const int icmp = SO_EE_ORIGIN_ICMP;
    const int local = SO_EE_ORIGIN_LOCAL;
    QTest::newRow("ttl exceeded") << icmp << 11 << 0 << "198.18.3.2" << 77 << MatchKind::IcmpError
                                  << 11013;
    QTest::newRow("net unreachable")
        << icmp << 3 << 0 << "198.18.3.2" << 77 << MatchKind::IcmpError << 11002;
    QTest::newRow("parameter problem")
        << icmp << 12 << 0 << "198.18.3.2" << 77 << MatchKind::IcmpError << 11015;
    // The kernel queues these too; they end nothing.
    QTest::newRow("redirect") << icmp << 5 << 1 << "198.18.3.2" << 77 << MatchKind::Advisory << 0;
    QTest::newRow("source quench")
        << icmp << 4 << 0 << "198.18.3.2" << 77 << MatchKind::Advisory << 0;
    QTest::newRow("redirect for an older attempt")
        << icmp << 5 << 1 << "198.18.3.2" << 76 << MatchKind::Unrelated << 0;
    QTest::newRow("for another destination")
        << icmp << 3 << 1 << "198.18.3.50" << 77 << MatchKind::Unrelated << 0;
    QTest::newRow("for an older attempt")
        << icmp << 11 << 0 << "198.18.3.2" << 76 << MatchKind::Unrelated << 0;
    QTest::newRow("quote cut short")
        << icmp << 11 << 0 << "198.18.3.2" << -1 << MatchKind::Truncated << 0;
    QTest::newRow("local error") << local << 0 << 0 << "198.18.3.2" << -1 << MatchKind::LocalError
                                 << 0;
    QTest::newRow("local error, other destination")
        << local << 0 << 0 << "198.18.3.50" << -1 << MatchKind::Unrelated << 0;
    QTest::newRow("other origin") << int(SO_EE_ORIGIN_TIMESTAMPING) << 0 << 0 << "198.18.3.2" << 77
                                  << MatchKind::Unrelated << 0;
}

void TestNetPacket::datagramErrors()
{
    QFETCH(int, origin);
    QFETCH(int, type);
    QFETCH(int, code);
    QFETCH(QString, sentTo);
    QFETCH(int, quotedSeq);
    QFETCH(MatchKind, kind);
    QFETCH(int, status);

    ErrorQueueEntry entry;
    entry.origin = static_cast<std::uint8_t>(origin);
    entry.type = static_cast<std::uint8_t>(type);
    entry.code = static_cast<std::uint8_t>(code);
    entry.error = EMSGSIZE;
    entry.offender = ip("198.18.1.1");
    entry.sentTo = ip(qPrintable(sentTo));
    Bytes quoted;
    if (quotedSeq >= 0) {
        quoted = icmpMessage(8, 0, 0x1234, static_cast<std::uint16_t>(quotedSeq), Bytes(32, 0));
    } else if (origin == SO_EE_ORIGIN_ICMP) {
        quoted = Bytes{8, 0, 0, 0, 0x12};
    }
    const Match m = matchDatagramError(entry, quoted, kExpected);
    QCOMPARE(m.kind, kind);
    if (kind == MatchKind::IcmpError) {
        QCOMPARE(int(m.status), status);
        QCOMPARE(m.address, ip("198.18.1.1"));
    }
    if (kind == MatchKind::LocalError) {
        QCOMPARE(m.error, EMSGSIZE);
    }
}

QTEST_GUILESS_MAIN(TestNetPacket)
#include "tst_net_packet.moc"
