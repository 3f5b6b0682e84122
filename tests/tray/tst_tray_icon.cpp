// The tray icon component against the in-memory notification area, with the
// clock and the cursor in the test's hands.
#include "support/memory_notify_area.h"
#include "support/tray_doubles.h"
#include "tray/application_state.h"
#include "tray/tray_icon.h"

#include <QAction>
#include <QMainWindow>
#include <QMdiArea>
#include <QPainter>
#include <QtTest>

#include <memory>

using namespace tarnwick::tray;
using tarnwick::platform::Capability;
using tarnwick::platform::MemoryNotifyArea;
using Code = tarnwick::platform::NotificationCode;
using Kind = MemoryNotifyArea::RequestKind;

namespace {

QImage solid(QColor colour)
{
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

QColor shownColour(const QIcon& icon)
{
    return icon.pixmap(16, 16).toImage().pixelColor(8, 8);
}

QString buttonName(TMouseButton b)
{
    return b == mbLeft    ? QStringLiteral("L")
           : b == mbRight ? QStringLiteral("R")
                          : QStringLiteral("M");
}

QString shiftName(TShiftState s)
{
    QStringList parts;
    const std::pair<TShiftStateFlag, const char*> names[] = {
        {ssShift, "shift"}, {ssCtrl, "ctrl"},   {ssAlt, "alt"},
        {ssLeft, "left"},   {ssRight, "right"}, {ssMiddle, "middle"}};
    for (const auto& [flag, name] : names) {
        if (s & flag)
            parts << QLatin1String(name);
    }
    return parts.join(QLatin1Char('+'));
}

} // namespace

class TestTrayIcon : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void mouseScenarios_data();
    void mouseScenarios();
    void tooltipRule_data();
    void tooltipRule();
    void areaTooltipRoute();
    void iconIndex_data();
    void iconIndex();
    void cycling();
    void visibilityWrites();
    void referencesClearedOnRemoval();
    void menuOpensAtCursor();
    void hostShowsTheMenu();
    void twoIconsShareOneHandler();
    void eachIconReadsItsOwnDesktop();
    void restartReaddsVisibleIconsOnly();
    void noTrayThenTray();
    void iconShownFollowsTheArea();
    void loadedRunsStartupAndAddsOnce();
    void startupCheck_data();
    void startupCheck();
    void minimizeToTray_data();
    void minimizeToTray();
    void restoreRequest_data();
    void restoreRequest();
    void parentMinimised_data();
    void parentMinimised();
    void showingOwnerBringsItToFront();

private:
    std::unique_ptr<TTrayIcon> makeIcon(QObject* owner = nullptr);
    void logEvents(TTrayIcon& icon);
    void run(TTrayIcon& icon, const QString& script);
    QList<MemoryNotifyArea::Request> requestsOf(Kind kind) const;

    tarnwick::test::ManualTime m_ticks;
    ManualDesktop m_desktop;
    MemoryNotifyArea* m_area = nullptr;
    QStringList m_log;
};

void TestTrayIcon::initTestCase()
{
    TTrayIconHandler::useAreaFactory([this] {
        auto area = std::make_unique<MemoryNotifyArea>();
        m_area = area.get();
        return area;
    });
}

void TestTrayIcon::init()
{
    m_log.clear();
    m_desktop = ManualDesktop();
}

void TestTrayIcon::cleanup()
{
    // Every icon of the test is gone, so the shared handlers must be too.
    QVERIFY(!TTrayIconHandler::instance());
    QVERIFY(!TSimpleTimerHandler::instance());
    m_area = nullptr;
    TApplicationState::setMainForm(nullptr);
    TApplicationState::setShowMainForm(true);
}

std::unique_ptr<TTrayIcon> TestTrayIcon::makeIcon(QObject* owner)
{
    auto icon = std::make_unique<TTrayIcon>(m_desktop, owner);
    logEvents(*icon);
    return icon;
}

