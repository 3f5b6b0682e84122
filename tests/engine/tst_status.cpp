// The status rules on plain data: which slot fails, which of the four
// pictures the counts give, and the fourteen-line summary.

#include "engine/outage_watch.h"
#include "engine/result_line.h"
#include "engine/slot_stats.h"
#include "engine/status.h"

#include <QtTest>

using namespace tarnwick::engine;

Q_DECLARE_METATYPE(StatusPicture)

class TestStatus : public QObject {
    Q_OBJECT
private slots:
    void failingSlot_data();
    void failingSlot();
    void pictureFromCounts_data();
    void pictureFromCounts();
    void summaryKeepsItsShape();
    void everyReaderTakesTheWrittenLines();
};

void TestStatus::failingSlot_data()
{
    QTest::addColumn<QString>("newest");
    QTest::addColumn<QString>("previous");
    QTest::addColumn<bool>("failing");
    const QString reply = QStringLiteral("Reply from h bytes=32 time=3 ms");
    const QString lost = QStringLiteral("Requested Timed out.");
    QTest::newRow("empty log") << QString() << QString() << true;
    QTest::newRow("two losses") << lost << lost << true;
    QTest::newRow("newest a reply") << reply << lost << false;
    QTest::newRow("previous a reply") << lost << reply << false;
    QTest::newRow("unreachable, one line")
        << QStringLiteral("Destination host unreachable.") << QString() << true;
    // The rule looks for the word, wherever it stands and in this case only.
    QTest::newRow("word inside a line") << QStringLiteral("xReplyx") << QString() << false;
    QTest::newRow("other case") << QStringLiteral("reply from h") << lost << true;
}

void TestStatus::failingSlot()
{
    QFETCH(QString, newest);
    QFETCH(QString, previous);
    QTEST(isFailing({newest, previous}), "failing");
}

void TestStatus::pictureFromCounts_data()
{
    QTest::addColumn<int>("failing");
    QTest::addColumn<int>("withHost");
    QTest::addColumn<StatusPicture>("picture");
    QTest::newRow("none of five") << 0 << 5 << StatusPicture::Image1;
    QTest::newRow("one of five") << 1 << 5 << StatusPicture::Image5;
    QTest::newRow("two of five") << 2 << 5 << StatusPicture::Image5;
    QTest::newRow("three of five") << 3 << 5 << StatusPicture::Image4;
    QTest::newRow("four of five") << 4 << 5 << StatusPicture::Image4;
    QTest::newRow("five of five") << 5 << 5 << StatusPicture::Image2;
    QTest::newRow("one of one") << 1 << 1 << StatusPicture::Image2;
    QTest::newRow("two of two") << 2 << 2 << StatusPicture::Image2;
    QTest::newRow("three of three") << 3 << 3 << StatusPicture::Image2;
    QTest::newRow("one of two") << 1 << 2 << StatusPicture::Image5;
    // No host at all counts as all failing: nothing is being watched.
    QTest::newRow("no host") << 0 << 0 << StatusPicture::Image2;
}

void TestStatus::pictureFromCounts()
{
    QFETCH(int, failing);
    QFETCH(int, withHost);
    QTEST(chooseStatusPicture(failing, withHost), "picture");
}

void TestStatus::summaryKeepsItsShape()
{
    std::array<NewestLines, 5> logs;
    for (int k = 0; k < 5; ++k)
        logs[k] = {QStringLiteral("n%1").arg(k), k % 2 ? QString() : QStringLiteral("p%1").arg(k)};
    const QStringList lines = resultsSummary(logs);
    QCOMPARE(lines.size(), 14);
    for (int k = 0; k < 5; ++k) {
        QCOMPARE(lines[3 * k], logs[k].newest);
        QCOMPARE(lines[3 * k + 1], logs[k].previous);
        if (k < 4)
            QCOMPARE(lines[3 * k + 2], QStringLiteral("-----"));
    }
    QCOMPARE(resultsSummary({}).join(QString()), QString(4 * 5, QLatin1Char('-')));
}

QTEST_APPLESS_MAIN(TestStatus)
// The statistics, the status picture and the outage watch read the lines
// the workers write; each must see an answer where there is one, and only
// there.
void TestStatus::everyReaderTakesTheWrittenLines()
{
    for (const std::uint32_t ms : {0u, 1u, 999u}) {
        const QString line = replyLine(QStringLiteral("192.0.2.1"), ms);
        QCOMPARE(parseRoundTrip(line), std::optional<std::int32_t>(static_cast<std::int32_t>(ms)));
        QVERIFY(!isFailing({line, kTimedOutLine}));
        QCOMPARE(classifyResult(line), Attempt::Answered);
    }
    for (const QString& line : {kTimedOutLine, kUnreachableLine}) {
        QCOMPARE(parseRoundTrip(line), std::nullopt);
        QVERIFY(isFailing({line, line}));
        QVERIFY(classifyResult(line) != Attempt::Answered);
    }
}

#include "tst_status.moc"
