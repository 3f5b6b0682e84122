// Address texts, error texts, the canceller, and lookups that never leave
// this machine (literals and localhost only: no test here may ask DNS).

#include "platform/net/canceller.h"
#include "platform/net/resolver.h"

#include <QtTest>

#include <chrono>
#include <cstring>
#include <thread>

#include <netdb.h>

using namespace tarnwick::net;
using Clock = std::chrono::steady_clock;

class TestNetResolver : public QObject {
    Q_OBJECT

private slots:
    void parseAndFormat_data();
    void parseAndFormat();
    void errorTextsAreTrimmed();
    void literalsAndLocalhost_data();
    void literalsAndLocalhost();
    void reverseOfLoopback();
    void cancellerWakesWaiters();
};

void TestNetResolver::parseAndFormat_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("dotted") << "198.18.3.2" << true;
    QTest::newRow("zeros") << "0.0.0.0" << true;
    QTest::newRow("all ones") << "255.255.255.255" << true;
    QTest::newRow("part above 255") << "198.18.3.256" << false;
    QTest::newRow("three parts") << "10.0.1" << false;
    QTest::newRow("two parts") << "10.1" << false;
    QTest::newRow("one number") << "3232235777" << false;
    QTest::newRow("hexadecimal") << "0xc0.0xa8.0.1" << false;
    QTest::newRow("leading zero") << "010.0.0.1" << false;
    QTest::newRow("trailing blank") << "10.0.0.1 " << false;
    QTest::newRow("trailing dot") << "10.0.0.1." << false;
    QTest::newRow("empty") << "" << false;
}

void TestNetResolver::parseAndFormat()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    const auto a = parseIPv4(text.toStdString());
    QCOMPARE(a.has_value(), valid);
    if (valid) {
        QCOMPARE(QString::fromStdString(formatIPv4(*a)), text);
        // Network byte order: the first part is the lowest-addressed byte.
        unsigned char first = 0;
        std::memcpy(&first, &*a, 1);
        QCOMPARE(int(first), text.section(QLatin1Char('.'), 0, 0).toInt());
    }
}

void TestNetResolver::errorTextsAreTrimmed()
{
    auto trimmed = [](const std::string& s) {
        const unsigned char c = s.empty() ? 0 : static_cast<unsigned char>(s.back());
        return !s.empty() && c != ' ' && c != '.' && c >= 0x20 && c != 0x7f;
    };
    for (int e = 1; e < 134; ++e) {
        QVERIFY2(trimmed(errnoText(e)), qPrintable(QString::number(e)));
    }
    for (const int e : {EAI_AGAIN, EAI_BADFLAGS, EAI_FAIL, EAI_FAMILY, EAI_MEMORY, EAI_NONAME,
                        EAI_SERVICE, EAI_SOCKTYPE, EAI_SYSTEM}) {
        QVERIFY2(trimmed(lookupErrorText(e)), qPrintable(QString::number(e)));
    }
    for (const int e : {HOST_NOT_FOUND, TRY_AGAIN, NO_RECOVERY, NO_DATA}) {
        QVERIFY2(trimmed(hostErrorText(e)), qPrintable(QString::number(e)));
    }
    QCOMPARE(errnoText(ENETUNREACH), std::string("Network is unreachable"));
}

void TestNetResolver::literalsAndLocalhost_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("expected"); // empty: refused
    QTest::newRow("localhost") << "localhost"
                               << "127.0.0.1";
    QTest::newRow("localhost with blanks") << "\tlocalhost "
                                           << "127.0.0.1";
    QTest::newRow("literal") << "192.0.2.7"
                             << "192.0.2.7";
    QTest::newRow("literal with blanks") << " 192.0.2.7\n"
                                         << "192.0.2.7";
    // Forms the C library would take as numbers itself; refused before.
    QTest::newRow("two parts") << "127.1"
                               << "";
    QTest::newRow("one number") << "2130706433"
                                << "";
    QTest::newRow("octal part") << "0177.0.0.1"
                                << "";
}

void TestNetResolver::literalsAndLocalhost()
{
    QFETCH(QString, host);
    QFETCH(QString, expected);
    Canceller cancel;
    const Canceller* const cancellers[] = {nullptr, &cancel};
    for (const Canceller* c : cancellers) {
        const LookupResult r = resolveIPv4(host.toStdString(), c);
        QCOMPARE(r.address ? QString::fromStdString(formatIPv4(*r.address)) : QString(), expected);
        QVERIFY(!r.cancelled);
        QCOMPARE(r.errorText.empty(), !expected.isEmpty());
    }
}

void TestNetResolver::reverseOfLoopback()
{
    const auto name = reverseLookup(*parseIPv4("127.0.0.1"));
    QVERIFY(name);
    QCOMPARE(*name, std::string("localhost"));
}

void TestNetResolver::cancellerWakesWaiters()
{
    Canceller c;
    QVERIFY(!c.isCancelled());
    const auto t0 = Clock::now();
    QVERIFY(!c.waitFor(30));
    QVERIFY(Clock::now() - t0 >= std::chrono::milliseconds(30));

    bool woke = false;
    Clock::time_point wokeAt;
    std::thread waiter([&] {
        woke = c.waitFor(10000);
        wokeAt = Clock::now();
    });
    const auto cancelledAt = Clock::now();
    c.cancel();
    waiter.join();
    QVERIFY(woke);
    QVERIFY(wokeAt - cancelledAt < std::chrono::milliseconds(100));
    // It stays cancelled, for every later wait, until reset.
    QVERIFY(c.isCancelled());
    QVERIFY(c.waitFor(10000));
    c.cancel();
    c.reset();
    QVERIFY(!c.isCancelled());
}

QTEST_GUILESS_MAIN(TestNetResolver)
#include "tst_net_resolver.moc"