void TestTrayIcon::logEvents(TTrayIcon& icon)
{
    const auto pos = [](int x, int y) { return QStringLiteral("%1,%2").arg(x).arg(y); };
    icon.setOnClick([this](QObject*) { m_log << QStringLiteral("click"); });
    icon.setOnMouseDown([this, pos](QObject*, TMouseButton b, TShiftState s, int x, int y) {
        m_log << QStringLiteral("down(%1,%2,%3)").arg(buttonName(b), shiftName(s), pos(x, y));
    });
    icon.setOnMouseUp([this, pos](QObject*, TMouseButton b, TShiftState s, int x, int y) {
        m_log << QStringLiteral("up(%1,%2,%3)").arg(buttonName(b), shiftName(s), pos(x, y));
    });
    icon.setOnMouseMove([this, pos](QObject*, TShiftState s, int x, int y) {
        m_log << QStringLiteral("move(%1%2)").arg(s ? shiftName(s) + ',' : QString(), pos(x, y));
    });
    icon.setOnMouseEnter([this](QObject*) { m_log << QStringLiteral("enter"); });
    icon.setOnMouseExit([this](QObject*) { m_log << QStringLiteral("exit"); });
    icon.setOnBalloonHintShow([this](QObject*) { m_log << QStringLiteral("balloon:show"); });
    icon.setOnBalloonHintHide([this](QObject*) { m_log << QStringLiteral("balloon:hide"); });
    icon.setOnBalloonHintTimeout([this](QObject*) { m_log << QStringLiteral("balloon:timeout"); });
    icon.setOnBalloonHintClick([this](QObject*) { m_log << QStringLiteral("balloon:click"); });
}

// Script tokens: LD LU LDBL RD RU MD MU MV [@x,y] (notifications, at 10,20
// unless given), BS BH BT BC (balloon notifications), +ms (time passes),
// cur=x,y (the cursor moves), shift / ctrl / nokeys (keys held), | (a mark in
// the log).
void TestTrayIcon::run(TTrayIcon& icon, const QString& script)
{
    static const QHash<QString, Code> codes = {
        {"LD", Code::LeftDown},    {"LU", Code::LeftUp},         {"LDBL", Code::LeftDoubleClick},
        {"RD", Code::RightDown},   {"RU", Code::RightUp},        {"MD", Code::MiddleDown},
        {"MU", Code::MiddleUp},    {"MV", Code::Move},           {"BS", Code::BalloonShow},
        {"BH", Code::BalloonHide}, {"BT", Code::BalloonTimeout}, {"BC", Code::BalloonClick}};
    const auto point = [](const QString& text) {
        const QStringList xy = text.split(QLatin1Char(','));
        return QPoint(xy.value(0).toInt(), xy.value(1).toInt());
    };
    const QStringList tokens = script.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& token : tokens) {
        if (token == QLatin1String("|")) {
            m_log << token;
        } else if (token.startsWith(QLatin1Char('+'))) {
            m_ticks.advance(token.mid(1).toInt());
        } else if (token.startsWith(QLatin1String("cur="))) {
            m_desktop.cursor = point(token.mid(4));
        } else if (token == QLatin1String("shift")) {
            m_desktop.keys = Qt::ShiftModifier;
        } else if (token == QLatin1String("ctrl")) {
            m_desktop.keys = Qt::ControlModifier;
        } else if (token == QLatin1String("nokeys")) {
            m_desktop.keys = {};
        } else {
            const QString name = token.section(QLatin1Char('@'), 0, 0);
            QVERIFY2(codes.contains(name), qPrintable(token));
            const QPoint at =
                token.contains(QLatin1Char('@')) ? point(token.section('@', 1)) : QPoint(10, 20);
            QVERIFY(m_area->inject(icon.iconId(), codes.value(name), at));
        }
    }
}

// The keys held come from the desktop the icon was given, not from
// one the process shares.
void TestTrayIcon::eachIconReadsItsOwnDesktop()
{
    auto plain = makeIcon();
    ManualDesktop shifted;
    shifted.keys = Qt::ShiftModifier;
    TTrayIcon other(shifted);
    logEvents(other);
    plain->setIconVisible(true);
    other.setIconVisible(true);

    run(other, "LD");
    QVERIFY(QTest::qWaitFor([&] { return !m_log.isEmpty(); }, 2000));
    QVERIFY2(m_log.first().startsWith(QStringLiteral("down(L,shift+left,")),
             qPrintable(m_log.join(' ')));
    m_log.clear();
    run(*plain, "LD");
    QVERIFY(QTest::qWaitFor([&] { return !m_log.isEmpty(); }, 2000));
    QVERIFY2(m_log.first().startsWith(QStringLiteral("down(L,left,")), qPrintable(m_log.join(' ')));
}

QList<MemoryNotifyArea::Request> TestTrayIcon::requestsOf(Kind kind) const
{
    QList<MemoryNotifyArea::Request> result;
    for (const auto& r : m_area->requests()) {
        if (r.kind == kind)
            result << r;
    }
    return result;
}

