// Statistics and the texts built from them.

#include "engine/result_line.h"
#include "engine/slot_stats.h"

#include <QtTest>

using namespace tarnwick;
using namespace tarnwick::engine;

namespace {
QString reply(int ms)
{
    return replyLine(QStringLiteral("router"), static_cast<std::uint32_t>(ms));
}
} // namespace

class TestSlotStats : public QObject {
    Q_OBJECT
private slots:
    void sequences_data();
    void sequences();
    void lossRounding_data();
    void lossRounding();
    void roundTripParsing_data();
    void roundTripParsing();
    void averageDivisorFromLogLineCount();
    void resetStartsMinimumAtTimeout();
    void summaryTexts();
    void decimalSeparatorFollowsLocale_data();
    void decimalSeparatorFollowsLocale();
    void resultLines_data();
    void resultLines();
};

// Each row: the lines recorded in order, then the expected figures.
void TestSlotStats::sequences_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("sent");
    QTest::addColumn<int>("received");
    QTest::addColumn<int>("lost");
    QTest::addColumn<QString>("loss");
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("average");

    const QString timedOut = kTimedOutLine;
    const QString unreachable = kUnreachableLine;
    QTest::newRow("first reply 20 ms")
        << QStringList{reply(20)} << 1 << 1 << 0 << "0" << 20 << 20 << 20;
    QTest::newRow("10, lost, 30") << QStringList{reply(10), timedOut, reply(30)} << 3 << 2 << 1
                                  << "33.33" << 10 << 30 << 20;
    QTest::newRow("only lost") << QStringList{timedOut, unreachable, timedOut} << 3 << 0 << 3
                               << "100" << -1 << 0 << 0;
    QTest::newRow("7 and 8 truncate")
        << QStringList{reply(7), reply(8)} << 2 << 2 << 0 << "0" << 7 << 8 << 7;
    QTest::newRow("unreachable keeps times") << QStringList{reply(40), unreachable, reply(20)} << 3
                                             << 2 << 1 << "33.33" << 20 << 40 << 30;
    QTest::newRow("sub-millisecond")
        << QStringList{reply(0), reply(0)} << 2 << 2 << 0 << "0" << 0 << 0 << 0;
    // "Reply" anywhere counts as received, but yields no time without "time=... ms".
    QTest::newRow("odd line with Reply")
        << QStringList{QStringLiteral("Reply pending")} << 1 << 1 << 0 << "0" << -1 << 0 << 0;
    QTest::newRow("case-sensitive Reply") << QStringList{QStringLiteral("reply from x time=5 ms")}
                                          << 1 << 0 << 1 << "100" << 5 << 5 << 0;
}

void TestSlotStats::sequences()
{
    QFETCH(QStringList, lines);
    SlotStats stats;
    int count = 0;
    for (const QString& line : lines)
        applyResult(stats, line, ++count);
    QTEST(stats.sent, "sent");
    QTEST(stats.received, "received");
    QTEST(stats.lost, "lost");
    QTEST(formatLoss(stats.loss, QLocale::c()), "loss");
    QTEST(stats.minimum, "minimum");
    QTEST(stats.maximum, "maximum");
    QTEST(stats.average, "average");
}

void TestSlotStats::lossRounding_data()
{
    QTest::addColumn<int>("lost");
    QTest::addColumn<int>("sent");
    QTest::addColumn<QString>("shown");
    QTest::newRow("1/800 tie to even") << 1 << 800 << "0.12";
    QTest::newRow("3/800") << 3 << 800 << "0.38";
    QTest::newRow("5/800") << 5 << 800 << "0.62";
    QTest::newRow("7/800") << 7 << 800 << "0.88";
    QTest::newRow("1/3") << 1 << 3 << "33.33";
    QTest::newRow("2/3") << 2 << 3 << "66.67";
    QTest::newRow("1/8") << 1 << 8 << "12.5";
    QTest::newRow("none") << 0 << 17 << "0";
    QTest::newRow("all") << 9 << 9 << "100";
    QTest::newRow("1/10") << 1 << 10 << "10";
    QTest::newRow("1/7") << 1 << 7 << "14.29";
    QTest::newRow("1 in a million") << 1 << 1000000 << "0";
    QTest::newRow("1/200") << 1 << 200 << "0.5";
}

void TestSlotStats::lossRounding()
{
    QFETCH(int, lost);
    QFETCH(int, sent);
    QTEST(formatLoss(lossPercent(lost, sent), QLocale::c()), "shown");

    // The same figure reached by recording lines one by one.
    SlotStats stats;
    for (int i = 0; i < sent; ++i)
        applyResult(stats, i < lost ? kTimedOutLine : reply(1), i + 1);
    QTEST(formatLoss(stats.loss, QLocale::c()), "shown");
}

void TestSlotStats::roundTripParsing_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("expected"); // -2: no time
    QTest::newRow("reply") << reply(15) << 15;
    QTest::newRow("zero") << reply(0) << 0;
    QTest::newRow("large") << reply(9999) << 9999;
    QTest::newRow("no time") << kTimedOutLine << -2;
    QTest::newRow("no ms") << "Reply from a bytes=32 time=15" << -2;
    QTest::newRow("empty number") << "time= ms" << -2;
    QTest::newRow("not a number") << "time=1x5 ms" << -2;
    QTest::newRow("fraction") << "time=1.5 ms" << -2;
    QTest::newRow("first time= wins") << "Reply from time=host bytes=32 time=15 ms" << -2;
    QTest::newRow("ms must follow time=") << " ms then time=12 ms" << 12;
    QTest::newRow("msec suffix still ends at ' ms'") << "time=12 msec" << 12;
    QTest::newRow("overflow") << "time=99999999999 ms" << -2;
}

