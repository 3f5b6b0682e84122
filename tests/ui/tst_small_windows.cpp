// The host prompt, the About box, the host-limit window and the links.

#include "core/product.h"
#include "platform/user_store.h"
#include "support/form_fixture.h"
#include "support/modal.h"
#include "ui/host_prompt.h"
#include "ui/small_windows.h"

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

using namespace tarnwick;
using tarnwick::test::FormFixture;
using tarnwick::test::whenModalShown;

class TestSmallWindows : public QObject {
    Q_OBJECT
private slots:
    void init();
    void hostPrompt();
    void aboutBox();
    void aboutLinkOpensThePageAndCloses();
    void hostLimitWindow();
    void proButtonOnTheMainWindow();
    void dialogsLiveAndGoWithTheirWindow();
};

void TestSmallWindows::init()
{
    platform::RegWriteString(platform::RegistryRoot::CurrentUser, platform::kProductKey,
                             QStringLiteral("fr"), QStringLiteral("1"));
}

void TestSmallWindows::hostPrompt()
{
    ui::THostPrompt prompt(QStringLiteral("Input host"), QStringLiteral("Host: "),
                           QStringLiteral("localhost"));
    QCOMPARE(prompt.windowTitle(), QStringLiteral("Input host"));
    QCOMPARE(prompt.Prompt->text(), QStringLiteral("Host: "));
    QVERIFY(prompt.OKButton->isDefault());
    QCOMPARE(prompt.CancelButton->text(), QStringLiteral("Cancel"));

    // At most 255 characters; Escape gives nothing, Enter the text.
    whenModalShown([](QWidget* w) {
        auto* p = qobject_cast<ui::THostPrompt*>(w);
        QTest::keyClicks(p->Edit, QString(300, QLatin1Char('x')));
        QTest::keyClick(p->Edit, Qt::Key_Return);
    });
    QCOMPARE(prompt.exec(), int(QDialog::Accepted));
    QCOMPARE(prompt.text(), QString(255, QLatin1Char('x')));

    QString value = QStringLiteral("keep");
    int offCentre = -1;
    whenModalShown([&](QWidget* w) {
        auto* p = qobject_cast<ui::THostPrompt*>(w);
        const QPoint centre = p->screen()->availableGeometry().center();
        offCentre = (p->frameGeometry().center() - centre).manhattanLength();
        QTest::keyClicks(p->Edit, QStringLiteral("other"));
        QTest::keyClick(p->Edit, Qt::Key_Escape);
    });
    QVERIFY(!ui::InputQuery(QStringLiteral("Input new host"), QStringLiteral("Host: "), value));
    QCOMPARE(value, QStringLiteral("keep"));
    QVERIFY2(offCentre >= 0 && offCentre <= 2, qPrintable(QString::number(offCentre)));
}

