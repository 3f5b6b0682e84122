// The slot log's line store: appending, the index, clearing, huge lines, line
// ends, encodings and snapshots read while the store goes on.

#include "engine/log_store.h"

#include <QtTest>

#include <thread>

#include <fcntl.h>
#include <unistd.h>

using tarnwick::engine::LogReadError;
using tarnwick::engine::LogStore;

namespace {

QStringList linesOf(const LogStore& store)
{
    QStringList lines;
    for (qsizetype i = 0; i < store.lineCount(); ++i)
        lines << store.line(i);
    return lines;
}

} // namespace

class TestLogStore : public QObject {
    Q_OBJECT
private slots:
    void lineEnds_data();
    void lineEnds();
    void indexAcrossManyBlocks();
    void newestLines();
    void hugeLinesAmongSmallOnes();
    void clearGivesMemoryBack();
    void utf8AsTheLocaleWritesIt();
    void loneSurrogatesReadAlikeInEveryLine_data();
    void loneSurrogatesReadAlikeInEveryLine();
    void snapshotStaysWhileTheStoreGoesOn();
    void olderBlocksLeaveMemoryAndReadBack();
    void snapshotOfOlderBlocksOutlivesClear();
    void unreadableOlderLinesGiveNoText();
};

void TestLogStore::lineEnds_data()
{
    QTest::addColumn<QStringList>("appended");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("one line") << QStringList{"Requested Timed out."}
                              << QStringList{"Requested Timed out."}
                              << QByteArray("Requested Timed out.\r\n");
    QTest::newRow("CR LF, lone CR, lone LF each end a line")
        << QStringList{"a\r\nb\rc\nd"} << QStringList{"a", "b", "c", "d"}
        << QByteArray("a\r\nb\r\nc\r\nd\r\n");
    QTest::newRow("LF CR is two line ends")
        << QStringList{"a\n\rb"} << QStringList{"a", "", "b"} << QByteArray("a\r\n\r\nb\r\n");
    QTest::newRow("final line end adds no empty line")
        << QStringList{"a\r\n", "b"} << QStringList{"a", "b"} << QByteArray("a\r\nb\r\n");
    QTest::newRow("empty text adds nothing")
        << QStringList{"", "a", ""} << QStringList{"a"} << QByteArray("a\r\n");
    QTest::newRow("a lone line end is one empty line")
        << QStringList{"x", "\n", "y"} << QStringList{"x", "", "y"} << QByteArray("x\r\n\r\ny\r\n");
    QTest::newRow("paragraph separator") << QStringList{QStringLiteral("a\u2029b")}
                                         << QStringList{"a", "b"} << QByteArray("a\r\nb\r\n");
}

void TestLogStore::lineEnds()
{
    QFETCH(QStringList, appended);
    LogStore store;
    for (const QString& text : appended)
        store.append(text);
    QTEST(linesOf(store), "lines");
    QTEST(store.snapshot().utf8(), "bytes");
    QCOMPARE(store.byteSize(), store.snapshot().utf8().size());
}

void TestLogStore::indexAcrossManyBlocks()
{
    LogStore store;
    const int n = 200000; // far more than one block holds
    QByteArray expected;
    for (int i = 0; i < n; ++i) {
        const QString line = QStringLiteral("Reply from h%1 bytes=32 time=%2 ms").arg(i).arg(i % 9);
        store.append(line);
        expected += line.toUtf8() + "\r\n";
    }
    QCOMPARE(store.lineCount(), n);
    for (const int i : {0, 1, 4095, 4096, 99999, 123457, n - 2, n - 1})
        QCOMPARE(store.line(i),
                 QStringLiteral("Reply from h%1 bytes=32 time=%2 ms").arg(i).arg(i % 9));
    QCOMPARE(store.line(-1), QString());
    QCOMPARE(store.line(n), QString());
    QCOMPARE(store.snapshot().utf8(), expected);
    QCOMPARE(store.longestLine(), 100000); // the first line with six digits
    // Text plus a little: four bytes of index per line and block slack.
    QVERIFY2(store.memoryUse() < expected.size() + n * 4 + 512 * 1024,
             qPrintable(QString::number(store.memoryUse())));
}

void TestLogStore::newestLines()
{
    LogStore store;
    QCOMPARE(store.lineFromEnd(0), QString());
    QCOMPARE(store.lineFromEnd(1), QString());
    store.append(QStringLiteral("first"));
    QCOMPARE(store.lineFromEnd(0), QStringLiteral("first"));
    QCOMPARE(store.lineFromEnd(1), QString());
    store.append(QStringLiteral("second"));
    QCOMPARE(store.lineFromEnd(0), QStringLiteral("second"));
    QCOMPARE(store.lineFromEnd(1), QStringLiteral("first"));
    QCOMPARE(store.lineFromEnd(2), QString());
    QCOMPARE(store.lineFromEnd(-1), QString());
}

