// Name lookups against the rig's private hosts file and its silent name
// server: answer order, refused numeric forms, failures that must not wait
// long, cancellation, and lookups from many threads.

#include "platform/net/canceller.h"
#include "platform/net/resolver.h"
#include "rig/rig_support.h"

#include <QtTest>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include <netdb.h>

using namespace tarnwick::net;
using namespace tarnwick::rig;
using Clock = std::chrono::steady_clock;

namespace {

long long msSince(Clock::time_point t0)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}

// UDP datagrams this namespace has sent: every DNS query shows up here.
std::uint64_t udpDatagramsSent()
{
    std::ifstream f("/proc/net/snmp");
    std::string header;
    std::string values;
    while (std::getline(f, header)) {
        if (header.rfind("Udp:", 0) == 0 && std::getline(f, values)) {
            std::istringstream names(header);
            std::istringstream numbers(values);
            std::string name;
            std::string number;
            while (names >> name && numbers >> number) {
                if (name == "OutDatagrams") {
                    return std::stoull(number);
                }
            }
        }
    }
    return 0;
}

bool waitForUdpSent(std::uint64_t above, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    Canceller idle;
    while (Clock::now() < deadline) {
        if (udpDatagramsSent() > above) {
            return true;
        }
        idle.waitFor(2);
    }
    return false;
}

QString text(const std::optional<std::uint32_t>& a)
{
    return a ? QString::fromStdString(formatIPv4(*a)) : QStringLiteral("(none)");
}

bool isTrimmed(const std::string& s)
{
    if (s.empty()) {
        return false;
    }
    const unsigned char c = static_cast<unsigned char>(s.back());
    return c != ' ' && c != '.' && c >= 0x20 && c != 0x7f;
}

} // namespace

class TestResolverRig : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void forward_data();
    void forward();
    void keepsTheResolversOrder();
    void refusedWithoutAskingAnyone_data();
    void refusedWithoutAskingAnyone();
    void unknownNameFailsWithinTheResolverTimeout();
    void reverse_data();
    void reverse();
    void hostsFileOfTheTest();
    void cancelReturnsAtOnce();
    void manyThreads();
};

void TestResolverRig::initTestCase()
{
    QVERIFY2(insideRig(), "run through tests/rig/rig.sh: these tests need its private names");
}

void TestResolverRig::forward_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("expected");
    QTest::newRow("name") << kTargetName << kTarget;
    QTest::newRow("router") << kRouter1Name << kRouter1;
    QTest::newRow("any letter case") << "TARGET.Tarnwick.Test" << kTarget;
    QTest::newRow("localhost") << "localhost"
                               << "127.0.0.1";
    QTest::newRow("literal") << "198.18.3.53"
                             << "198.18.3.53";
    QTest::newRow("literal with blanks around") << " 198.18.3.53\t"
                                                << "198.18.3.53";
    QTest::newRow("name with blanks around") << QString(" %1 ").arg(kTargetName) << kTarget;
}

void TestResolverRig::forward()
{
    QFETCH(QString, host);
    QFETCH(QString, expected);
    const LookupResult r = resolveIPv4(host.toStdString());
    QCOMPARE(text(r.address), expected);
    QVERIFY(!r.cancelled);
    Canceller cancel;
    QCOMPARE(text(resolveIPv4(host.toStdString(), &cancel).address), expected);
}

void TestResolverRig::keepsTheResolversOrder()
{
    // The hosts file lists 198.18.3.2 first; a sorting resolver puts
    // 198.18.10.2 first, as it shares a longer prefix with one of ours.
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_RAW;
    addrinfo* sorted = nullptr;
    QCOMPARE(getaddrinfo(kTwoAddressName, nullptr, &hints, &sorted), 0);
    const auto* first = reinterpret_cast<const sockaddr_in*>(sorted->ai_addr);
    const std::string sortedFirst = formatIPv4(first->sin_addr.s_addr);
    freeaddrinfo(sorted);
    QVERIFY2(sortedFirst == kResponder, "the rig no longer tells the two orders apart");

    QCOMPARE(text(resolveIPv4(kTwoAddressName).address), QString(kTarget));
}

void TestResolverRig::refusedWithoutAskingAnyone_data()
{
    QTest::addColumn<QString>("host");
    QTest::newRow("two parts") << "10.1";
    QTest::newRow("three parts") << "127.0.1";
    QTest::newRow("one number") << "2130706433";
    QTest::newRow("hexadecimal") << "0x7f000001";
    QTest::newRow("octal part") << "010.1.1.1";
    QTest::newRow("five parts") << "1.2.3.4.5";
    QTest::newRow("part too big") << "256.1.1.1";
    QTest::newRow("empty") << "";
    QTest::newRow("blanks") << "  ";
    QTest::newRow("256 characters") << QString(256, QLatin1Char('a'));
}

