// Temporaries of atomic writes: what a killed write left beside a file goes
// at the next write of that file, and a temporary that another running
// program is still writing never does, not even while writes and clean-ups
// race.

#include "core/app_error.h"
#include "platform/files.h"
#include "support/foreign_lock.h"
#include "support/test_files.h"

#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <thread>

#include <unistd.h>

using namespace tarnwick;

namespace {

using test::writeFile;

QStringList hiddenFiles(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

} // namespace

class TestAtomicFiles : public QObject {
    Q_OBJECT

private slots:
    void leftoversOfTheSameFileGo_data();
    void leftoversOfTheSameFileGo();
    void aTemporaryInUseStays();
    void writesAndCleanUpsRace();
};

void TestAtomicFiles::leftoversOfTheSameFileGo_data()
{
    // Beside "ping.txt"; whether the next write of it removes the name.
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("goes");
    QTest::newRow("ours, killed") << ".ping.txt.Ab12Cd" << true;
    QTest::newRow("ours, all digits") << ".ping.txt.009911" << true;
    QTest::newRow("another file's") << ".pong.txt.Ab12Cd" << false;
    QTest::newRow("tail too long") << ".ping.txt.Ab12Cd7" << false;
    QTest::newRow("tail too short") << ".ping.txt.Ab12C" << false;
    QTest::newRow("not our letters") << ".ping.txt.Ab-2Cd" << false;
    QTest::newRow("no leading dot") << "ping.txt.Ab12Cd" << false;
    QTest::newRow("the file's own backup") << "ping.txt~" << false;
}

void TestAtomicFiles::leftoversOfTheSameFileGo()
{
    QFETCH(QString, name);
    QFETCH(bool, goes);
    const QTemporaryDir dir;
    writeFile(dir.filePath(name), QByteArray(4096, 'x'));
    platform::writeFileAtomically(dir.filePath(QStringLiteral("ping.txt")), "log\r\n");
    QCOMPARE(QFile::exists(dir.filePath(name)), !goes);
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("ping.txt"))));
    // Nothing of the write itself stays.
    QCOMPARE(hiddenFiles(dir.path()).size(), goes ? 1 : 2);
}

void TestAtomicFiles::aTemporaryInUseStays()
{
    const QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("Orlvane_Tarnwick.desktop"));
    const QString busy = dir.filePath(QStringLiteral(".Orlvane_Tarnwick.desktop.Busy01"));
    // A name that mentions the filter's wildcards is matched as it is.
    const QString wild = dir.filePath(QStringLiteral(".[a].desktop.Ab12Cd"));
    writeFile(dir.filePath(QStringLiteral(".a.desktop.Ab12Cd")), "x");
    writeFile(wild, "x");
    {
        test::ForeignLock writer(busy);
        QVERIFY(writer.holds());
        platform::writeFileAtomically(target, "[Desktop Entry]\n");
        QCOMPARE(platform::removeStaleTemporaries(dir.path(),
                                                  {QStringLiteral("Orlvane_Tarnwick.desktop")}),
                 0);
        QVERIFY(QFile::exists(busy));
        // The writer is killed: its temporary is stale from now on.
        writer.killHard();
    }
    platform::writeFileAtomically(target, "[Desktop Entry]\n");
    QVERIFY(!QFile::exists(busy));
    QCOMPARE(platform::removeStaleTemporaries(dir.path(), {QStringLiteral("[a].desktop")}), 1);
    QVERIFY(!QFile::exists(wild));
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral(".a.desktop.Ab12Cd"))));

    // Another user's file is never ours to remove.
    if (::geteuid() == 0) {
        const QString foreign = dir.filePath(QStringLiteral(".Orlvane_Tarnwick.desktop.Other1"));
        writeFile(foreign, "x");
        QVERIFY(::chown(QFile::encodeName(foreign).constData(), 65534, 65534) == 0);
        platform::writeFileAtomically(target, "[Desktop Entry]\n");
        QVERIFY(QFile::exists(foreign));
    }
}

void TestAtomicFiles::writesAndCleanUpsRace()
{
    // Two programs saving the same file while a third starts up and cleans:
    // no write may fail or lose its temporary, and none is left at the end.
    const QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("domains.cfg"));
    std::atomic<int> failures{0};
    std::atomic<bool> writing{true};
    const auto writer = [&](char c) {
        for (int i = 0; i < 300; ++i) {
            try {
                platform::writeFileAtomically(target, QByteArray(1000 + i, c));
            } catch (const AppError& error) {
                qWarning("%s", qPrintable(error.message()));
                ++failures;
            }
        }
    };
    std::thread cleaner([&] {
        while (writing)
            platform::removeStaleTemporaries(dir.path(), {QStringLiteral("domains.cfg")});
    });
    std::thread a(writer, 'a');
    std::thread b(writer, 'b');
    a.join();
    b.join();
    writing = false;
    cleaner.join();
    QCOMPARE(failures.load(), 0);
    QCOMPARE(hiddenFiles(dir.path()), QStringList{QStringLiteral("domains.cfg")});
    const QByteArray last = [&] {
        QFile f(target);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    QCOMPARE(last.size(), 1299);
}

QTEST_GUILESS_MAIN(TestAtomicFiles)
#include "tst_atomic_files.moc"