void TestLogStore::hugeLinesAmongSmallOnes()
{
    LogStore store;
    const QString huge(3 * 1024 * 1024, QLatin1Char('x'));
    const QString wide(200000, QChar(0x20AC)); // three UTF-8 bytes each
    store.append(QStringLiteral("before"));
    store.append(huge);
    store.append(QStringLiteral("between"));
    store.append(wide);
    store.append(QStringLiteral("after"));
    QCOMPARE(store.lineCount(), 5);
    QCOMPARE(store.line(0), QStringLiteral("before"));
    QCOMPARE(store.line(1), huge);
    QCOMPARE(store.line(2), QStringLiteral("between"));
    QCOMPARE(store.line(3), wide);
    QCOMPARE(store.line(4), QStringLiteral("after"));
    QCOMPARE(store.longestLine(), 1);
    QCOMPARE(store.byteSize(), 6 + 3 * 1024 * 1024 + 7 + 600000 + 5 + 5 * 2);
    // A huge line gets a block of its own size, not three times its size.
    QVERIFY(store.memoryUse() < store.byteSize() + 1024 * 1024);
}

void TestLogStore::clearGivesMemoryBack()
{
    LogStore store;
    store.setBlocksInMemory(0); // all of it in memory, to see it go
    for (int i = 0; i < 100000; ++i)
        store.append(QStringLiteral("Requested Timed out."));
    QVERIFY(store.memoryUse() > 2000000);
    QCOMPARE(store.spilledBytes(), 0);
    store.clear();
    QCOMPARE(store.lineCount(), 0);
    QVERIFY(store.isEmpty());
    QCOMPARE(store.byteSize(), 0);
    QCOMPARE(store.longestLine(), -1);
    QCOMPARE(store.memoryUse(), 0);
    QCOMPARE(store.lineFromEnd(0), QString());
    store.append(QStringLiteral("again"));
    QCOMPARE(linesOf(store), QStringList{QStringLiteral("again")});
    QCOMPARE(store.longestLine(), 0);
}

// The log held text as the user's strings; files and the clipboard got the
// locale's 8-bit bytes of it. Both stay so.
void TestLogStore::utf8AsTheLocaleWritesIt()
{
    LogStore store;
    const QString host = QStringLiteral("r\u00f6uter-\u4e2d\u6587-\U0001F600");
    const QString line = QStringLiteral("Reply from %1 bytes=32 time=3 ms").arg(host);
    store.append(line);
    QCOMPARE(store.line(0), line);
    QCOMPARE(store.lineUtf8(0), QByteArrayView(line.toUtf8()));
    QCOMPARE(store.snapshot().localBytes(), (line + QStringLiteral("\r\n")).toLocal8Bit());
    QCOMPARE(store.longestLine(), 0);
}

void TestLogStore::loneSurrogatesReadAlikeInEveryLine_data()
{
    QTest::addColumn<int>("length");
    QTest::newRow("short line") << 10;
    QTest::newRow("line of its own block") << 70000;
}

// A half of a surrogate pair (a host name typed so) becomes U+FFFD, whatever
// the line's length; huge lines wrote "?" instead.
void TestLogStore::loneSurrogatesReadAlikeInEveryLine()
{
    QFETCH(int, length);
    const QString pad(length, QLatin1Char('x'));
    const QString replaced = pad + QChar(QChar::ReplacementCharacter);
    LogStore store;
    store.append(pad + QChar(0xD800) + QLatin1Char('y'));
    store.append(pad + QChar(0xDC00) + QLatin1Char('y'));
    store.append(pad + QChar(0xDBFF));
    const QStringList expected{replaced + QLatin1Char('y'), replaced + QLatin1Char('y'), replaced};
    QCOMPARE(linesOf(store), expected);
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(store.lineUtf8(i), QByteArrayView(expected[i].toUtf8()));
}

