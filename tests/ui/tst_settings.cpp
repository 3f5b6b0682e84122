// Settings persistence through the real main window: reading both files at
// start-up, writing through on every change, the per-user store and the
// start-with-the-system entry, and the first run.

#include "core/app_error.h"
#include "core/product.h"
#include "platform/user_store.h"
#include "support/form_fixture.h"
#include "support/test_files.h"
#include "ui/controls.h"
#include "ui/up_down.h"

#include <QListWidget>
#include <QSettings>
#include <QtTest>

#include <csignal>

#include <sys/resource.h>
#include <sys/stat.h>

using namespace tarnwick;
using tarnwick::test::FormFixture;

namespace {

using test::readAll;
using test::writeFile;

ino_t inodeOf(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

QString autostartEntryPath()
{
    return platform::autostartFolder() + QStringLiteral("/Orlvane_Tarnwick.desktop");
}

void markFirstRunDone()
{
    platform::RegWriteString(platform::RegistryRoot::CurrentUser, platform::kProductKey,
                             QStringLiteral("fr"), QStringLiteral("1"));
}

} // namespace

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void init();
    void loadingAtStartUp_data();
    void loadingAtStartUp();
    void hostListLoadsInOneBatch();
    void firstRun();
    void everyTriggerWritesThrough();
    void keyboardToggleSavesNothing();
    void unwritableDataFolderReportsAndKeepsTheChange();
    void failedWriteLeavesTheOldFile();
    void autostartEntry_data();
    void autostartEntry();
    void storeValues();
};

void TestSettings::init()
{
    QFile::remove(autostartEntryPath());
    markFirstRunDone();
}

void TestSettings::loadingAtStartUp_data()
{
    QTest::addColumn<QByteArray>("config"); // "<missing>": no file
    QTest::addColumn<QByteArray>("hosts");
    QTest::addColumn<QString>("delayText");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<int>("timeout");
    QTest::addColumn<int>("size");
    QTest::addColumn<QStringList>("list");

    const QByteArray missing("<missing>");
    const QStringList defaultList{product::kDefaultHost};
    QTest::newRow("no files") << missing << missing << "1000" << true << 2000 << 32 << defaultList;
    QTest::newRow("two lines") << QByteArray("1500\r\n0\r\n") << missing << "1500" << false << 2000
                               << 32 << defaultList;
    QTest::newRow("first line not a number") << QByteArray("fast\r\n0\r\n50\r\n") << missing
                                             << "1000" << true << 2000 << 32 << defaultList;
    QTest::newRow("mixed line ends, true")
        << QByteArray("300\ntrue\r60") << missing << "300" << true << 60 << 32 << defaultList;
    QTest::newRow("held to the ranges") << QByteArray("99999\r\n0\r\n1\r\n99999\r\n") << missing
                                        << "5000" << false << 50 << 30000 << defaultList;
    QTest::newRow("2 checks, extra lines ignored")
        << QByteArray("200\r\n2\r\n10000\r\n1\r\nextra\r\n") << missing << "200" << true << 10000
        << 1 << defaultList;
    QTest::newRow("empty host file")
        << missing << QByteArray("") << "1000" << true << 2000 << 32 << QStringList{};
    QTest::newRow("eight hosts") << missing
                                 << QByteArray("a\r\nb\r\nc\r\nd\r\ne\r\nf\r\ng\r\nh\r\n") << "1000"
                                 << true << 2000 << 32
                                 << QStringList{"a", "b", "c", "d", "e", "f", "g", "h"};
    QTest::newRow("host line ends") << missing << QByteArray("a\rb\nc\r\n\r\n d ") << "1000" << true
                                    << 2000 << 32 << QStringList{"a", "b", "c", "", " d "};
}

void TestSettings::loadingAtStartUp()
{
    QFETCH(QByteArray, config);
    QFETCH(QByteArray, hosts);
    FormFixture f(false);
    if (config != "<missing>")
        writeFile(f.file("config.cfg"), config);
    if (hosts != "<missing>")
        writeFile(f.file("domains.cfg"), hosts);
    const ino_t configInode = inodeOf(f.file("config.cfg"));
    const ino_t hostsInode = inodeOf(f.file("domains.cfg"));

    ui::TForm1& form = f.createForm();
    QTEST(form.Edit1->text(), "delayText");
    QTEST(form.CheckBox1->isChecked(), "checked");
    QTEST(form.UpDown2->position(), "timeout");
    QCOMPARE(form.Edit4->text(), QString::number(form.UpDown2->position()));
    QTEST(form.UpDown3->position(), "size");
    QTEST(form.hostList(), "list");
    QCOMPARE(form.engine().settings().hosts(), form.hostList());

    // Reading writes nothing back.
    QCOMPARE(readAll(f.file("config.cfg")), config);
    QCOMPARE(readAll(f.file("domains.cfg")), hosts);
    QCOMPARE(inodeOf(f.file("config.cfg")), configInode);
    QCOMPARE(inodeOf(f.file("domains.cfg")), hostsInode);
    QVERIFY(!QFile::exists(autostartEntryPath()));
}