void TestSmallWindows::aboutBox()
{
    FormFixture f;
    f.form->show();
    ui::TAboutBox* box = f.aboutBox();
    QCOMPARE(box->windowTitle(), QStringLiteral("About..."));
    QCOMPARE(box->size(), QSize(183, 195));
    QCOMPARE(box->ProductName->text(), QStringLiteral("Orlvane Auto Tarnwick"));
    QCOMPARE(box->Version->text(), QStringLiteral("Version 1.5"));
    QCOMPARE(box->Copyright->text(), QString());
    QCOMPARE(box->Comments->text(), QStringLiteral("Auto Tarnwick is a small auto ping utility."));
    QCOMPARE(box->Label1->text(), QStringLiteral("Our website: www.orlvane.example"));
    QCOMPARE(box->Label1->cursor().shape(), Qt::PointingHandCursor);
    // The address is one word: the desktop's font must not cut it off, and
    // the link stays inside its panel.
    QVERIFY(box->Label1->fontMetrics().horizontalAdvance(QStringLiteral("www.orlvane.example")) <=
            box->Label1->width());
    QVERIFY(box->Panel1->rect().contains(box->Label1->geometry()));
    QCOMPARE(box->OKButton->geometry().topLeft(), QPoint(4, 169));
    QVERIFY(!(box->windowFlags() & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(box->windowFlags() & Qt::WindowMaximizeButtonHint));

    // "Help" > "About..." shows it modally, centred over the main window;
    // Enter presses OK. Shown twice: the same box is reused.
    for (int round = 0; round < 2; ++round) {
        bool modal = false;
        QPoint offset;
        whenModalShown([&](QWidget* w) {
            modal = w == box && box->isModal();
            offset = w->frameGeometry().center() - f.form->frameGeometry().center();
            QTest::keyClick(box, Qt::Key_Return);
        });
        f.form->About1->trigger();
        QVERIFY(modal);
        QVERIFY2(offset.manhattanLength() <= 2,
                 qPrintable(QStringLiteral("%1,%2").arg(offset.x()).arg(offset.y())));
        QVERIFY(!box->isVisible());
    }
    QVERIFY(f.pages->opened.isEmpty());
}

void TestSmallWindows::aboutLinkOpensThePageAndCloses()
{
    FormFixture f;
    whenModalShown([&](QWidget*) { QTest::mouseClick(f.aboutBox()->Label1, Qt::LeftButton); });
    f.form->About1Click();
    QVERIFY(!f.aboutBox()->isVisible());
    QCOMPARE(f.pages->opened, QStringList{product::kUtilityPage});
}

void TestSmallWindows::hostLimitWindow()
{
    FormFixture f;
    ui::TMore_Form* more = f.moreForm();
    QCOMPARE(more->windowTitle(), QStringLiteral("Error!"));
    QCOMPARE(more->size(), QSize(285, 105));
    QCOMPARE(more->GroupBox1->title(), QStringLiteral("The maximum number of hosts!"));
    QCOMPARE(more->Label1->text(), QStringLiteral("Maximum count of hosts is 5!"));
    QCOMPARE(more->Label2->text(), QStringLiteral("If you need more - use Tarnwick Pro"));
    QCOMPARE(more->BitBtn1->text(), QStringLiteral("Close"));
    QCOMPARE(more->BitBtn2->text(), QStringLiteral("Download Pro"));

    f.form->ListBox1->clear();
    f.form->ListBox1->addItems({"a", "b", "c", "d", "e"});
    QPoint at;
    whenModalShown([&](QWidget* w) {
        at = w->pos();
        QTest::mouseClick(more->BitBtn2, Qt::LeftButton);
    });
    QTest::mouseClick(f.form->BitBtn1, Qt::LeftButton);
    QCOMPARE(at, ui::TMore_Form::kDesignedPosition);
    QVERIFY(!more->isVisible());
    QCOMPARE(f.pages->opened, QStringList{product::kProPageFromLimit});
    QCOMPARE(f.form->ListBox1->count(), 5);

    // The close box closes it as "Close" does, and adds nothing either.
    whenModalShown([&](QWidget* w) { w->close(); });
    QTest::mouseClick(f.form->BitBtn1, Qt::LeftButton);
    QVERIFY(!more->isVisible());
    QCOMPARE(f.form->ListBox1->count(), 5);
    QCOMPARE(f.pages->opened.size(), 1);
}

void TestSmallWindows::proButtonOnTheMainWindow()
{
    FormFixture f;
    f.form->show();
    const QStringList hosts = f.form->hostList();
    QTest::mouseClick(f.form->BitBtn27, Qt::LeftButton);
    QCOMPARE(f.pages->opened, QStringList{product::kProPageFromMain});
    QVERIFY(f.form->isVisible());
    QCOMPARE(f.form->hostList(), hosts);
    QVERIFY(!QApplication::activeModalWidget());
}

// Made before the main window and outliving it: asking for a dialog before it
// exists or after the window took it with it does nothing, and neither end
// deletes a dialog twice.
void TestSmallWindows::dialogsLiveAndGoWithTheirWindow()
{
    test::RecordingPageOpener pages;
    ui::SmallWindows windows(pages);
    windows.showAbout();
    windows.showHostLimit();
    QVERIFY(!windows.aboutBox());

    auto main = std::make_unique<QWidget>();
    windows.create(main.get());
    QCOMPARE(windows.aboutBox()->parentWidget(), main.get());
    QCOMPARE(windows.moreForm()->parentWidget(), main.get());
    int shown = 0;
    whenModalShown([&](QWidget* w) {
        shown += w == windows.moreForm() ? 1 : 0;
        qobject_cast<QDialog*>(w)->reject();
    });
    windows.showHostLimit();
    QCOMPARE(shown, 1);

    main.reset();
    QVERIFY(!windows.aboutBox());
    QVERIFY(!windows.moreForm());
    windows.showAbout();
    windows.showHostLimit();
}

QTEST_MAIN(TestSmallWindows)
#include "tst_small_windows.moc"
