// The notification-area backends that run without an X server: the in-memory
// one, Qt's tray icon (its mapping of activations), and the selection that
// moves from the X11 protocol to Qt's tray icon.
#include "area_contract.h"
#include "support/memory_notify_area.h"
#include "platform/notifyarea/qt_notify_area.h"
#include "platform/notifyarea/selecting_notify_area.h"

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
    QCOMPARE(icon->toolTip().size(), maxTooltipLength);
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

void TestNotifyArea::selection_data()
{
    QTest::addColumn<bool>("primaryHasTray");
    QTest::addColumn<QString>("backendAfterHost");
    QTest::newRow("no X11 tray: a host on the bus takes over") << false << "fallback";
    QTest::newRow("an X11 tray stays in use") << true << "primary";
}

void TestNotifyArea::selection()
{
    QFETCH(bool, primaryHasTray);
    QFETCH(QString, backendAfterHost);

    auto primary = std::make_unique<MemoryNotifyArea>(primaryHasTray);
    primary->setObjectName("primary");
    MemoryNotifyArea* fallback = nullptr;
    SelectingNotifyArea area(
        std::move(primary),
        [&fallback] {
            auto next = std::make_unique<MemoryNotifyArea>(true);
            next->setObjectName("fallback");
            fallback = next.get();
            return next;
        },
        nullptr);
    QCOMPARE(area.isAvailable(), primaryHasTray);
    QSignalSpy restarted(&area, &NotifyArea::areaRestarted);
    QSignalSpy availability(&area, &NotifyArea::availabilityChanged);
    QSignalSpy notifications(&area, &NotifyArea::notification);

    area.fallBackIfIdle();
    QCOMPARE(area.current()->objectName(), backendAfterHost);
    QCOMPARE(restarted.size(), primaryHasTray ? 0 : 1);
    QCOMPARE(availability.size(), primaryHasTray ? 0 : 1);
    QVERIFY(area.add(1, IconState{}));
    auto* current = qobject_cast<MemoryNotifyArea*>(area.current());
    QVERIFY(current->inject(1, Code::Move, QPoint(1, 1)));
    QCOMPARE(notifications.size(), 1);
    // It moves once at most.
    area.fallBackIfIdle();
    QCOMPARE(area.current(), current);
}

QTEST_MAIN(TestNotifyArea)
#include "tst_notifyarea.moc"