void TestTrayIcon::mouseScenarios_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("expected");

    const QString down = QStringLiteral("down(L,left,10,20)");
    const QString up = QStringLiteral("up(L,left,10,20)");

    QTest::newRow("click without OnDblClick: down, click, up at once")
        << ""
        << "LD LU" << down + " click " + up;
    QTest::newRow("click with OnDblClick: click after the double-click time")
        << "dbl"
        << "LD LU +399 | +1" << down + " " + up + " | click";
    QTest::newRow("the double-click time runs from the button-down")
        << "dbl"
        << "LD +300 LU +99 | +1" << down + " " + up + " | click";
    QTest::newRow("button held past the double-click time clicks on release")
        << "dbl"
        << "LD +500 | LU" << down + " | click " + up;
    QTest::newRow("double click with OnDblClick: no click")
        << "dbl"
        << "LD LU LDBL LU +1000" << down + " " + up + " dblclick " + up;
    QTest::newRow("double click without OnDblClick: the first click counts")
        << ""
        << "LD LU LDBL LU" << down + " click " + up + " " + up;
    QTest::newRow("a click after a double click is arbitrated afresh")
        << "dbl"
        << "LD LU LDBL LU +400 LD LU +400"
        << down + " " + up + " dblclick " + up + " " + down + " " + up + " click";
    QTest::newRow("right button-down opens the menu after the mouse event")
        << "menu"
        << "RD RU"
        << "down(R,right,10,20) menu up(R,right,10,20)";
    QTest::newRow("right button-down without AutoPopup: mouse events only")
        << "menu noauto"
        << "RD RU"
        << "down(R,right,10,20) up(R,right,10,20)";
    QTest::newRow("left button-down opens the menu with LeftPopup")
        << "menu leftpopup"
        << "LD LU" << down + " menu click " + up;
    QTest::newRow("double click runs the topmost default item")
        << "menu dbl defaults"
        << "LD LU LDBL LU +400" << down + " " + up + " dblclick item:B " + up;
    QTest::newRow("double click runs no default item with LeftPopup")
        << "menu dbl defaults leftpopup"
        << "LD LU LDBL LU +400" << down + " menu " + up + " dblclick " + up;
    QTest::newRow("double click runs no default item without AutoPopup")
        << "menu dbl defaults noauto"
        << "LD LU LDBL LU +400" << down + " " + up + " dblclick " + up;
    QTest::newRow("middle button") << ""
                                   << "MD MU"
                                   << "down(M,middle,10,20) up(M,middle,10,20)";
    QTest::newRow("keys are read when each notification is handled")
        << ""
        << "shift LD ctrl LU nokeys MV"
        << "down(L,shift+left,10,20) click up(L,ctrl+left,10,20) move(10,20)";
    QTest::newRow("positions are passed on")
        << ""
        << "MV@300,7 LD@300,7 LU@301,8"
        << "move(300,7) down(L,left,300,7) click up(L,left,301,8)";
    QTest::newRow("Enabled false: no mouse event, no menu; balloons still come")
        << "menu disabled"
        << "MV LD LU LDBL RD RU MD MU BS BH BT BC"
        << "balloon:show balloon:hide balloon:timeout balloon:click";
    QTest::newRow("enter once, then moves") << "enterexit"
                                            << "MV@5,5 MV@6,5"
                                            << "enter move(5,5) move(6,5)";
    QTest::newRow("no enter or exit unless wanted") << ""
                                                    << "MV@5,5 cur=90,90 +100"
                                                    << "move(5,5)";
    QTest::newRow("leaving takes two mismatching polls") << "enterexit"
                                                         << "cur=5,5 MV@5,5 cur=9,9 +20 | +20"
                                                         << "enter move(5,5) | exit";
    QTest::newRow("one stale poll between moves is no exit")
        << "enterexit"
        << "MV@5,5 cur=6,5 +20 MV@6,5 cur=7,5 +20 MV@7,5 +20 +20 +20"
        << "enter move(5,5) move(6,5) move(7,5)";
    QTest::newRow("a poll that matches again clears the first miss")
        << "enterexit"
        << "MV@5,5 cur=6,6 +20 cur=5,5 +20 cur=6,6 +20 | +20"
        << "enter move(5,5) | exit";
    QTest::newRow("back over the icon after leaving: enter again")
        << "enterexit"
        << "MV@5,5 cur=50,50 +40 MV@5,5"
        << "enter move(5,5) exit enter move(5,5)";
    QTest::newRow("an unreadable cursor is no exit") << "enterexit nocursor"
                                                     << "MV@5,5 +200"
                                                     << "enter move(5,5)";
}

