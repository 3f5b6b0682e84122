// The notification-area backends that run without an X server: the in-memory
// one, Qt's tray icon (its mapping of activations), and the selection that
// moves from the X11 protocol to Qt's tray icon.
#include "area_contract.h"
#include "platform/notifyarea/qt_notify_area.h"
#include "platform/notifyarea/selecting_notify_area.h"
#include "support/memory_notify_area.h"

#include <QCursor>
#include <QMenu>
#include <QtTest>

#include <memory>

using namespace tarnwick::platform;
using Code = NotificationCode;

namespace {

std::unique_ptr<NotifyArea> makeArea(const QString& backend, bool available)
{
    if (backend == QLatin1String("memory"))
        return std::make_unique<MemoryNotifyArea>(available);
    return std::make_unique<QtNotifyArea>([available] { return available; });
}

QString codeList(const QList<Notification>& notifications)
{
    QStringList names;
    for (const Notification& n : notifications)
        names << QLatin1String(notificationCodeName(n.code));
    return names.join(QLatin1Char(' '));
}

} // namespace

class TestNotifyArea : public QObject {
    Q_OBJECT

private slots:
    void contract_data();
    void contract();
    void withoutTray_data();
    void withoutTray();
    void qtActivation_data();
    void qtActivation();
    void activationPosition_data();
    void activationPosition();
    void qtHandsMenuAndTooltipToHost();
    void memoryInjectsForKnownIdsOnly();
    void selection_data();
    void selection();
};

void TestNotifyArea::contract_data()
{
    QTest::addColumn<QString>("backend");
    QTest::newRow("memory") << "memory";
    QTest::newRow("qt") << "qt";
}

void TestNotifyArea::contract()
{
    QFETCH(QString, backend);
    const auto area = makeArea(backend, true);
    checkRequestContract(*area);
    if (QTest::currentTestFailed())
        return;
    if (auto* memory = qobject_cast<MemoryNotifyArea*>(area.get())) {
        checkRestartContract(
            *area, [memory] { memory->setAvailable(false); },
            [memory] { memory->setAvailable(true); });
    } else {
        auto* qt = qobject_cast<QtNotifyArea*>(area.get());
        const auto lose = [qt] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            qt->hostGone();
            // Qt would re-register its items with the new host by itself.
            QVERIFY(qt->findChildren<QSystemTrayIcon*>().isEmpty());
        };
        checkRestartContract(*area, lose, [qt] { qt->hostBack(); });
    }
}

void TestNotifyArea::withoutTray_data()
{
    contract_data();
}

void TestNotifyArea::withoutTray()
{
    QFETCH(QString, backend);
    const auto area = makeArea(backend, false);
    QVERIFY(!area->isAvailable());
    QVERIFY(!area->add(1, IconState{contractIcon(), QString()}));
    QVERIFY(!area->modify(1, IconState{}));
    QVERIFY(!area->remove(1));
}

void TestNotifyArea::qtActivation_data()
{
    QTest::addColumn<int>("reason");
    QTest::addColumn<QString>("codes");
    QTest::newRow("trigger") << int(QSystemTrayIcon::Trigger) << "LeftDown LeftUp";
    QTest::newRow("double click completes down, up, double click, up")
        << int(QSystemTrayIcon::DoubleClick) << "LeftDoubleClick LeftUp";
    QTest::newRow("context") << int(QSystemTrayIcon::Context) << "RightDown RightUp";
    QTest::newRow("middle click") << int(QSystemTrayIcon::MiddleClick) << "MiddleDown MiddleUp";
    QTest::newRow("unknown") << int(QSystemTrayIcon::Unknown) << "";
}

void TestNotifyArea::qtActivation()
{
    QFETCH(int, reason);
    QFETCH(QString, codes);
    QtNotifyArea area([] { return true; });
    QVERIFY(area.add(7, IconState{contractIcon(), QString()}));
    QVERIFY(area.add(8, IconState{contractIcon(), QString()}));
    QList<Notification> seen;
    connect(&area, &NotifyArea::notification, this, [&](const Notification& n) { seen << n; });
    auto* icon = area.findChild<QSystemTrayIcon*>(QStringLiteral("icon-7"));
    QVERIFY(icon);
    emit icon->activated(QSystemTrayIcon::ActivationReason(reason));
    QCOMPARE(codeList(seen), codes);
    for (const Notification& n : seen) {
        QCOMPARE(n.iconId, 7u);
        QVERIFY(n.synthesized);
        QCOMPARE(n.pos, QCursor::pos());
    }
    // Qt tells nothing of the pointer over the icon there.
    QVERIFY(!area.capabilities().testFlag(Capability::Motion));
    QVERIFY(!area.capabilities().testFlag(Capability::ButtonUpDown));
}

