// The window behind the visible tray icon: how the icon is loaded, its menu
// and click, the hover hint on manual time, where the hint goes and how big
// it is, and the tooltip route for areas that cannot report hover.
#include "support/memory_notify_area.h"
#include "support/tray_doubles.h"
#include "tray/hint_window.h"
#include "tray/popup_menu.h"
#include "tray/text_tray_icon.h"
#include "tray/tray_window.h"

#include <QAction>
#include <QDialog>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace tarnwick::tray;
using tarnwick::platform::Capability;
using tarnwick::platform::MemoryNotifyArea;
using Code = tarnwick::platform::NotificationCode;
using Kind = MemoryNotifyArea::RequestKind;

namespace {

QIcon solidIcon(QColor colour)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(colour);
    return QIcon(pixmap);
}

QColor pixelOf(const QIcon& icon, QPoint at = {8, 8})
{
    return icon.pixmap(16, 16).toImage().pixelColor(at);
}

// The main window as the tray window sees it, recording every call.
struct RecordingMain {
    MainWindowLink link()
    {
        MainWindowLink l;
        l.resultsSummaryText = [this] { return summary; };
        l.statusIconImage1 = [] { return solidIcon(Qt::blue); };
        l.mainWindowVisible = [this] { return visible; };
        l.showMainWindow = [this] { calls << "show"; };
        l.about = [this] { calls << "about"; };
        l.closeMainWindow = [this] { calls << "close"; };
        l.openHelp = [this] { calls << "help"; };
        return l;
    }
    QString summary = QStringLiteral("Reply from a\r\n-----\r\nRequested Timed out.\r\n");
    bool visible = false;
    QStringList calls;
};

} // namespace

class TestTrayWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void loadsAsItsFormFileSays();
    void hoverHint_data();
    void hoverHint();
    void hintShowsTheSummaryAboveTheCursor();
    void placement_data();
    void placement();
    void hintSize();
    void tiling_data();
    void tiling();
    void menuAndClick_data();
    void menuAndClick();
    void summaryTooltip_data();
    void summaryTooltip();
    void summaryHeadsTheMenuWithoutHover();
    void clickBringsAWaitingDialogForward_data();
    void clickBringsAWaitingDialogForward();

private:
    void run(const QString& script, QStringList& log);

    // First in, last out: the form's timers take the manual clock.
    tarnwick::test::ManualTime m_ticks;
    ManualDesktop m_desktop;
    MemoryNotifyArea* m_area = nullptr;
    RecordingMain m_main;
    std::unique_ptr<TForm2> m_form;
};

void TestTrayWindow::initTestCase()
{
    TTrayIconHandler::useAreaFactory([this] {
        auto area = std::make_unique<MemoryNotifyArea>();
        m_area = area.get();
        return area;
    });
}

void TestTrayWindow::init()
{
    m_desktop = ManualDesktop();
    m_main = RecordingMain();
    m_form = std::make_unique<TForm2>(m_main.link(), m_desktop);
}

void TestTrayWindow::cleanup()
{
    m_form.reset();
    QVERIFY(!TTrayIconHandler::instance());
}

