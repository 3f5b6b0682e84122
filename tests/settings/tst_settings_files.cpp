// The settings file and host list file formats and how the data folder's
// files are read and replaced, without any window.

#include "core/app_error.h"
#include "core/text_lines.h"
#include "platform/files.h"
#include "settings/settings_files.h"
#include "settings/settings_store.h"
#include "support/test_files.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace tarnwick;
using namespace tarnwick::settings;

namespace {

using test::readAll;
using test::writeFile;

// The reason of the FileCreateError a write raises, or "" when it succeeds.
QString writeFailure(const QString& path, const QByteArray& bytes)
{
    try {
        platform::writeFileAtomically(path, bytes);
    } catch (const AppError& error) {
        return error.message();
    }
    return QString();
}

} // namespace

class TestSettingsFiles : public QObject {
    Q_OBJECT
private slots:
    void lineSplitting_data();
    void lineSplitting();
    void settingsLines_data();
    void settingsLines();
    void writtenBytes();
    void hostListBytes_data();
    void hostListBytes();
    void replacingFiles_data();
    void replacingFiles();
    void onlyRegularFilesAreRead();
    void staleTemporariesGo();
};

void TestSettingsFiles::lineSplitting_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("CR LF") << "a\r\nb\r\n" << QStringList{"a", "b"};
    QTest::newRow("lone LF") << "a\nb\n" << QStringList{"a", "b"};
    QTest::newRow("lone CR") << "a\rb\r" << QStringList{"a", "b"};
    QTest::newRow("mixed") << "a\r\nb\nc\rd" << QStringList{"a", "b", "c", "d"};
    QTest::newRow("last line without end") << "a\r\nb" << QStringList{"a", "b"};
    QTest::newRow("LF then CR is two ends") << "a\n\rb" << QStringList{"a", "", "b"};
    QTest::newRow("empty lines kept") << "a\r\n\r\nb\r\n" << QStringList{"a", "", "b"};
    QTest::newRow("only a line end") << "\r\n" << QStringList{""};
    QTest::newRow("empty file") << "" << QStringList{};
    QTest::newRow("nothing trimmed") << " host \r\n\thost2" << QStringList{" host ", "\thost2"};
}

// Text and bytes split by the one rule.
void TestSettingsFiles::lineSplitting()
{
    QFETCH(QString, text);
    QFETCH(QStringList, lines);
    QStringList fromText;
    for (const QStringView line : core::splitLines(QStringView(text)))
        fromText << line.toString();
    QCOMPARE(fromText, lines);
    const QByteArray bytes = text.toLatin1();
    QStringList fromBytes;
    for (const QByteArrayView line : core::splitLines(QByteArrayView(bytes)))
        fromBytes << QString::fromLatin1(line);
    QCOMPARE(fromBytes, lines);
}

void TestSettingsFiles::settingsLines_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("applied"); // delay,autostart,timeout,size with '-' for kept
    QTest::newRow("defaults") << QStringList{"1000", "-1", "2000", "32"} << "1000,1,2000,32";
    QTest::newRow("two lines") << QStringList{"1500", "0"} << "1500,0,-,-";
    QTest::newRow("first not a number") << QStringList{"fast", "0", "50", "1"} << "-,-,-,-";
    QTest::newRow("true lower case") << QStringList{"300", "true", "60"} << "300,1,60,-";
    QTest::newRow("FALSE upper case") << QStringList{"300", "FALSE", "60", "7"} << "300,0,60,7";
    QTest::newRow("2 is checked") << QStringList{"300", "2", "60", "7"} << "300,1,60,7";
    QTest::newRow("word on line 2 stops") << QStringList{"300", "yes", "60", "7"} << "300,-,-,-";
    QTest::newRow("bad time-out stops") << QStringList{"300", "0", "6o", "7"} << "300,0,-,-";
    QTest::newRow("bad size") << QStringList{"300", "0", "60", "x"} << "300,0,60,-";
    QTest::newRow("lines after the fourth ignored")
        << QStringList{"1", "0", "2", "3", "junk"} << "1,0,2,3";
    QTest::newRow("out of range read as written")
        << QStringList{"99999", "0", "-5", "0"} << "99999,0,-5,0";
    QTest::newRow("empty line 1") << QStringList{"", "0"} << "-,-,-,-";
    QTest::newRow("empty file") << QStringList{} << "-,-,-,-";
}