void TestLogStore::snapshotStaysWhileTheStoreGoesOn()
{
    LogStore store;
    for (int i = 0; i < 50000; ++i)
        store.append(QStringLiteral("line %1").arg(i));
    const LogStore::Snapshot shot = store.snapshot();
    const QByteArray before = shot.utf8();
    QByteArray readThere;
    std::thread reader([&] { readThere = shot.utf8(); });
    // The owner goes on appending and then clears while the reader reads.
    for (int i = 0; i < 50000; ++i)
        store.append(QStringLiteral("later %1").arg(i));
    store.clear();
    reader.join();
    QCOMPARE(readThere, before);
    QCOMPARE(shot.lineCount(), 50000);
    QCOMPARE(shot.byteSize(), before.size());
    QVERIFY(before.endsWith("line 49999\r\n"));
    QCOMPARE(shot.utf8(), before);
}

// A week of five logs held the whole text in memory: 226 MB projected. Only
// the newest blocks stay; every line still reads as it was written.
void TestLogStore::olderBlocksLeaveMemoryAndReadBack()
{
    LogStore store;
    QByteArray expected;
    constexpr int kLines = 200000;
    for (int i = 0; i < kLines; ++i) {
        const QString line = QStringLiteral("Reply from 198.18.3.2 bytes=32 time=%1 ms").arg(i);
        store.append(line);
        expected += line.toUtf8() + "\r\n";
    }
    QCOMPARE(store.lineCount(), kLines);
    QCOMPARE(store.byteSize(), expected.size());
    QVERIFY(store.spilledBytes() > store.byteSize() / 2);
    // The index and the newest blocks: well under the text itself.
    QVERIFY2(store.memoryUse() < store.byteSize() / 3,
             qPrintable(QStringLiteral("%1 of %2").arg(store.memoryUse()).arg(store.byteSize())));
    // Reads that hop between older blocks and the newest one.
    for (const int i : {0, 150000, 1, kLines - 1, 77777, 0, 199999, 123456, 5000, 5001}) {
        QCOMPARE(store.line(i), QStringLiteral("Reply from 198.18.3.2 bytes=32 time=%1 ms").arg(i));
    }
    QCOMPARE(store.lineFromEnd(0), QStringLiteral("Reply from 198.18.3.2 bytes=32 time=199999 ms"));
    QCOMPARE(store.snapshot().utf8(), expected);
    // Lines keep coming after a read-back; the read-back block is not written to.
    (void)store.line(3);
    store.append(QStringLiteral("after"));
    QCOMPARE(store.line(3), QStringLiteral("Reply from 198.18.3.2 bytes=32 time=3 ms"));
    QCOMPARE(store.lineFromEnd(0), QStringLiteral("after"));
}

void TestLogStore::snapshotOfOlderBlocksOutlivesClear()
{
    LogStore store;
    for (int i = 0; i < 100000; ++i)
        store.append(QStringLiteral("line %1").arg(i));
    QVERIFY(store.spilledBytes() > 0);
    const LogStore::Snapshot shot = store.snapshot();
    const QByteArray before = shot.utf8();
    QByteArray readThere;
    std::thread reader([&] { readThere = shot.utf8(); });
    store.clear();
    for (int i = 0; i < 100000; ++i)
        store.append(QStringLiteral("later %1").arg(i));
    reader.join();
    QCOMPARE(readThere, before);
    QVERIFY(before.startsWith("line 0\r\nline 1\r\n"));
    QVERIFY(before.endsWith("line 99999\r\n"));
    QCOMPARE(shot.utf8(), before);
    QCOMPARE(store.line(0), QStringLiteral("later 0"));
}

// A log with a hole in it must not pass for the log: Save would replace a
// whole file with it. The temporary file is cut short behind the store's back.
void TestLogStore::unreadableOlderLinesGiveNoText()
{
    QTemporaryDir temp;
    const QByteArray oldTemp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(temp.path()));
    LogStore store;
    for (int i = 0; i < 100000; ++i)
        store.append(QStringLiteral("line %1").arg(i));
    qputenv("TMPDIR", oldTemp);
    QVERIFY(store.spilledBytes() > 0);
    const LogStore::Snapshot shot = store.snapshot();
    QVERIFY(shot.utf8().endsWith("line 99999\r\n"));

    int cut = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& name : fds.entryList(QDir::Files | QDir::System)) {
        if (QFile::symLinkTarget(fds.filePath(name)).startsWith(temp.path()))
            cut += ::ftruncate(name.toInt(), 0) == 0 ? 1 : 0;
    }
    QCOMPARE(cut, 1);
    QVERIFY_THROWS_EXCEPTION(LogReadError, (void)shot.utf8());
    QVERIFY_THROWS_EXCEPTION(LogReadError, (void)shot.localBytes());
    // The newest lines are in memory and still read.
    QCOMPARE(store.lineFromEnd(0), QStringLiteral("line 99999"));
}

QTEST_GUILESS_MAIN(TestLogStore)
#include "tst_log_store.moc"