void TestTrayIcon::mouseScenarios()
{
    QFETCH(QString, setup);
    QFETCH(QString, script);
    QFETCH(QString, expected);
    const QStringList flags = setup.split(QLatin1Char(' '), Qt::SkipEmptyParts);

    auto icon = makeIcon();
    TPopupMenu menu;
    if (flags.contains("dbl"))
        icon->setOnDblClick([this](QObject*) { m_log << QStringLiteral("dblclick"); });
    if (flags.contains("menu")) {
        for (const char* name : {"A", "B", "C"}) {
            QAction* item = menu.addAction(QLatin1String(name));
            connect(item, &QAction::triggered, this,
                    [this, name] { m_log << QStringLiteral("item:%1").arg(name); });
        }
        if (flags.contains("defaults")) {
            TPopupMenu::setItemDefault(menu.actions().at(1), true);
            TPopupMenu::setItemDefault(menu.actions().at(2), true);
        }
        connect(&menu, &QMenu::aboutToShow, this, [this] { m_log << QStringLiteral("menu"); });
        menu.setAutoPopup(!flags.contains("noauto"));
        icon->setPopupMenu(&menu);
    }
    icon->setLeftPopup(flags.contains("leftpopup"));
    icon->setEnabled(!flags.contains("disabled"));
    icon->setWantEnterExitEvents(flags.contains("enterexit"));
    if (flags.contains("nocursor"))
        m_desktop.cursor.reset();
    icon->setIconVisible(true);

    run(*icon, script);
    QCOMPARE(m_log.join(QLatin1Char(' ')), expected);
    // Only the leaving poll may still run, and only while the cursor is on
    // the icon: an idle program must not wake for it.
    const bool over = m_log.lastIndexOf(QStringLiteral("enter")) > m_log.lastIndexOf("exit");
    QCOMPARE(TSimpleTimerHandler::instance()->runningCount(), over ? 1 : 0);
    menu.hide();
}

void TestTrayIcon::tooltipRule_data()
{
    QTest::addColumn<QString>("hint");
    QTest::addColumn<bool>("showHint");
    QTest::addColumn<QString>("tooltip");

    const QString long200 = QString(200, QLatin1Char('x')).replace(0, 3, "abc");
    QTest::newRow("200 characters give the first 127") << long200 << true << long200.left(127);
    QTest::newRow("127 characters stay whole") << long200.left(127) << true << long200.left(127);
    QTest::newRow("empty hint") << "" << true << "";
    QTest::newRow("ShowHint false") << "hello" << false << "";
    const QString surrogate =
        QString(126, QLatin1Char('y')) + QString::fromUcs4(U"\U0001F600") + "z";
    QTest::newRow("no half surrogate pair at the cut") << surrogate << true << surrogate.left(126);
}

void TestTrayIcon::tooltipRule()
{
    QFETCH(QString, hint);
    QFETCH(bool, showHint);
    QFETCH(QString, tooltip);

    auto icon = makeIcon();
    icon->setIconVisible(true);
    icon->setHint(hint);
    icon->setShowHint(showHint);
    QCOMPARE(m_area->icons().value(icon->iconId()).state.tooltip, tooltip);
    // Every write sent the state along, also while the icon was still hidden.
    icon->setIconVisible(false);
    icon->setHint(hint + "!");
    QVERIFY(!m_area->requests().last().succeeded);
}