void TestSettingsFiles::settingsLines()
{
    QFETCH(QStringList, lines);
    Settings s;
    const int n = applySettingsLines(lines, s);
    const QStringList values{QString::number(s.delay), QString::number(s.autoStart ? 1 : 0),
                             QString::number(s.timeout), QString::number(s.packetSize)};
    QStringList shown;
    for (int k = 0; k < 4; ++k)
        shown << (k < n ? values[k] : QStringLiteral("-"));
    QTEST(shown.join(QLatin1Char(',')), "applied");
    // What was not applied keeps its value.
    const Settings defaults;
    if (n < 4)
        QCOMPARE(s.packetSize, defaults.packetSize);
    if (n < 1)
        QCOMPARE(s.delay, defaults.delay);
}

void TestSettingsFiles::writtenBytes()
{
    QCOMPARE(encodeLines(settings::settingsLines(Settings{})),
             QByteArray("1000\r\n-1\r\n2000\r\n32\r\n"));
    QCOMPARE(encodeLines(settings::settingsLines(Settings{5000, false, 50, 30000})),
             QByteArray("5000\r\n0\r\n50\r\n30000\r\n"));
    QCOMPARE(encodeLines({}), QByteArray());
    QCOMPARE(encodeLines({"a", "", "b"}), QByteArray("a\r\n\r\nb\r\n"));
}

// edit: "<index>=<text>" changes one entry before the list is written back.
void TestSettingsFiles::hostListBytes_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QByteArray>("written");
    QTest::newRow("not valid in the locale, untouched")
        << QByteArray("caf\xe9\r\nh\xff\xfe\r\n") << "" << QByteArray("caf\xe9\r\nh\xff\xfe\r\n");
    QTest::newRow("another entry edited")
        << QByteArray("caf\xe9\r\nold\r\n") << "1=new" << QByteArray("caf\xe9\r\nnew\r\n");
    QTest::newRow("the entry itself edited")
        << QByteArray("caf\xe9\r\n") << "0=caf\u00e9" << QByteArray("caf\xc3\xa9\r\n");
    QTest::newRow("line ends become CR LF")
        << QByteArray("a\nb\rc\r\nd") << "" << QByteArray("a\r\nb\r\nc\r\nd\r\n");
    QTest::newRow("empty lines and blanks kept")
        << QByteArray(" a \r\n\r\nb") << "" << QByteArray(" a \r\n\r\nb\r\n");
    QTest::newRow("a 300-character entry") << QByteArray(300, 'x') + "\r\n"
                                           << "" << QByteArray(300, 'x') + "\r\n";
    QTest::newRow("empty file") << QByteArray() << "" << QByteArray();
}

void TestSettingsFiles::hostListBytes()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, edit);
    QList<HostEntry> entries = decodeHostList(file);
    if (!edit.isEmpty())
        entries[edit.section(QLatin1Char('='), 0, 0).toInt()].text =
            edit.section(QLatin1Char('='), 1);
    QTEST(encodeHostList(entries), "written");
}

void TestSettingsFiles::replacingFiles_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QString>("failure"); // "" for success
    QTest::newRow("plain file") << "plain"
                                << "";
    QTest::newRow("new file") << "new"
                              << "";
    QTest::newRow("read-only file") << "read-only"
                                    << "Permission denied";
    QTest::newRow("link to a file") << "link"
                                    << "";
    QTest::newRow("link to a missing file") << "dangling link"
                                            << "";
    QTest::newRow("a folder in its place") << "folder"
                                           << "Is a directory";
    QTest::newRow("folder missing") << "no folder"
                                    << "No such file or directory";
}

