// The small windows on a real X server: each opened the way a user opens it,
// photographed while it is up (build/screenshots), and checked to be drawn
// inside the screen rather than blank.

#include "platform/user_store.h"
#include "support/form_fixture.h"
#include "support/modal.h"
#include "ui/host_prompt.h"
#include "ui/small_windows.h"

#include <QAction>
#include <QDeadlineTimer>
#include <QDir>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QtTest>

#include <set>

using namespace tarnwick;
using tarnwick::test::FormFixture;
using tarnwick::test::whenModalShown;

namespace {

QString screenshotPath(const QString& name)
{
    const QString dir = qEnvironmentVariable("TARNWICK_BUILD_DIR", QDir::tempPath()) +
                        QStringLiteral("/screenshots");
    QDir().mkpath(dir);
    return dir + QLatin1Char('/') + name;
}

// Photographs the whole screen while the dialog is up, then closes it.
// Gives the number of distinct colours inside the dialog.
void photographAndClose(const QString& name, int* colours, QRect* frame)
{
    whenModalShown([name, colours, frame](QWidget* dialog) {
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        // The server may show the window before its first paint lands.
        auto countColours = [dialog](const QImage& shot) {
            std::set<QRgb> seen;
            const QRect inside = dialog->geometry().intersected(shot.rect());
            for (int y = inside.top(); y <= inside.bottom(); y += 2)
                for (int x = inside.left(); x <= inside.right(); x += 2)
                    seen.insert(shot.pixel(x, y));
            return static_cast<int>(seen.size());
        };
        QImage shot;
        QDeadlineTimer deadline(3000);
        do {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
            *colours = countColours(shot);
        } while (*colours < 4 && !deadline.hasExpired());
        shot.save(screenshotPath(name));
        *frame = dialog->frameGeometry();
        dialog->close();
    });
}

} // namespace

class TestDialogScreens : public QObject {
    Q_OBJECT
private slots:
    void init();
    void photographs_data();
    void photographs();
};

void TestDialogScreens::init()
{
    platform::RegWriteString(platform::RegistryRoot::CurrentUser, platform::kProductKey,
                             QStringLiteral("fr"), QStringLiteral("1"));
}

void TestDialogScreens::photographs_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("hosts");
    QTest::addColumn<bool>("viaMenu");
    QTest::newRow("About box") << "about_box.png" << 1 << true;
    QTest::newRow("host-limit window") << "host_limit.png" << 5 << false;
    QTest::newRow("host prompt") << "host_prompt.png" << 1 << false;
}

void TestDialogScreens::photographs()
{
    QFETCH(QString, file);
    QFETCH(int, hosts);
    QFETCH(bool, viaMenu);
    FormFixture f;
    f.form->ListBox1->clear();
    for (int k = 0; k < hosts; ++k)
        f.form->ListBox1->addItem(QStringLiteral("host%1").arg(k));
    f.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.form));

    int colours = 0;
    QRect frame;
    photographAndClose(file, &colours, &frame);
    if (viaMenu)
        f.form->About1->trigger();
    else
        QTest::mouseClick(f.form->BitBtn1, Qt::LeftButton);

    QVERIFY2(QFile::exists(screenshotPath(file)), qPrintable(screenshotPath(file)));
    QVERIFY(QGuiApplication::primaryScreen()->geometry().contains(frame));
    // Text, buttons and frame: a blank or unpainted window has one or two.
    QVERIFY2(colours >= 4, qPrintable(QString::number(colours)));
}

QTEST_MAIN(TestDialogScreens)
#include "tst_dialog_screens.moc"