void TestTrayWindow::loadsAsItsFormFileSays()
{
    TTextTrayIcon* icon = m_form->TextTrayIcon1;
    // Added with the form's own picture, then painted with "OO", then given
    // the status picture.
    QList<MemoryNotifyArea::Request> shown;
    for (const auto& r : m_area->requests()) {
        if (r.succeeded && (r.kind == Kind::Add || r.kind == Kind::Modify))
            shown << r;
    }
    QVERIFY(shown.size() >= 3);
    QCOMPARE(shown.first().kind, Kind::Add);
    QCOMPARE(pixelOf(shown.first().state.image), QColor(clWhite));
    QCOMPARE(pixelOf(shown.first().state.image, {0, 8}), QColor(clNavy));
    // The painting ("OO" in a black frame) came between the two pictures.
    const auto painted = std::find_if(shown.cbegin(), shown.cend(), [](const auto& r) {
        return pixelOf(r.state.image, {0, 0}) == QColor(clBlack);
    });
    QVERIFY(painted != shown.cend() && painted != shown.cend() - 1);
    QCOMPARE(pixelOf(icon->icon()), QColor(Qt::blue));
    QCOMPARE(pixelOf(m_area->icons().value(icon->iconId()).state.image), QColor(Qt::blue));
    QCOMPARE(icon->text(), QStringLiteral("OO"));
    QCOMPARE(icon->font().color, QColor(clNavy));
    QCOMPARE(icon->font().font.pixelSize(), 24);
    QCOMPARE(icon->color(), QColor(clWhite));
    QVERIFY(icon->border());
    QVERIFY(icon->iconVisible());
    QVERIFY(!icon->showHint());
    QVERIFY(icon->wantEnterExitEvents());
    QCOMPARE(icon->popupMenu(), m_form->PopupMenu1);
    QCOMPARE(m_area->icons().value(icon->iconId()).state.tooltip, QString());
    // The text painting happened: white square, navy frame cut off by "OO".
    QCOMPARE(icon->textBitmap().pixelColor(0, 0), QColor(clBlack));

    QStringList captions;
    for (QAction* item : m_form->PopupMenu1->actions())
        captions << (item->isSeparator() ? QStringLiteral("-") : item->text());
    QCOMPARE(captions, (QStringList{"Show main window", "Help", "About...", "-", "E&xit"}));
    for (const char* name :
         {"TextTrayIcon1", "PopupMenu1", "Showmainwindow1", "Help1", "About1", "N1", "Exit1",
          "Button1", "Timer1", "Timer2", "PlainHint", "TiledHint"})
        QVERIFY2(m_form->findChild<QObject*>(QLatin1String(name)), name);
    QCOMPARE(m_form->Button1->text(), QStringLiteral("E&xit"));
    QVERIFY(!m_form->isVisible());

    QCOMPARE(m_form->Timer1->interval(), 500);
    QCOMPARE(m_form->Timer2->interval(), 2500);
    QVERIFY(!m_form->Timer1->enabled() && !m_form->Timer2->enabled());
    QCOMPARE(m_form->ActiveHint, m_form->PlainHint);
    QCOMPARE(m_form->PlainHint->color(), QColor(254, 253, 216));
    QCOMPARE(m_form->PlainHint->font().pointSize(), 10);
    QCOMPARE(m_form->TiledHint->fontColor(), QColor(clWhite));
    const Qt::WindowFlags flags = m_form->PlainHint->windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowDoesNotAcceptFocus));
    QVERIFY(flags.testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(m_form->PlainHint->testAttribute(Qt::WA_ShowWithoutActivating));
}

// Tokens: MV@x,y (the cursor comes to x,y over the icon), LD, LU, RD, RU
// (a button goes down or up where the cursor is), menu and unmenu (the menu
// opens or closes by other means), away (the cursor leaves the icon), +ms
// (time passes), ? (logs shown|hidden and the hint's state: idle, waiting or
// holding).
void TestTrayWindow::run(const QString& script, QStringList& log)
{
    const QHash<QString, Code> buttons{{"LD", Code::LeftDown},
                                       {"LU", Code::LeftUp},
                                       {"RD", Code::RightDown},
                                       {"RU", Code::RightUp}};
    const quint32 id = m_form->TextTrayIcon1->iconId();
    for (const QString& token : script.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (token.startsWith(QLatin1String("MV@"))) {
            const QStringList xy = token.mid(3).split(QLatin1Char(','));
            const QPoint at(xy.value(0).toInt(), xy.value(1).toInt());
            m_desktop.cursor = at;
            QVERIFY(m_area->inject(id, Code::Move, at));
        } else if (buttons.contains(token)) {
            QVERIFY(m_area->inject(id, buttons.value(token), m_desktop.cursor.value_or(QPoint())));
        } else if (token == QLatin1String("menu")) {
            m_form->PopupMenu1->popup(QPoint(600, 400));
        } else if (token == QLatin1String("unmenu")) {
            m_form->PopupMenu1->close();
        } else if (token == QLatin1String("away")) {
            m_desktop.cursor = QPoint(3, 3);
        } else if (token.startsWith(QLatin1Char('+'))) {
            m_ticks.advance(token.mid(1).toInt());
        } else if (token == QLatin1String("?")) {
            const QString state = m_form->Timer2->enabled()   ? QStringLiteral("holding")
                                  : m_form->Timer1->enabled() ? QStringLiteral("waiting")
                                                              : QStringLiteral("idle");
            log << (m_form->PlainHint->isVisible() ? "shown:" : "hidden:") + state;
        } else {
            QFAIL(qPrintable(token));
        }
    }
}

