// Every dialog the main window opens blocks that window only: a window of its
// own, as the tray icon's is, keeps taking clicks while the dialog waits.

#include "platform/user_store.h"
#include "support/form_fixture.h"
#include "ui/alerts_menu.h"
#include "ui/log_memo.h"
#include "ui/main_window.h"
#include "ui/small_windows.h"

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

using namespace tarnwick;
using tarnwick::test::FormFixture;

namespace {

// A top-level window of the program that is not the main window.
class ClickCounter : public QWidget {
public:
    ClickCounter()
    {
        setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
        resize(16, 16);
    }
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent*) override { ++presses; }
};

// What one modal window let through.
struct Seen {
    QString name;
    int iconPresses = 0;
    int mainClicks = 0;
};

} // namespace

class TestDialogModality : public QObject {
    Q_OBJECT
private slots:
    void init();
    void dialogsBlockTheirWindowOnly_data();
    void dialogsBlockTheirWindowOnly();
    void aboutAskedForAgainComesForward();
};

void TestDialogModality::init()
{
    platform::RegWriteString(platform::RegistryRoot::CurrentUser, platform::kProductKey,
                             QStringLiteral("fr"), QStringLiteral("1"));
}

void TestDialogModality::dialogsBlockTheirWindowOnly_data()
{
    QTest::addColumn<QString>("open");
    QTest::addColumn<bool>("mainShown");
    QTest::addColumn<QStringList>("modals");

    QTest::newRow("About from the tray, main window hidden")
        << "about" << false << QStringList{"AboutBox"};
    QTest::newRow("About from the main window") << "about" << true << QStringList{"AboutBox"};
    QTest::newRow("Input new host") << "add" << true << QStringList{"HostPrompt"};
    QTest::newRow("host-limit window") << "add at limit" << true << QStringList{"More_Form"};
    QTest::newRow("Save dialog") << "save" << true << QStringList{"SaveDialog1"};
    QTest::newRow("Save, then the replace question")
        << "save over" << true << QStringList{"SaveDialog1", "ReplaceQuestion"};
    QTest::newRow("alert thresholds") << "thresholds" << true << QStringList{"ThresholdsDialog"};
}

void TestDialogModality::dialogsBlockTheirWindowOnly()
{
    QFETCH(QString, open);
    QFETCH(bool, mainShown);
    QFETCH(QStringList, modals);

    FormFixture fixture;
    ui::TForm1& form = *fixture.form;
    // Stays put while the modal windows come and go.
    auto* probe = new QPushButton(QStringLiteral("probe"), form.centralWidget());
    probe->setGeometry(0, 0, 60, 20);
    probe->raise();
    int mainClicks = 0;
    connect(probe, &QPushButton::clicked, [&] { ++mainClicks; });
    if (mainShown) {
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
    }
    ClickCounter icon;
    icon.show();
    QVERIFY(QTest::qWaitForWindowExposed(&icon));

    const QString existing = fixture.file(QStringLiteral("saved.txt"));
    if (open == QLatin1String("save over")) {
        QFile f(existing);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    if (open == QLatin1String("add at limit")) {
        for (int i = form.ListBox1->count(); i < 5; ++i)
            form.ListBox1->addItem(QStringLiteral("host%1").arg(i));
    }

    // Each modal window in turn: a click on the other window and one on the
    // main window, then the window is answered.
    QList<Seen> seen;
    QTimer poll;
    poll.setInterval(10);
    QWidget* last = nullptr;
    connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == last || !modal->isVisible())
            return;
        last = modal;
        const int before = icon.presses;
        const int mainBefore = mainClicks;
        // Through the window system's path, where modality is applied.
        QTest::mouseClick(icon.windowHandle(), Qt::LeftButton, {}, QPoint(8, 8));
        if (mainShown)
            QTest::mouseClick(form.windowHandle(), Qt::LeftButton, {},
                              probe->mapTo(&form, probe->rect().center()));
        seen << Seen{modal->objectName(), icon.presses - before, mainClicks - mainBefore};
        if (auto* files = qobject_cast<QFileDialog*>(modal)) {
            if (open == QLatin1String("save over")) {
                files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(existing);
                static_cast<QDialog*>(files)->accept();
                return;
            }
        }
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
    });
    poll.start();

    if (open == QLatin1String("about"))
        form.About1->trigger();
    else if (open == QLatin1String("thresholds"))
        ui::TAlertsMenu({}, &form).Thresholds1->trigger();
    else if (open.startsWith(QLatin1String("add")))
        form.BitBtn1Click();
    else
        form.saveLog(0);
    poll.stop();
    form.waitForSaves();

    QStringList names;
    for (const Seen& s : seen) {
        names << s.name;
        QVERIFY2(s.iconPresses == 1, qPrintable(s.name + " blocked the other window"));
        QVERIFY2(s.mainClicks == 0, qPrintable(s.name + " let the main window be used"));
    }
    QCOMPARE(names, modals);
}

// The tray's About while the box is up: the box comes forward, it is not
// opened a second time inside itself.
void TestDialogModality::aboutAskedForAgainComesForward()
{
    FormFixture fixture;
    ui::TForm1& form = *fixture.form;
    QWidget other;
    int opened = 0;
    bool active = false;
    QTimer::singleShot(0, [&] {
        QVERIFY(QTest::qWaitFor([&] { return fixture.aboutBox()->isVisible(); }));
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        form.About1->trigger();
        active = QTest::qWaitForWindowActive(fixture.aboutBox());
        fixture.aboutBox()->reject();
    });
    connect(fixture.aboutBox(), &QDialog::finished, [&] { ++opened; });
    form.About1->trigger();
    QVERIFY(active);
    QCOMPARE(opened, 1);
}

QTEST_MAIN(TestDialogModality)
#include "tst_dialog_modality.moc"