// The file keeps what it was (kind, permissions, link) unless the write
// succeeded, and then holds the new bytes.
void TestSettingsFiles::replacingFiles()
{
    QFETCH(QString, situation);
    QFETCH(QString, failure);
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("domains.cfg"));
    const QString target = dir.filePath(QStringLiteral("elsewhere/real.cfg"));
    QDir().mkpath(dir.filePath(QStringLiteral("elsewhere")));
    if (situation != QLatin1String("new") && situation != QLatin1String("no folder") &&
        situation != QLatin1String("folder") && !situation.contains(QLatin1String("link")))
        writeFile(path, "old\r\n");
    if (situation == QLatin1String("read-only"))
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0444) == 0);
    if (situation == QLatin1String("link") || situation == QLatin1String("dangling link")) {
        if (situation == QLatin1String("link"))
            writeFile(target, "old\r\n");
        QVERIFY(QFile::link(QStringLiteral("elsewhere/real.cfg"), path));
    }
    if (situation == QLatin1String("folder"))
        QVERIFY(QDir().mkpath(path));
    if (situation == QLatin1String("no folder"))
        path = dir.filePath(QStringLiteral("gone/domains.cfg"));

    const QString got = writeFailure(path, "new\r\n");
    if (failure.isEmpty()) {
        QCOMPARE(got, QString());
        QCOMPARE(readAll(path), QByteArray("new\r\n"));
    } else {
        QCOMPARE(got, QStringLiteral("Cannot create file \"%1\". %2").arg(path, failure));
    }
    if (situation == QLatin1String("read-only")) {
        QCOMPARE(readAll(path), QByteArray("old\r\n"));
        QCOMPARE(QFileInfo(path).permissions() & QFileDevice::WriteOwner,
                 QFileDevice::Permissions());
    }
    if (situation.contains(QLatin1String("link"))) {
        QVERIFY(QFileInfo(path).isSymLink());
        QCOMPARE(readAll(target), QByteArray("new\r\n"));
    }
    // No temporary file is left behind either way.
    const QStringList hidden = QDir(QFileInfo(path).absolutePath())
                                   .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot)
                                   .filter(QStringLiteral(".domains.cfg."));
    QCOMPARE(hidden, QStringList());
}

void TestSettingsFiles::onlyRegularFilesAreRead()
{
    QTemporaryDir dir;
    const SettingsStore store(dir.path(), QString());
    // A FIFO nobody writes to would block a plain read for ever.
    QVERIFY(::mkfifo(QFile::encodeName(store.hostListFilePath()).constData(), 0644) == 0);
    QVERIFY(QDir().mkpath(store.settingsFilePath()));
    QVERIFY(!store.readHostList());
    QVERIFY(!store.readSettingsLines());
    QFile::remove(store.hostListFilePath());
    writeFile(store.hostListFilePath(), "a\r\nb");
    QCOMPARE(store.readHostList().value().size(), 2);
}

void TestSettingsFiles::staleTemporariesGo()
{
    QTemporaryDir dir;
    const SettingsStore store(dir.path(), QString());
    const QStringList ours{".config.cfg.Ab12Cd", ".domains.cfg.zZ9900"};
    const QStringList others{".config.cfg.toolong1", ".other.cfg.Ab12Cd", "config.cfg",
                             ".config.cfg."};
    for (const QString& name : ours + others)
        writeFile(dir.filePath(name), "x");
    store.removeStaleTemporaries();
    for (const QString& name : ours)
        QVERIFY2(!QFile::exists(dir.filePath(name)), qPrintable(name));
    for (const QString& name : others)
        QVERIFY2(QFile::exists(dir.filePath(name)), qPrintable(name));
}

QTEST_GUILESS_MAIN(TestSettingsFiles)
#include "tst_settings_files.moc"