void TestTrayWindow::hoverHint_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("expected");

    // The cursor leaves: two 20 ms polls, then the exit.
    QTest::newRow("half a second after the cursor arrives")
        << "? MV@700,500 ? +499 ? +1 ?"
        << "hidden:idle hidden:waiting hidden:waiting shown:holding";
    QTest::newRow("moves over the icon do not restart the pause")
        << "MV@700,500 +300 MV@701,500 +199 ? +1 ?"
        << "hidden:waiting shown:holding";
    QTest::newRow("the first hint lives 2500 ms") << "MV@700,500 +500 +2499 ? +1 ?"
                                                  << "shown:holding hidden:idle";
    QTest::newRow("it stays down while the cursor rests on") << "MV@700,500 +500 +2500 +9000 ?"
                                                             << "hidden:idle";
    QTest::newRow("leaving hides it at once") << "MV@700,500 +600 ? away +40 ?"
                                              << "shown:holding hidden:idle";
    QTest::newRow("leaving while waiting shows nothing") << "MV@700,500 +300 away +40 +1000 ?"
                                                         << "hidden:idle";
    QTest::newRow("after leaving once, hints live 5000 ms")
        << "MV@700,500 +500 away +40 MV@705,500 +500 ? +4999 ? +1 ?"
        << "shown:holding shown:holding hidden:idle";
    QTest::newRow("back at the position of the last display: no hint")
        << "MV@700,500 +500 away +40 MV@700,500 +500 ? +4999 ? +1 ?"
        << "hidden:holding hidden:holding hidden:idle";
    QTest::newRow("a right click opens the menu, and no hint comes over it")
        << "MV@700,500 RD RU +500 ? +3000 ?"
        << "hidden:idle hidden:idle";
    QTest::newRow("a click soon after arriving: no hint flashes up")
        << "MV@700,500 +200 LD LU +300 ? +3000 ?"
        << "hidden:idle hidden:idle";
    QTest::newRow("a press while the hint is up takes it down") << "MV@700,500 +600 ? LD ?"
                                                                << "shown:holding hidden:idle";
    QTest::newRow("the menu opens over a shown hint: the hint goes") << "MV@700,500 +600 menu ?"
                                                                     << "hidden:idle";
    QTest::newRow("the cursor arrives while the menu is open: no hint") << "menu MV@700,500 +500 ?"
                                                                        << "hidden:idle";
    QTest::newRow("after the menu, the next stay gets its hint")
        << "MV@700,500 RD RU unmenu away +40 MV@710,500 +500 ?"
        << "shown:holding";
    QTest::newRow("the intervals start over after every exit")
        << "MV@700,500 +500 away +40 MV@710,500 +500 away +40 MV@720,500 +499 ? +1 ? +4999 ? +1 ?"
        << "hidden:waiting shown:holding shown:holding hidden:idle";
}

void TestTrayWindow::hoverHint()
{
    QFETCH(QString, script);
    QFETCH(QString, expected);
    QStringList log;
    run(script, log);
    QCOMPARE(log.join(QLatin1Char(' ')), expected);
}