void TestNotifyArea::activationPosition_data()
{
    QTest::addColumn<QPoint>("cursor");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QPoint>("expected");
    const QRect icon(100, 0, 22, 22);
    QTest::newRow("unknown geometry: the cursor") << QPoint(5, 300) << QRect() << QPoint(5, 300);
    QTest::newRow("inside") << QPoint(110, 10) << icon << QPoint(110, 10);
    QTest::newRow("left of it") << QPoint(50, 10) << icon << QPoint(100, 10);
    QTest::newRow("below and right of it") << QPoint(400, 300) << icon << QPoint(121, 21);
}

void TestNotifyArea::activationPosition()
{
    QFETCH(QPoint, cursor);
    QFETCH(QRect, geometry);
    QFETCH(QPoint, expected);
    QCOMPARE(QtNotifyArea::activationPosition(cursor, geometry), expected);
}

void TestNotifyArea::qtHandsMenuAndTooltipToHost()
{
    QtNotifyArea area([] { return true; });
    QVERIFY(area.capabilities().testFlag(Capability::HostMenu));
    QVERIFY(area.add(3, IconState{contractIcon(), QString(200, QLatin1Char('t'))}));
    auto* icon = area.findChild<QSystemTrayIcon*>(QStringLiteral("icon-3"));
    // The whole text: cutting is the owner's business (a hover summary is not cut).
    QCOMPARE(icon->toolTip().size(), 200);
    QMenu menu;
    QVERIFY(area.setMenu(3, &menu));
    QCOMPARE(icon->contextMenu(), &menu);
    QVERIFY(!area.setMenu(4, &menu));
}

void TestNotifyArea::memoryInjectsForKnownIdsOnly()
{
    MemoryNotifyArea area;
    QSignalSpy spy(&area, &NotifyArea::notification);
    QVERIFY(!area.inject(5, Code::LeftDown));
    QVERIFY(area.add(5, IconState{}));
    QVERIFY(area.inject(5, Code::LeftDown, QPoint(3, 4)));
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.at(0).at(0).value<Notification>().pos, QPoint(3, 4));
}

// Steps: "x+"/"x-" an X11 tray appears/goes, "h+"/"h-" a bus host appears/
// goes, "q" the X11 tray is already there but its announcement is still
// queued (only a fresh look at the server finds it), "r" the X11 tray turns
// out to relay its icons to a bus host, "e-" the X11 tray holds the icon
// but has not embedded it. After every step the icon is where the owner
// would have put it: one line per step, "<area in use>:<available>:<where
// icon 1 is>:<whether it counts as shown>". Without an X11 tray backend
// ("off X11") only the bus is there.
void TestNotifyArea::selection_data()
{
    QTest::addColumn<bool>("x11");
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("states");
    QTest::newRow("X11 tray first, then a bus host") << true << "x+ h+"
                                                     << "x:1:x:1 x:1:x:1";
    QTest::newRow("bus host first, then an X11 tray") << true << "h+ x+"
                                                      << "bus:1:bus:1 x:1:x:1";
    QTest::newRow("bus host answers while the tray's announcement waits") << true << "q h+"
                                                                          << "x:0:-:0 x:1:x:1";
    QTest::newRow("X11 tray goes, bus host there") << true << "x+ h+ x-"
                                                   << "x:1:x:1 x:1:x:1 bus:1:bus:1";
    QTest::newRow("bus host goes, X11 tray comes") << true << "h+ h- x+"
                                                   << "bus:1:bus:1 x:0:-:0 x:1:x:1";
    QTest::newRow("nothing at all") << true << "h- x-"
                                    << "x:0:-:0 x:0:-:0";
    QTest::newRow("X11 tray restarts") << true << "x+ x- x+"
                                       << "x:1:x:1 x:0:-:0 x:1:x:1";
    QTest::newRow("docking asked, not done") << true << "x+ e-"
                                             << "x:1:x:1 x:1:x:0";
    QTest::newRow("relaying tray gives way to the host") << true << "x+ r h+"
                                                         << "x:1:x:1 x:1:x:0 bus:1:bus:1";
    QTest::newRow("host first, then a relaying tray") << true << "h+ x+ r"
                                                      << "bus:1:bus:1 x:1:x:1 bus:1:bus:1";
    QTest::newRow("host of a relaying tray goes") << true << "x+ r h+ h-"
                                                  << "x:1:x:1 x:1:x:0 bus:1:bus:1 x:1:x:0";
    QTest::newRow("off X11: host late") << false << "h+"
                                        << "bus:1:bus:1";
    QTest::newRow("off X11: host goes and comes back") << false << "h+ h- h+"
                                                       << "bus:1:bus:1 -:0:-:0 bus:1:bus:1";
    QTest::newRow("off X11: nothing") << false << "h-"
                                      << "-:0:-:0";
}