// Where the area reports no hover, the area tooltip is the route (whole, and
// whatever Hint says); once hover is found, the icon has no tooltip of that
// kind and says so.
void TestTrayIcon::areaTooltipRoute()
{
    auto icon = makeIcon();
    m_area->setCapabilities(tarnwick::platform::Capability::ButtonUpDown);
    QSignalSpy hover(icon.get(), &TTrayIcon::hoverReportedChanged);
    icon->setIconVisible(true);
    icon->setShowHint(false);
    const QString summary = QString(300, QLatin1Char('s'));
    icon->setAreaTooltip(summary);
    QCOMPARE(m_area->icons().value(icon->iconId()).state.tooltip, summary);
    QVERIFY(!icon->hoverReported());
    QVERIFY(hover.isEmpty());
    m_area->setCapabilities(tarnwick::platform::Capability::ButtonUpDown |
                            tarnwick::platform::Capability::Motion);
    QCOMPARE(hover.count(), 1);
    QCOMPARE(hover.at(0).at(0).toBool(), true);
    QCOMPARE(m_area->icons().value(icon->iconId()).state.tooltip, QString());
    // A new area starts without hover again until it shows it.
    m_area->setCapabilities(tarnwick::platform::Capability::ButtonUpDown);
    m_area->restart();
    QCOMPARE(hover.count(), 2);
    QCOMPARE(m_area->icons().value(icon->iconId()).state.tooltip, summary);
}

void TestTrayIcon::iconIndex_data()
{
    QTest::addColumn<bool>("withList");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("expectedIndex");
    QTest::addColumn<QColor>("shown");

    QTest::newRow("within the list") << true << 1 << 1 << QColor(Qt::green);
    QTest::newRow("beyond the end selects the last image") << true << 7 << 2 << QColor(Qt::blue);
    QTest::newRow("exactly the count selects the last image") << true << 3 << 2 << QColor(Qt::blue);
    QTest::newRow("without a list the index is 0") << false << 2 << 0 << QColor(Qt::yellow);
}

void TestTrayIcon::iconIndex()
{
    QFETCH(bool, withList);
    QFETCH(int, index);
    QFETCH(int, expectedIndex);
    QFETCH(QColor, shown);

    TCustomImageList list;
    for (const QColor c : {QColor(Qt::red), QColor(Qt::green), QColor(Qt::blue)})
        list.add(solid(c));
    auto icon = makeIcon();
    icon->setIcon(QIcon(QPixmap::fromImage(solid(Qt::yellow))));
    icon->setIconVisible(true);
    if (withList)
        icon->setIconList(&list);
    icon->setIconIndex(index);
    QCOMPARE(icon->iconIndex(), expectedIndex);
    QCOMPARE(shownColour(m_area->icons().value(icon->iconId()).state.image), shown);
}

void TestTrayIcon::cycling()
{
    TCustomImageList list;
    for (const QColor c : {QColor(Qt::red), QColor(Qt::green), QColor(Qt::blue)})
        list.add(solid(c));
    auto icon = makeIcon();
    QList<int> nextIndices;
    QList<QColor> shown;
    icon->setOnCycle([&](QObject*, int next) { nextIndices << next; });
    icon->setIconList(&list);
    icon->setIconVisible(true);
    icon->setCycleInterval(100);
    icon->setCycleIcons(true);
    for (int i = 0; i < 4; ++i) {
        m_ticks.advance(100);
        shown << shownColour(m_area->icons().value(icon->iconId()).state.image);
    }
    QCOMPARE(nextIndices, (QList<int>{1, 2, 0, 1}));
    QCOMPARE(shown, (QList<QColor>{Qt::green, Qt::blue, Qt::red, Qt::green}));

    // A new interval starts over at the first image.
    icon->setCycleInterval(50);
    QCOMPARE(icon->iconIndex(), 0);
    m_ticks.advance(50);
    QCOMPARE(nextIndices.last(), 1);

    // An interval of 0 means no cycling at all.
    icon->setCycleInterval(0);
    nextIndices.clear();
    m_ticks.advance(1000);
    QVERIFY(nextIndices.isEmpty());
    QVERIFY(icon->cycleIcons());
}

void TestTrayIcon::visibilityWrites()
{
    auto icon = makeIcon();
    // Every write of IconVisible sends its request, whatever the state.
    icon->setIconVisible(true);
    icon->setIconVisible(true);
    icon->setIconVisible(false);
    icon->setIconVisible(false);
    QList<bool> adds, removes;
    for (const auto& r : requestsOf(Kind::Add))
        adds << r.succeeded;
    for (const auto& r : requestsOf(Kind::Remove))
        removes << r.succeeded;
    QCOMPARE(adds, (QList<bool>{true, false}));
    QCOMPARE(removes, (QList<bool>{true, false}));
    QVERIFY(!icon->iconVisible());

    // The area refusing a request changes no property.
    m_area->setAvailable(false);
    icon->setHint("kept");
    QVERIFY(!icon->AddToTray());
    QVERIFY(icon->iconVisible());
    QCOMPARE(icon->hint(), QStringLiteral("kept"));
}