// Every change of the list rebuilds the hosts the workers read: one change
// per line made a 30 000-line file take 20 s to start. The entries keep the
// bytes they were read as.
void TestSettings::hostListLoadsInOneBatch()
{
    FormFixture f;
    ui::TForm1& form = *f.form;
    for (const int lines : {10, 10000}) {
        QByteArray file;
        for (int i = 0; i < lines; ++i)
            file += "host" + QByteArray::number(i) + "\r\n";
        file += "caf\xe9\r\n" + QByteArray(300, 'x') + "\r\n";
        writeFile(f.file("domains.cfg"), file);

        int changes = 0;
        QAbstractItemModel* model = form.ListBox1->model();
        const auto changed = [&changes] { ++changes; };
        const QList<QMetaObject::Connection> watched{
            connect(model, &QAbstractItemModel::rowsInserted, changed),
            connect(model, &QAbstractItemModel::rowsRemoved, changed),
            connect(model, &QAbstractItemModel::rowsMoved, changed),
            connect(model, &QAbstractItemModel::dataChanged, changed),
            connect(model, &QAbstractItemModel::modelReset, changed),
            connect(model, &QAbstractItemModel::layoutChanged, changed)};
        form.FormCreate();
        for (const auto& connection : watched)
            disconnect(connection);

        // Emptied, then filled: the same for ten lines as for ten thousand.
        QVERIFY2(changes <= 2, qPrintable(QString::number(changes)));
        QCOMPARE(form.hostList().size(), lines + 2);
        QCOMPARE(form.hostList().constLast(), QString(300, QLatin1Char('x')));
        QCOMPARE(form.engine().settings().hosts(), form.hostList());
        form.SaveSettings();
        QCOMPARE(readAll(f.file("domains.cfg")), file);
    }
}

void TestSettings::firstRun()
{
    QSettings(QSettings::IniFormat, QSettings::UserScope, "Orlvane", "Orlvane_Tarnwick").clear();
    {
        FormFixture f;
        QCOMPARE(f.pages->opened, QStringList{product::kMakerHomePage});
        QVERIFY(f.form->isVisible());
    }
    QString marker;
    QVERIFY(platform::RegReadString(platform::RegistryRoot::CurrentUser, platform::kProductKey,
                                    QStringLiteral("fr"), marker));
    QCOMPARE(marker, QStringLiteral("1"));
    {
        FormFixture f;
        QVERIFY(f.pages->opened.isEmpty());
        QVERIFY(!f.form->isVisible());
    }
    // Anything but "1" counts as a first run.
    platform::RegWriteString(platform::RegistryRoot::CurrentUser, platform::kProductKey,
                             QStringLiteral("fr"), QStringLiteral("yes"));
    {
        FormFixture f;
        QCOMPARE(f.pages->opened.size(), 1);
    }
    QVERIFY(platform::RegReadString(platform::RegistryRoot::CurrentUser, platform::kProductKey,
                                    QStringLiteral("fr"), marker));
    QCOMPARE(marker, QStringLiteral("1"));
}