void TestNotifyArea::selection()
{
    QFETCH(bool, x11);
    QFETCH(QString, steps);
    auto x = x11 ? std::make_unique<MemoryNotifyArea>(false) : nullptr;
    MemoryNotifyArea* xembed = x.get();
    MemoryNotifyArea* bus = nullptr;
    bool queuedTray = false;
    SelectingNotifyArea::Refresh refresh;
    if (x11) {
        refresh = [&] {
            if (queuedTray && !xembed->isAvailable())
                xembed->setAvailable(true);
        };
    }
    SelectingNotifyArea area(
        std::move(x), refresh,
        [&bus] {
            auto next = std::make_unique<MemoryNotifyArea>(true);
            bus = next.get();
            // Let go of by the area later, not at once.
            QObject::connect(next.get(), &QObject::destroyed, [&bus] { bus = nullptr; });
            return next;
        },
        nullptr);
    // The owner: adds its icon whenever an area (re)starts.
    const auto addIcon = [&area] { area.add(1, IconState{}); };
    QObject::connect(&area, &NotifyArea::areaRestarted, &area, addIcon);
    QStringList states;
    for (const QString& step : steps.split(QLatin1Char(' '))) {
        if (step == QLatin1String("x+"))
            xembed->setAvailable(true);
        else if (step == QLatin1String("x-"))
            xembed->setAvailable(false);
        else if (step == QLatin1String("q"))
            queuedTray = true;
        else if (step == QLatin1String("r"))
            xembed->setRelays(true);
        else if (step == QLatin1String("e-"))
            xembed->setIconShown(1, false);
        else if (step == QLatin1String("h+"))
            area.setHostPresent(true);
        else if (step == QLatin1String("h-")) {
            if (bus)
                bus->setAvailable(false);
            area.setHostPresent(false);
        }
        // A relaying tray gives way on a queued look.
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (step == QLatin1String("r"))
            xembed->setIconShown(1, false); // relayed icons are not shown by the tray itself
        const QString where = xembed && xembed->contains(1) ? QStringLiteral("x")
                              : bus && bus->contains(1)     ? QStringLiteral("bus")
                                                            : QStringLiteral("-");
        const QString current = !area.current()            ? QStringLiteral("-")
                                : area.current() == xembed ? QStringLiteral("x")
                                                           : QStringLiteral("bus");
        states << QStringLiteral("%1:%2:%3:%4")
                      .arg(current)
                      .arg(area.isAvailable() ? 1 : 0)
                      .arg(where)
                      .arg(area.iconShown(1) ? 1 : 0);
    }
    QTEST(states.join(QLatin1Char(' ')), "states");
    // Notifications come from the area in use only.
    if (area.isAvailable()) {
        QSignalSpy notifications(&area, &NotifyArea::notification);
        auto* current = qobject_cast<MemoryNotifyArea*>(area.current());
        QVERIFY(current->inject(1, Code::Move, QPoint(1, 1)));
        if (bus && current != bus)
            bus->inject(1, Code::Move, QPoint(2, 2));
        QCOMPARE(notifications.size(), 1);
    }
}

QTEST_MAIN(TestNotifyArea)
#include "tst_notifyarea.moc"