void TestResolverRig::refusedWithoutAskingAnyone()
{
    QFETCH(QString, host);
    const std::uint64_t queries = udpDatagramsSent();
    const auto t0 = Clock::now();
    const LookupResult r = resolveIPv4(host.toStdString());
    QVERIFY2(!r.address, qPrintable(text(r.address)));
    QVERIFY(isTrimmed(r.errorText));
    QVERIFY(msSince(t0) < 100);
    QCOMPARE(udpDatagramsSent(), queries);
}

void TestResolverRig::unknownNameFailsWithinTheResolverTimeout()
{
    const std::uint64_t echoes = icmpEchoRequestsSent();
    const std::uint64_t queries = udpDatagramsSent();
    const auto t0 = Clock::now();
    const LookupResult r = resolveIPv4("nowhere.tarnwick.test");
    const long long elapsed = msSince(t0);
    QVERIFY(!r.address);
    QVERIFY2(isTrimmed(r.errorText), r.errorText.c_str());
    // One query to the silent server with "timeout:1 attempts:1".
    QVERIFY(udpDatagramsSent() > queries);
    QVERIFY2(elapsed < 3000, qPrintable(QString::number(elapsed)));
    QCOMPARE(icmpEchoRequestsSent(), echoes);
}

void TestResolverRig::reverse_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("expected"); // empty: no name
    QTest::newRow("first name of the first line") << kTarget << kTargetName;
    QTest::newRow("router") << kRouter2 << kRouter2Name;
    QTest::newRow("loopback") << "127.0.0.1"
                              << "localhost";
    QTest::newRow("no name anywhere") << "198.18.99.99"
                                      << "";
}

void TestResolverRig::reverse()
{
    QFETCH(QString, address);
    QFETCH(QString, expected);
    const auto a = parseIPv4(address.toStdString());
    QVERIFY(a);
    const auto name = reverseLookup(*a);
    QCOMPARE(name ? QString::fromStdString(*name) : QString(), expected);
}

void TestResolverRig::hostsFileOfTheTest()
{
    HostsFileOverride hosts("127.0.0.1 localhost\n198.18.2.2 Unknown\n198.18.1.1 hop-one\n");
    QVERIFY(hosts.ok());
    QCOMPARE(reverseLookup(*parseIPv4(kRouter2)).value_or(""), std::string("Unknown"));
    QCOMPARE(text(resolveIPv4("hop-one").address), QString(kRouter1));
}

void TestResolverRig::cancelReturnsAtOnce()
{
    Canceller cancel;
    // Cancelled before the call: nothing is asked.
    cancel.cancel();
    std::uint64_t queries = udpDatagramsSent();
    QVERIFY(resolveIPv4("early.tarnwick.test", &cancel).cancelled);
    QVERIFY(!reverseLookup(*parseIPv4("198.18.99.98"), &cancel));
    QCOMPARE(udpDatagramsSent(), queries);
    cancel.reset();

    // In flight: the query to the silent server is out, the caller goes.
    for (const bool forward : {true, false}) {
        queries = udpDatagramsSent();
        LookupResult result;
        std::optional<std::string> name{"unset"};
        Clock::time_point returned;
        std::thread caller([&] {
            if (forward) {
                result = resolveIPv4("slow.tarnwick.test", &cancel);
            } else {
                name = reverseLookup(*parseIPv4("198.18.99.97"), &cancel);
            }
            returned = Clock::now();
        });
        const bool asked = waitForUdpSent(queries, 2000);
        const auto cancelledAt = Clock::now();
        cancel.cancel();
        caller.join();
        cancel.reset();
        QVERIFY(asked);
        const auto late =
            std::chrono::duration_cast<std::chrono::milliseconds>(returned - cancelledAt).count();
        QVERIFY2(late < 100, qPrintable(QString::number(late)));
        if (forward) {
            QVERIFY(result.cancelled);
            QVERIFY(!result.address);
        } else {
            QVERIFY(!name);
        }
    }
}

void TestResolverRig::manyThreads()
{
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&wrong, t] {
            Canceller cancel;
            for (int i = 0; i < 50; ++i) {
                const bool useCanceller = (i + t) % 2 == 0;
                const auto a = resolveIPv4(kRouter2Name, useCanceller ? &cancel : nullptr).address;
                const auto n = reverseLookup(*parseIPv4(kTarget), useCanceller ? &cancel : nullptr);
                if (!a || formatIPv4(*a) != kRouter2 || n.value_or("") != kTargetName) {
                    ++wrong;
                }
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    QCOMPARE(wrong.load(), 0);
}

QTEST_GUILESS_MAIN(TestResolverRig)
#include "tst_resolver_rig.moc"