void TestTrayIcon::referencesClearedOnRemoval()
{
    auto icon = makeIcon();
    auto list = std::make_unique<TCustomImageList>();
    list->add(solid(Qt::red));
    list->add(solid(Qt::green));
    auto menu = std::make_unique<TPopupMenu>();
    icon->setIconList(list.get());
    icon->setIconIndex(1);
    icon->setPopupMenu(menu.get());
    list.reset();
    menu.reset();
    QVERIFY(!icon->iconList());
    QCOMPARE(icon->iconIndex(), 0);
    QVERIFY(!icon->popupMenu());
    // A right click now finds no menu and must not crash.
    icon->setIconVisible(true);
    run(*icon, "RD RU");
    QCOMPARE(m_log.size(), 2);
}

void TestTrayIcon::menuOpensAtCursor()
{
    auto icon = makeIcon();
    TPopupMenu menu;
    menu.addAction("only");
    icon->setPopupMenu(&menu);
    icon->setIconVisible(true);
    m_desktop.cursor = QPoint(120, 80);
    run(*icon, "RD");
    QVERIFY(menu.isVisible());
    QCOMPARE(menu.pos(), QPoint(120, 80));
    QCOMPARE(menu.popupComponent(), icon.get());
    menu.hide();

    // No readable cursor, no menu.
    m_desktop.cursor.reset();
    icon->OpenMenuAt();
    QVERIFY(!menu.isVisible());
}

void TestTrayIcon::hostShowsTheMenu()
{
    auto icon = makeIcon();
    m_area->setCapabilities(m_area->capabilities() | Capability::HostMenu);
    TPopupMenu menu;
    menu.addAction("only");
    icon->setPopupMenu(&menu);
    icon->setIconVisible(true);
    QCOMPARE(m_area->icons().value(icon->iconId()).menu.data(), &menu);
    // The host opens it; opening our own would give two menus.
    run(*icon, "RD RU");
    QVERIFY(!menu.isVisible());
    menu.setAutoPopup(false);
    icon->RefreshTray();
    QVERIFY(!m_area->icons().value(icon->iconId()).menu);
}

void TestTrayIcon::twoIconsShareOneHandler()
{
    auto first = makeIcon();
    auto second = std::make_unique<TTrayIcon>(m_desktop);
    QStringList secondLog;
    second->setOnClick([&](QObject* sender) {
        QCOMPARE(sender, second.get());
        secondLog << "click";
    });
    QCOMPARE(TTrayIconHandler::instance()->iconCount(), 2);
    QVERIFY(first->iconId() != second->iconId());
    first->setIconVisible(true);
    second->setIconVisible(true);
    QCOMPARE(m_area->icons().size(), 2);

    run(*second, "LD LU");
    QVERIFY(m_log.isEmpty());
    QCOMPARE(secondLog, QStringList{"click"});
    run(*first, "LD LU");
    QCOMPARE(m_log.count("click"), 1);
    QCOMPARE(secondLog.size(), 1);

    first.reset();
    QCOMPARE(TTrayIconHandler::instance()->iconCount(), 1);
    QVERIFY(!m_area->contains(1) || m_area->icons().size() == 1);
    QCOMPARE(m_area->icons().size(), 1);
}

void TestTrayIcon::restartReaddsVisibleIconsOnly()
{
    auto shown = makeIcon();
    auto hidden = makeIcon();
    shown->setHint("first");
    shown->setIconVisible(true);
    hidden->setIconVisible(true);
    hidden->setIconVisible(false);
    shown->setHint("current");
    m_area->clearRequests();

    m_area->restart();
    const auto adds = requestsOf(Kind::Add);
    QCOMPARE(adds.size(), 1);
    QCOMPARE(adds.first().id, shown->iconId());
    QCOMPARE(adds.first().state.tooltip, QStringLiteral("current"));
    QVERIFY(m_area->contains(shown->iconId()));
    QVERIFY(!m_area->contains(hidden->iconId()));
}

void TestTrayIcon::noTrayThenTray()
{
    auto icon = makeIcon();
    QSignalSpy availability(icon.get(), &TTrayIcon::trayAvailabilityChanged);
    m_area->setAvailable(false);
    QVERIFY(!icon->trayAvailable());
    icon->setIconVisible(true);
    QVERIFY(!m_area->contains(icon->iconId()));
    m_area->setAvailable(true);
    QVERIFY(icon->trayAvailable());
    QVERIFY(m_area->contains(icon->iconId()));
    QCOMPARE(availability.size(), 2);
    QCOMPARE(availability.at(0).at(0).toBool(), false);
    QCOMPARE(availability.at(1).at(0).toBool(), true);
}