void TestSlotStats::roundTripParsing()
{
    QFETCH(QString, line);
    QFETCH(int, expected);
    const auto v = parseRoundTrip(line);
    if (expected == -2)
        QVERIFY2(!v, qPrintable(QString::number(v.value_or(0))));
    else
        QCOMPARE(v.value_or(-100), expected);
}

void TestSlotStats::averageDivisorFromLogLineCount()
{
    // Lines typed into the log join the divisor; a divisor of zero keeps the
    // previous average instead of failing.
    SlotStats stats;
    applyResult(stats, reply(10), 1);
    QCOMPARE(stats.average, 10);
    applyResult(stats, kTimedOutLine, 1); // a line was deleted by hand: 1 - 1 lost = 0
    QCOMPARE(stats.average, 10);
    applyResult(stats, reply(30), 5); // three typed lines: 40 / (5 - 1)
    QCOMPARE(stats.average, 10);
    applyResult(stats, reply(50), 3); // 90 / 2
    QCOMPARE(stats.average, 45);
}

void TestSlotStats::resetStartsMinimumAtTimeout()
{
    SlotStats stats;
    applyResult(stats, reply(5), 1);
    applyResult(stats, kTimedOutLine, 2);
    resetStats(stats, 2000);
    QCOMPARE(stats.sent, 0);
    QCOMPARE(stats.lost, 0);
    QCOMPARE(stats.loss, 0.0);
    QCOMPARE(stats.sum, 0);
    QCOMPARE(timingSummary(stats),
             QStringLiteral("Minimum = 2000 ms\rMaximum = 0 ms\rAverage = 0 ms"));
    applyResult(stats, kTimedOutLine, 1);
    QCOMPARE(stats.minimum, 2000); // not back at -1
    applyResult(stats, reply(35), 2);
    QCOMPARE(stats.minimum, 35);
    QCOMPARE(stats.maximum, 35);
    // A reply above the time-out after a reset leaves the minimum at the time-out.
    resetStats(stats, 50);
    applyResult(stats, reply(80), 1);
    QCOMPARE(stats.minimum, 50);
    QCOMPARE(stats.maximum, 80);
}

void TestSlotStats::summaryTexts()
{
    QCOMPARE(initialPacketSummary(),
             QStringLiteral("Packets send = 0\rPackets recived = 0\rPackets lost = 0\rLoss = 0 %"));
    SlotStats stats;
    applyResult(stats, kTimedOutLine, 1);
    QCOMPARE(timingSummary(stats),
             QStringLiteral("Minimum = -1 ms\rMaximum = 0 ms\rAverage = 0 ms"));
    for (int i = 0; i < 7; ++i)
        applyResult(stats, reply(12), i + 2);
    QCOMPARE(
        packetSummary(stats, QLocale::c()),
        QStringLiteral("Packets send = 8\rPackets recived = 7\rPackets lost = 1\rLoss = 12.5 %"));
    QVERIFY(!packetSummary(stats, QLocale::c()).contains(QLatin1Char('\n')));
}

void TestSlotStats::decimalSeparatorFollowsLocale_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<double>("loss");
    QTest::addColumn<QString>("shown");
    QTest::newRow("German") << "de_DE" << 33.33 << "33,33";
    QTest::newRow("German, whole") << "de_DE" << 100.0 << "100";
    QTest::newRow("US English") << "en_US" << 0.12 << "0.12";
    // Digits stay ASCII; only the separator is the user's.
    QTest::newRow("Arabic") << "ar_EG" << 34.62 << QString::fromUtf8("34\u066b62");
    QTest::newRow("Persian") << "fa_IR" << 12.5 << QString::fromUtf8("12\u066b5");
    QTest::newRow("Bengali") << "bn_BD" << 66.67 << "66.67";
    QTest::newRow("Hindi, no grouping") << "hi_IN" << 0.0 << "0";
}

void TestSlotStats::decimalSeparatorFollowsLocale()
{
    QFETCH(QString, locale);
    QFETCH(double, loss);
    const QLocale l(locale);
    QTEST(formatLoss(loss, l), "shown");
}

void TestSlotStats::resultLines_data()
{
    QTest::addColumn<int>("kind"); // 0 reply, 1 failure
    QTest::addColumn<uint>("status");
    QTest::addColumn<uint>("rtt");
    QTest::addColumn<QString>("line");
    QTest::newRow("success") << 0 << 0u << 15u << "Reply from router bytes=32 time=15 ms";
    QTest::newRow("under a millisecond") << 0 << 0u << 0u << "Reply from router bytes=32 time=0 ms";
    QTest::newRow("net unreachable") << 0 << 11002u << 3u << "Destination host unreachable.";
    QTest::newRow("host unreachable") << 0 << 11003u << 3u << "Destination host unreachable.";
    QTest::newRow("ttl exceeded") << 0 << 11013u << 3u << "Requested Timed out.";
    QTest::newRow("port unreachable") << 0 << 11005u << 3u << "Requested Timed out.";
    QTest::newRow("no reply") << 1 << 0u << 0u << "Requested Timed out.";
}

void TestSlotStats::resultLines()
{
    QFETCH(int, kind);
    QFETCH(uint, status);
    QFETCH(uint, rtt);
    net::EchoResult result;
    if (kind == 0)
        result.reply = net::EchoReply{status, rtt, 0x0100007f};
    else
        result.failure = net::EchoFailure::TimedOut;
    QTEST(resultLineFor(QStringLiteral("router"), result), "line");
}

QTEST_GUILESS_MAIN(TestSlotStats)
#include "tst_slot_stats.moc"