void TestTrayWindow::hintShowsTheSummaryAboveTheCursor()
{
    QStringList log;
    m_main.summary = QStringLiteral("first\r\nsecond\r\n");
    const QPoint cursor(700, 500);
    run("MV@700,500 +500", log);
    THintWindow* hint = m_form->PlainHint;
    QVERIFY(hint->isVisible());
    QCOMPARE(hint->text(), m_main.summary);
    QCOMPARE(m_form->HintText, m_main.summary);
    // Its full height, the bottom edge 17 px above the cursor, the right edge
    // at it.
    const int screenWidth = QGuiApplication::screenAt(cursor)->geometry().width();
    QCOMPARE(hint->height(), hint->CalcHintRect(screenWidth, m_main.summary).height());
    QCOMPARE(hint->geometry().right() + 1, cursor.x());
    QCOMPARE(hint->geometry().bottom() + 1, cursor.y() - 17);
    QCOMPARE(m_form->ShownPos, cursor);
}

void TestTrayWindow::placement_data()
{
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QPoint>("cursor");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QRect>("expected");

    const QRect bottomPanel(0, 0, 1024, 740);
    const QSize hint(300, 200);
    QTest::newRow("room above: right edge at the cursor, bottom 17 px above")
        << bottomPanel << QPoint(900, 750) << hint << QRect(600, 533, 300, 200);
    QTest::newRow("left edge would stick out: moved right")
        << bottomPanel << QPoint(100, 750) << hint << QRect(0, 533, 300, 200);
    QTest::newRow("cursor right of the work area: moved left")
        << QRect(0, 0, 990, 768) << QPoint(1010, 500) << hint << QRect(690, 283, 300, 200);
    QTest::newRow("panel at the top: below the cursor, in the work area")
        << QRect(0, 30, 1024, 738) << QPoint(1000, 10) << hint << QRect(700, 34, 300, 200);
    QTest::newRow("top panel without a work area of its own: below, not over the cursor")
        << QRect(0, 0, 1024, 768) << QPoint(1000, 12) << hint << QRect(700, 36, 300, 200);
    QTest::newRow("below would stick out at the bottom: moved up")
        << QRect(0, 0, 1024, 230) << QPoint(500, 20) << hint << QRect(200, 30, 300, 200);
    QTest::newRow("taller than the work area: the top edge wins")
        << QRect(0, 0, 1024, 300) << QPoint(500, 150) << QSize(200, 400) << QRect(300, 0, 200, 400);
    QTest::newRow("wider than the work area: the left edge wins")
        << QRect(0, 0, 400, 768) << QPoint(300, 700) << QSize(600, 100) << QRect(0, 583, 600, 100);
    QTest::newRow("a work area that does not start at 0, 0")
        << QRect(1024, 100, 800, 600) << QPoint(1030, 650) << QSize(100, 50)
        << QRect(1024, 583, 100, 50);
}

void TestTrayWindow::placement()
{
    QFETCH(QRect, available);
    QFETCH(QPoint, cursor);
    QFETCH(QSize, size);
    QFETCH(QRect, expected);
    QCOMPARE(placeHint(cursor, size, available), expected);
}

void TestTrayWindow::hintSize()
{
    THintWindow* hint = m_form->PlainHint;
    const QFontMetrics fm = hint->fontMetrics();
    const int screenWidth = 800;
    QStringList lines;
    for (int i = 0; i < 14; ++i)
        lines << QStringLiteral("Reply from 198.18.0.%1: bytes=32 time=23 ms").arg(i);
    const QString summary = lines.join(QLatin1String("\r\n")) + QLatin1String("\r\n");

    const QRect whole = hint->CalcHintRect(screenWidth, summary);
    const QString thirteen = lines.mid(0, 13).join(QLatin1String("\r\n"));
    QVERIFY(whole.height() > hint->CalcHintRect(screenWidth, thirteen).height());
    QVERIFY(whole.height() >= 14 * fm.height());
    QVERIFY(whole.width() > fm.horizontalAdvance(lines.last()));
    // The line break at the end ends the last line; it adds none.
    QCOMPARE(hint->CalcHintRect(screenWidth, summary),
             hint->CalcHintRect(screenWidth, summary.chopped(2)));
    // No line is wider than the screen: a longer one wraps.
    const QString longLine = QStringLiteral("word ").repeated(60);
    const QRect wrapped = hint->CalcHintRect(screenWidth, longLine);
    QVERIFY(wrapped.width() <= screenWidth);
    QVERIFY(wrapped.height() >= 2 * fm.lineSpacing());
}

