// The ledger file on real files: records come back, a record cut short is
// left out and never glues onto the next, kill -9 in the middle of appends
// and rewrites loses no record that was reported written, and a full disk
// leaves the file as it was.

#include "platform/ledger_file.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

using tarnwick::platform::LedgerFile;

namespace {

// What ledger_writer writes: "rec <i> <x * pad> <pad>".
std::optional<long> recordNumber(const QByteArray& line)
{
    static const QRegularExpression re(QStringLiteral("^rec (\\d+) (x+) (\\d+)$"));
    const QRegularExpressionMatch m = re.match(QString::fromLatin1(line));
    if (!m.hasMatch() || m.captured(2).size() != m.captured(3).toInt())
        return std::nullopt;
    return m.captured(1).toLong();
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct Writer {
    QProcess process;
    QList<long> confirmed;
    QStringList words;

    void start(const QStringList& args)
    {
        process.setProgram(QStringLiteral(LEDGER_WRITER_PATH));
        process.setArguments(args);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start();
        QVERIFY(process.waitForStarted(10000));
    }
    void read()
    {
        while (process.canReadLine()) {
            const QList<QByteArray> parts = process.readLine().trimmed().split(' ');
            words << QString::fromLatin1(parts.value(0));
            if (parts.value(0) == "ok")
                confirmed << parts.value(1).toLong();
        }
    }
    bool waitFor(int count, int timeoutMs)
    {
        QElapsedTimer clock;
        clock.start();
        while (confirmed.size() < count && clock.elapsed() < timeoutMs) {
            process.waitForReadyRead(100);
            read();
            if (process.state() == QProcess::NotRunning && !process.canReadLine())
                break;
        }
        return confirmed.size() >= count;
    }
};

} // namespace

class TestLedgerFile : public QObject {
    Q_OBJECT
private slots:
    void recordsComeBack();
    void aRecordCutShortIsLeftOut();
    void replaceKeepsTheOldFileUntilTheNewOneIsWhole();
    void killNineLosesNothingReported_data();
    void killNineLosesNothingReported();
    void aFullDiskLeavesTheFileWhole();
};

void TestLedgerFile::recordsComeBack()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("incidents.ledger"));
    {
        LedgerFile file(path);
        QCOMPARE(file.load().records.size(), 0);
        file.append("one");
        file.append("two");
    } // the end writes what is queued
    LedgerFile file(path);
    const LedgerFile::Loaded loaded = file.load();
    QCOMPARE(loaded.records, (QList<QByteArray>{"one", "two"}));
    QCOMPARE(loaded.bytes, qint64(8));
    QCOMPARE(QFileInfo(path).permissions() & QFileDevice::ReadOther, QFileDevice::ReadOther);
}

void TestLedgerFile::aRecordCutShortIsLeftOut()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("incidents.ledger"));
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("one\ntwo\nthr");
    }
    LedgerFile file(path);
    QCOMPARE(file.load().records, (QList<QByteArray>{"one", "two"}));
    file.append("four");
    file.flush();
    // The fragment stays a line of its own, for the reader to refuse.
    QCOMPARE(fileBytes(path), QByteArray("one\ntwo\nthr\nfour\n"));
    QVERIFY(file.lastError().isEmpty());
}

void TestLedgerFile::replaceKeepsTheOldFileUntilTheNewOneIsWhole()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("incidents.ledger"));
    LedgerFile file(path);
    file.append("a");
    file.append("b");
    file.replace({"b", "c"});
    file.append("d");
    file.flush();
    QCOMPARE(fileBytes(path), QByteArray("b\nc\nd\n"));
    // No temporary file is left beside it.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("incidents.ledger")});
}

void TestLedgerFile::killNineLosesNothingReported_data()
{
    QTest::addColumn<int>("replaceEvery");
    QTest::newRow("appends") << 0;
    QTest::newRow("appends and rewrites") << 7;
}

void TestLedgerFile::killNineLosesNothingReported()
{
    QFETCH(int, replaceEvery);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("incidents.ledger"));
    long next = 0;
    int kills = 0;
    for (int round = 0; round < 12; ++round) {
        Writer writer;
        QStringList args = {path, QString::number(next)};
        if (replaceEvery > 0)
            args << QStringLiteral("--replace-every") << QString::number(replaceEvery);
        writer.start(args);
        const int wanted = 1 + QRandomGenerator::global()->bounded(25);
        QVERIFY2(writer.waitFor(wanted, 30000), "the writer did not write");
        // Somewhere in the middle of the next records.
        QTest::qWait(QRandomGenerator::global()->bounded(15));
        ::kill(static_cast<pid_t>(writer.process.processId()), SIGKILL);
        QVERIFY(writer.process.waitForFinished(10000));
        writer.read();
        ++kills;

        const QByteArray bytes = fileBytes(path);
        QVERIFY2(!bytes.isEmpty(), "the ledger is gone");
        const QList<QByteArray> records = LedgerFile(path).load().records;
        QList<long> numbers;
        for (const QByteArray& line : records) {
            const std::optional<long> n = recordNumber(line);
            // Only the record the kill cut short may be damaged, and never
            // one reported written.
            if (n)
                numbers << *n;
        }
        for (int k = 1; k < numbers.size(); ++k)
            QVERIFY2(numbers[k] == numbers[k - 1] + 1 || numbers[k] == numbers[k - 1],
                     qPrintable(QStringLiteral("%1 after %2").arg(numbers[k]).arg(numbers[k - 1])));
        for (const long confirmed : writer.confirmed)
            QVERIFY2(numbers.contains(confirmed), qPrintable(QString::number(confirmed)));
        next = numbers.isEmpty() ? 0 : numbers.last() + 1;
    }
    QCOMPARE(kills, 12);
    QVERIFY(next >= 12);
    // What a rewrite killed half-way left goes at the next start.
    {
        LedgerFile cleaner(path);
    }
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("incidents.ledger")});
}

void TestLedgerFile::aFullDiskLeavesTheFileWhole()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("incidents.ledger"));
    const int limit = 3000;
    Writer writer;
    writer.start({path, QStringLiteral("0"), QStringLiteral("--fsize"), QString::number(limit)});
    QVERIFY(writer.process.waitForFinished(30000));
    writer.read();
    QCOMPARE(writer.process.exitCode(), 0);
    // Appends until the disk is full; once there is room again the record
    // that failed comes first; a rewrite that does not fit is refused.
    QCOMPARE(writer.words.count(QStringLiteral("failed")), 1);
    QCOMPARE(writer.words.last(), QStringLiteral("replace-failed"));
    QCOMPARE(writer.words.at(writer.words.size() - 2), QStringLiteral("ok"));
    const QList<QByteArray> records = LedgerFile(path).load().records;
    QCOMPARE(records.size(), writer.confirmed.size() + 1);
    for (int k = 0; k < records.size(); ++k)
        QCOMPARE(recordNumber(records[k]), std::optional<long>(k));
    QCOMPARE(fileBytes(path).count('\n'), records.size());
}

QTEST_GUILESS_MAIN(TestLedgerFile)
#include "tst_ledger_file.moc"