void TestSettings::everyTriggerWritesThrough()
{
    FormFixture f;
    ui::TForm1& form = *f.form;
    form.show();
    const QString config = f.file("config.cfg");

    // Emptying the Delay box is a change of its text: saved at once.
    form.Edit1->clear();
    QCOMPARE(readAll(config), QByteArray("1000\r\n-1\r\n2000\r\n32\r\n"));
    QCOMPARE(readAll(f.file("domains.cfg")), QByteArray("localhost\r\n"));

    // Every keystroke saves twice: the text change and the key release.
    for (const char key : {'1', '5', '0', '0'}) {
        const ino_t before = inodeOf(config);
        QTest::keyPress(form.Edit1, key);
        const ino_t afterPress = inodeOf(config);
        QVERIFY(afterPress != before);
        QTest::keyRelease(form.Edit1, key);
        QVERIFY(inodeOf(config) != afterPress);
    }
    QCOMPARE(form.Edit1->text(), QStringLiteral("1500"));
    QCOMPARE(readAll(config), QByteArray("1500\r\n-1\r\n2000\r\n32\r\n"));

    // A key release in the Time-out box saves too.
    ino_t before = inodeOf(config);
    QTest::keyClick(form.Edit4, Qt::Key_End);
    QVERIFY(inodeOf(config) != before);

    // Arrows of the up-down step and save; a right-button release saves alone.
    before = inodeOf(config);
    const QRect arrows = form.UpDown2->rect();
    QTest::mouseClick(form.UpDown2, Qt::LeftButton, {}, QPoint(arrows.width() / 2, 2));
    QCOMPARE(form.UpDown2->position(), 2500);
    QCOMPARE(readAll(config), QByteArray("1500\r\n-1\r\n2500\r\n32\r\n"));
    before = inodeOf(config);
    QTest::mouseClick(form.UpDown1, Qt::RightButton, {}, QPoint(arrows.width() / 2, 2));
    QCOMPARE(form.UpDown1->position(), 1500);
    QVERIFY(inodeOf(config) != before);

    // Unchecking with the mouse saves "0" and hides the autostart entry.
    QString path;
    QVERIFY(platform::RegReadString(platform::RegistryRoot::CurrentUser, platform::kRunKey,
                                    QStringLiteral("Orlvane_Tarnwick"), path));
    QCOMPARE(path, f.executablePath());
    QTest::mouseClick(form.CheckBox1, Qt::LeftButton);
    QVERIFY(!form.CheckBox1->isChecked());
    QCOMPARE(readAll(config), QByteArray("1500\r\n0\r\n2500\r\n32\r\n"));
    QVERIFY(QFile::exists(autostartEntryPath()));
    QVERIFY(readAll(autostartEntryPath()).contains("Hidden=true"));
    QVERIFY(platform::RegReadString(platform::RegistryRoot::CurrentUser, platform::kRunKey,
                                    QStringLiteral("Orlvane_Tarnwick"), path));
    QCOMPARE(path, QString());
    // A right-button release on the check box saves without toggling it.
    before = inodeOf(config);
    QTest::mouseClick(form.CheckBox1, Qt::RightButton);
    QVERIFY(!form.CheckBox1->isChecked());
    QVERIFY(inodeOf(config) != before);

    // Out-of-range text stays in the box; the up-down keeps its last value.
    form.Edit1->setText(QStringLiteral("99"));
    QCOMPARE(form.Edit1->text(), QStringLiteral("99"));
    QCOMPARE(form.UpDown1->position(), 1500);
    QCOMPARE(readAll(config), QByteArray("1500\r\n0\r\n2500\r\n32\r\n"));
}

void TestSettings::keyboardToggleSavesNothing()
{
    FormFixture f;
    ui::TForm1& form = *f.form;
    form.show();
    form.CheckBox1->setFocus();
    QTest::keyClick(form.CheckBox1, Qt::Key_Space);
    QVERIFY(!form.CheckBox1->isChecked());
    QVERIFY(!QFile::exists(f.file("config.cfg")));
    QVERIFY(!QFile::exists(autostartEntryPath()));
    // The next save, from any trigger, takes the new state along.
    QTest::keyClick(form.Edit4, Qt::Key_Home);
    QCOMPARE(readAll(f.file("config.cfg")), QByteArray("1000\r\n0\r\n2000\r\n32\r\n"));
}

void TestSettings::unwritableDataFolderReportsAndKeepsTheChange()
{
    FormFixture f;
    QStringList reported;
    setTopLevelErrorReporter([&](const QString& m) { reported << m; });
    QVERIFY(QDir(f.dataFolder()).removeRecursively());
    f.form->Edit1->setText(QStringLiteral("700"));
    setTopLevelErrorReporter(nullptr);
    QCOMPARE(reported.size(), 1);
    QCOMPARE(reported[0],
             QStringLiteral("Cannot create file \"%1/domains.cfg\". No such file or directory")
                 .arg(f.dataFolder()));
    QCOMPARE(f.form->Edit1->text(), QStringLiteral("700"));
    QCOMPARE(f.form->UpDown1->position(), 700);
    // The settings file comes after the host list file, so neither was written.
    QVERIFY(!QFile::exists(f.file("config.cfg")));
    QVERIFY(!QFile::exists(autostartEntryPath()));
}