void TestTrayWindow::tiling_data()
{
    QTest::addColumn<QSize>("client");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("rows");

    QTest::newRow("smaller than a tile: one") << QSize(100, 60) << 1 << 1;
    QTest::newRow("exactly one tile after the 2 px: one more each way")
        << QSize(162, 162) << 2 << 2;
    QTest::newRow("just short of it") << QSize(161, 161) << 1 << 1;
    QTest::newRow("wide and low") << QSize(330, 170) << 3 << 2;
}

void TestTrayWindow::tiling()
{
    QFETCH(QSize, client);
    QFETCH(int, columns);
    QFETCH(int, rows);

    const QSize tile(160, 160);
    const QList<QPoint> positions = TTiledHintWindow::tilePositions(client, tile);
    QCOMPARE(positions.size(), columns * rows);
    for (int c = 0; c < columns; ++c) {
        for (int r = 0; r < rows; ++r)
            QVERIFY(positions.contains(QPoint(c * 160, r * 160)));
    }

    // The window draws them: the last column's tile shows where it begins.
    TTiledHintWindow* hint = m_form->TiledHint;
    hint->resize(client);
    const QImage shot = hint->grab().toImage();
    const QPoint inLastTile((columns - 1) * 160 + 5, (rows - 1) * 160 + 5);
    if (inLastTile.x() < client.width() && inLastTile.y() < client.height())
        QCOMPARE(shot.pixelColor(inLastTile), hint->tile().pixelColor(5, 5));
}

void TestTrayWindow::menuAndClick_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<bool>("mainVisible");
    QTest::addColumn<QString>("calls");

    QTest::newRow("Show main window") << "Showmainwindow1" << false << "show";
    QTest::newRow("Show main window, already visible: nothing") << "Showmainwindow1" << true << "";
    QTest::newRow("a click on the icon shows it") << "click" << false << "show";
    QTest::newRow("a click with the main window visible: nothing") << "click" << true << "";
    QTest::newRow("Help") << "Help1" << false << "help";
    QTest::newRow("About...") << "About1" << true << "about";
    QTest::newRow("Exit") << "Exit1" << true << "close";
    QTest::newRow("the hidden Exit button") << "Button1" << false << "close";
}

void TestTrayWindow::menuAndClick()
{
    QFETCH(QString, what);
    QFETCH(bool, mainVisible);
    QFETCH(QString, calls);

    m_main.visible = mainVisible;
    if (what == QLatin1String("click")) {
        const quint32 id = m_form->TextTrayIcon1->iconId();
        QVERIFY(m_area->inject(id, Code::LeftDown, QPoint(700, 500)));
        QVERIFY(m_area->inject(id, Code::LeftUp, QPoint(700, 500)));
    } else if (what == QLatin1String("Button1")) {
        m_form->Button1->click();
    } else {
        auto* item = m_form->findChild<QAction*>(what);
        QVERIFY(item);
        item->trigger();
    }
    QCOMPARE(m_main.calls.join(QLatin1Char(' ')), calls);
}

void TestTrayWindow::summaryTooltip_data()
{
    QTest::addColumn<bool>("motion");
    QTest::addColumn<QString>("tooltip");

    QTest::newRow("hover reported: the hint is the only route") << true << "";
    QTest::newRow("no hover: the whole summary, a line each")
        << false << "Reply from a\n-----\nRequested Timed out.";
}

void TestTrayWindow::summaryTooltip()
{
    QFETCH(bool, motion);
    QFETCH(QString, tooltip);

    if (!motion)
        m_area->setCapabilities(m_area->capabilities().setFlag(Capability::Motion, false));
    const quint32 id = m_form->TextTrayIcon1->iconId();
    m_form->resultsSummaryChanged();
    QCOMPARE(m_area->icons().value(id).state.tooltip, tooltip);
    // Rebuilt every second: the tooltip follows.
    m_main.summary = QStringLiteral("newer\r\n");
    m_form->resultsSummaryChanged();
    QCOMPARE(m_area->icons().value(id).state.tooltip, motion ? QString() : QStringLiteral("newer"));
}