// "Shown" is the area's word that the icon is on screen, nothing less: not
// the icon being wanted, not the area being there. Every change is told once.
void TestTrayIcon::iconShownFollowsTheArea()
{
    auto icon = makeIcon();
    QStringList changes;
    connect(icon.get(), &TTrayIcon::iconShownChanged, [&changes](bool shown) {
        changes << (shown ? QStringLiteral("+") : QStringLiteral("-"));
    });
    const quint32 id = icon->iconId();
    QVERIFY(!icon->iconShown());
    icon->setIconVisible(true);
    QVERIFY(icon->iconShown());
    // Asked for and held, but not (or no longer) on screen.
    m_area->setIconShown(id, false);
    QVERIFY(!icon->iconShown());
    m_area->setIconShown(id, false);
    m_area->setIconShown(id, true);
    QVERIFY(icon->iconShown());
    // The area goes: not shown; a new one takes the icon again.
    m_area->setAvailable(false);
    QVERIFY(!icon->iconShown());
    m_area->setAvailable(true);
    QVERIFY(icon->iconShown());
    // An icon taken out is not shown, whatever the area.
    icon->setIconVisible(false);
    QVERIFY(!icon->iconShown());
    m_area->restart();
    QVERIFY(!icon->iconShown());
    QCOMPARE(changes.join(QString()), QStringLiteral("+-+-+-"));
}

void TestTrayIcon::loadedRunsStartupAndAddsOnce()
{
    QWidget owner;
    owner.show();
    TApplicationState::setMainForm(&owner);
    auto icon = makeIcon(&owner);
    int startups = 0;
    icon->setOnStartup([&](QObject*, bool& show) {
        ++startups;
        show = false;
    });
    // As a form file would: the icon is added while properties are read.
    icon->setIconVisible(true);
    m_area->clearRequests();
    icon->Loaded();
    QCOMPARE(startups, 1);
    QVERIFY(!TApplicationState::showMainForm());
    QVERIFY(!owner.isVisible());
    QList<QPair<Kind, bool>> seen;
    for (const auto& r : m_area->requests())
        seen << qMakePair(r.kind, r.succeeded);
    const QList<QPair<Kind, bool>> expected = {
        {Kind::Modify, true}, {Kind::Add, false}, {Kind::SetVersion, true}};
    QCOMPARE(seen, expected);
    QCOMPARE(m_area->icons().value(icon->iconId()).version, 0);
    icon.reset();
}

void TestTrayIcon::startupCheck_data()
{
    QTest::addColumn<bool>("mdi");
    QTest::addColumn<int>("startups");
    QTest::newRow("MDI main window: asked again when it first appears") << true << 2;
    QTest::newRow("plain main window: asked once") << false << 1;
}

void TestTrayIcon::startupCheck()
{
    QFETCH(bool, mdi);
    QFETCH(int, startups);
    QMainWindow main;
    if (mdi)
        main.setCentralWidget(new QMdiArea);
    TApplicationState::setMainForm(&main);
    auto icon = makeIcon(&main);
    int count = 0;
    icon->setOnStartup([&](QObject*, bool&) { ++count; });
    icon->Loaded();
    main.show();
    main.move(main.pos() + QPoint(5, 5));
    main.resize(300, 200);
    QCOMPARE(count, startups);
    icon.reset();
}

void TestTrayIcon::minimizeToTray_data()
{
    QTest::addColumn<bool>("minimizeToTray");
    QTest::addColumn<bool>("handlerSet");
    QTest::addColumn<int>("eventsRaised");
    QTest::addColumn<bool>("sentToTray");

    QTest::newRow("owner hook: OnMinimizeToTray, then to the tray") << true << true << 1 << true;
    QTest::newRow("application hook: to the tray without the event") << true << false << 0 << true;
    QTest::newRow("MinimizeToTray false: an ordinary minimise") << false << true << 0 << false;
}