void TestSettings::failedWriteLeavesTheOldFile()
{
    FormFixture f;
    f.form->SaveSettings();
    const QByteArray oldHosts = readAll(f.file("domains.cfg"));
    QStringList reported;
    setTopLevelErrorReporter([&](const QString& m) { reported << m; });

    // A file size limit makes the write fail part-way, as a full disk would.
    struct rlimit old {};
    getrlimit(RLIMIT_FSIZE, &old);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 8;
    setrlimit(RLIMIT_FSIZE, &small);
    f.form->ListBox1->addItem(QStringLiteral("a-rather-long-host-name.example"));
    QTest::keyClick(f.form->Edit4, Qt::Key_End);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    setTopLevelErrorReporter(nullptr);

    QCOMPARE(reported.size(), 1);
    QVERIFY2(reported[0].startsWith(
                 QStringLiteral("Cannot create file \"%1/domains.cfg\". ").arg(f.dataFolder())),
             qPrintable(reported[0]));
    QCOMPARE(readAll(f.file("domains.cfg")), oldHosts);
    QCOMPARE(QDir(f.dataFolder()).entryList(QDir::Files | QDir::Hidden),
             (QStringList{"config.cfg", "domains.cfg"}));
    QCOMPARE(f.form->hostList().size(), 2); // the change itself stands
}

void TestSettings::autostartEntry_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("exec");
    QTest::newRow("plain") << "/opt/tarnwick/tarnwick"
                           << "\"/opt/tarnwick/tarnwick\"";
    QTest::newRow("spaces") << "/home/ann/My Tools/tarnwick"
                            << "\"/home/ann/My Tools/tarnwick\"";
    QTest::newRow("quotes, dollar, backtick")
        << "/x/\"q\"/$HOME/`t`/tarnwick"
        << "\"/x/\\\\\"q\\\\\"/\\\\$HOME/\\\\`t\\\\`/tarnwick\"";
    QTest::newRow("backslash and percent") << "/x/a\\b/100%/tarnwick"
                                           << "\"/x/a\\\\\\\\b/100%%/tarnwick\"";
}

void TestSettings::autostartEntry()
{
    QFETCH(QString, program);
    QTEST(platform::desktopExecValue(program), "exec");
    QCOMPARE(platform::programPathFromExec(platform::desktopExecValue(program)), program);

    QVERIFY(platform::RegWriteString(platform::RegistryRoot::CurrentUser, platform::kRunKey,
                                     QStringLiteral("Orlvane_Tarnwick"), program));
    QFETCH(QString, exec);
    const QByteArray entry = readAll(autostartEntryPath());
    QVERIFY(entry.contains(("\nExec=" + exec + "\n").toUtf8()));
    QVERIFY(entry.contains("\nHidden=false\n"));
    QString back;
    QVERIFY(platform::RegReadString(platform::RegistryRoot::CurrentUser, platform::kRunKey,
                                    QStringLiteral("Orlvane_Tarnwick"), back));
    QCOMPARE(back, program);
    // Switching off keeps the entry (and where it points), hidden.
    QVERIFY(platform::RegWriteString(platform::RegistryRoot::CurrentUser, platform::kRunKey,
                                     QStringLiteral("Orlvane_Tarnwick"), QString()));
    const QByteArray hidden = readAll(autostartEntryPath());
    QVERIFY(hidden.contains(("\nExec=" + exec + "\n").toUtf8()));
    QVERIFY(hidden.contains("\nHidden=true\n"));
    QVERIFY(platform::RegReadString(platform::RegistryRoot::CurrentUser, platform::kRunKey,
                                    QStringLiteral("Orlvane_Tarnwick"), back));
    QCOMPARE(back, QString());
}

void TestSettings::storeValues()
{
    QString value = QStringLiteral("stale");
    QVERIFY(!platform::RegReadString(platform::RegistryRoot::CurrentUser, platform::kProductKey,
                                     QStringLiteral("missing"), value));
    QCOMPARE(value, QString());
    QVERIFY(!platform::RegReadString(platform::RegistryRoot::CurrentUser, platform::kRunKey,
                                     QStringLiteral("NoSuchEntry"), value));
    QVERIFY(platform::RegWriteString(platform::RegistryRoot::CurrentUser, platform::kProductKey,
                                     QStringLiteral("x"), QStringLiteral("a b=c;d")));
    QVERIFY(platform::RegReadString(platform::RegistryRoot::CurrentUser, platform::kProductKey,
                                    QStringLiteral("x"), value));
    QCOMPARE(value, QStringLiteral("a b=c;d"));
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