void TestTrayWindow::summaryHeadsTheMenuWithoutHover()
{
    const auto captions = [this] {
        QStringList shown;
        for (QAction* item : m_form->PopupMenu1->actions())
            shown << (item->isSeparator() ? QStringLiteral("-") : item->text());
        return shown;
    };
    const QStringList ownItems{"Show main window", "Help", "About...", "-", "E&xit"};
    QCOMPARE(m_form->menuSummaryLines(), QStringList());
    QCOMPARE(captions(), ownItems);

    // An area that reports no motion: a right click opens the menu, and the
    // summary heads it, a line each, none of them to be chosen.
    m_area->setCapabilities(m_area->capabilities().setFlag(Capability::Motion, false));
    const quint32 id = m_form->TextTrayIcon1->iconId();
    m_desktop.cursor = QPoint(700, 500);
    QVERIFY(m_area->inject(id, Code::RightDown, QPoint(700, 500)));
    QVERIFY(m_form->PopupMenu1->isVisible());
    QCOMPARE(captions(),
             QStringList({"Reply from a", "-----", "Requested Timed out.", "-"}) + ownItems);
    for (int i = 0; i < 3; ++i)
        QVERIFY(!m_form->PopupMenu1->actions().at(i)->isEnabled());

    // Refreshed while open, with the lines as they are.
    m_main.summary = QStringLiteral("R&D host up\r\n\r\n-----\r\n");
    m_form->resultsSummaryChanged();
    QCOMPARE(m_form->menuSummaryLines(), QStringList({"R&D host up", "", "-----"}));
    QCOMPARE(captions().mid(3), QStringList({"-"}) + ownItems);
    m_main.summary = QStringLiteral("one\r\ntwo\r\n");
    m_form->resultsSummaryChanged();
    QCOMPARE(m_form->menuSummaryLines(), QStringList({"one", "two"}));
    QCOMPARE(captions(), QStringList({"one", "two", "-"}) + ownItems);
    // The items still do what they did.
    m_form->Showmainwindow1->trigger();
    QCOMPARE(m_main.calls, QStringList{"show"});

    // Hover found out later: the hint is the route, the menu its own again.
    m_form->PopupMenu1->close();
    m_area->setCapabilities(m_area->capabilities().setFlag(Capability::Motion, true));
    QCOMPARE(captions(), ownItems);
    m_form->resultsSummaryChanged();
    QCOMPARE(captions(), ownItems);
}

void TestTrayWindow::clickBringsAWaitingDialogForward_data()
{
    QTest::addColumn<bool>("mainVisible");
    QTest::addColumn<QString>("calls");
    QTest::newRow("main window shown") << true << "";
    QTest::newRow("main window hidden: shown, the dialog above it") << false << "show";
}

void TestTrayWindow::clickBringsAWaitingDialogForward()
{
    QFETCH(bool, mainVisible);
    QFETCH(QString, calls);
    m_main.visible = mainVisible;
    QWidget owner;
    QDialog dialog(&owner);
    dialog.setWindowModality(Qt::WindowModal);
    QWidget other;
    bool forward = false;
    QTimer::singleShot(0, [&] {
        if (!QTest::qWaitForWindowExposed(&dialog))
            return dialog.reject();
        other.show();
        other.activateWindow();
        if (QTest::qWaitForWindowActive(&other)) {
            const quint32 id = m_form->TextTrayIcon1->iconId();
            m_area->inject(id, Code::LeftDown, QPoint(700, 500));
            m_area->inject(id, Code::LeftUp, QPoint(700, 500));
            forward = QTest::qWaitForWindowActive(&dialog);
        }
        dialog.reject();
    });
    dialog.exec();
    QVERIFY(forward);
    QCOMPARE(m_main.calls.join(QLatin1Char(' ')), calls);
}

QTEST_MAIN(TestTrayWindow)
#include "tst_tray_window.moc"