void TestTrayIcon::minimizeToTray()
{
    QFETCH(bool, minimizeToTray);
    QFETCH(bool, handlerSet);
    QFETCH(int, eventsRaised);
    QFETCH(bool, sentToTray);

    QWidget main;
    TApplicationState::setMainForm(&main);
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    auto icon = makeIcon(&main);
    int raised = 0;
    icon->setMinimizeToTray(minimizeToTray);
    if (handlerSet)
        icon->setOnMinimizeToTray([&](QObject*) {
            ++raised;
            QVERIFY(!m_area->contains(icon->iconId()));
        });

    main.showMinimized();
    QTRY_COMPARE(main.isVisible(), !sentToTray);
    QCoreApplication::processEvents();
    QCOMPARE(raised, eventsRaised);
    QCOMPARE(m_area->contains(icon->iconId()), sentToTray);
    QCOMPARE(icon->iconVisible(), sentToTray);
    // Sent to the tray, it comes back whole when shown again.
    QCOMPARE(main.isMinimized(), !sentToTray);
    icon.reset();
}

void TestTrayIcon::restoreRequest_data()
{
    QTest::addColumn<bool>("fromWindowSystem");
    QTest::addColumn<bool>("shown");
    QTest::newRow("window system restores a hidden minimised window: shown") << true << true;
    QTest::newRow("a state change by code: left hidden") << false << false;
}

void TestTrayIcon::restoreRequest()
{
    QFETCH(bool, fromWindowSystem);
    QFETCH(bool, shown);
    QWidget main;
    TApplicationState::setMainForm(&main);
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    auto icon = makeIcon(&main);
    main.setWindowState(Qt::WindowMinimized);
    main.hide();
    // Qt changes the state first, then tells the window where it came from.
    main.setWindowState(Qt::WindowNoState);
    QWindowStateChangeEvent restored(Qt::WindowMinimized);
    if (fromWindowSystem)
        QSpontaneKeyEvent::setSpontaneous(&restored);
    // As the window system delivers it (sendEvent would clear the flag).
    QApplication::instance()->notify(&main, &restored);
    QCOMPARE(main.isVisible(), shown);
    QVERIFY(!main.isMinimized());
    icon.reset();
}

void TestTrayIcon::parentMinimised_data()
{
    QTest::addColumn<bool>("parentMinimised");
    QTest::addColumn<bool>("fromWindowSystem");
    QTest::addColumn<bool>("handlerSet");
    QTest::addColumn<bool>("sentToTray");
    QTest::newRow("parent minimised: OnMinimizeToTray, then to the tray")
        << true << true << true << true;
    QTest::newRow("no OnMinimizeToTray: left alone") << true << true << false << false;
    QTest::newRow("parent still up: an ordinary hide") << false << true << true << false;
    QTest::newRow("hidden by code: an ordinary hide") << true << false << true << false;
}

void TestTrayIcon::parentMinimised()
{
    QFETCH(bool, parentMinimised);
    QFETCH(bool, fromWindowSystem);
    QFETCH(bool, handlerSet);
    QFETCH(bool, sentToTray);
    QWidget main;
    QWidget parent;
    auto* owner = new QWidget(&parent, Qt::Window);
    TApplicationState::setMainForm(&main);
    main.show();
    parent.show();
    owner->show();
    auto icon = makeIcon(owner);
    icon->setMinimizeToTray(true);
    int raised = 0;
    if (handlerSet)
        icon->setOnMinimizeToTray([&](QObject*) { ++raised; });
    if (parentMinimised)
        parent.setWindowState(Qt::WindowMinimized);
    QHideEvent hidden;
    if (fromWindowSystem)
        QSpontaneKeyEvent::setSpontaneous(&hidden);
    QApplication::instance()->notify(owner, &hidden);
    QCOMPARE(raised, sentToTray ? 1 : 0);
    QCOMPARE(icon->iconVisible(), sentToTray);
    QCOMPARE(main.isVisible(), !sentToTray);
    icon.reset();
}

void TestTrayIcon::showingOwnerBringsItToFront()
{
    // Offscreen activates every window it shows; only a real X server tells
    // whether the hook did it.
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs the xcb platform (run by tst_tray_icon_x11)");
    QWidget owner;
    QWidget other;
    // The window system would leave this one behind; the hook must not.
    owner.setAttribute(Qt::WA_ShowWithoutActivating);
    other.show();
    other.activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), &other);
    auto icon = makeIcon(&owner);
    owner.show();
    QTRY_COMPARE(QApplication::activeWindow(), &owner);
    icon.reset();
}

QTEST_MAIN(TestTrayIcon)
#include "tst_tray_icon.moc"
