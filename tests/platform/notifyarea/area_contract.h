#pragma once

// What every notification-area backend promises its owner, checked the same
// way on each of them.
#include "platform/notifyarea/notify_area.h"

#include <QSignalSpy>
#include <QTest>

#include <functional>

inline QIcon contractIcon()
{
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(Qt::red);
    return QIcon(QPixmap::fromImage(image));
}

// Ids are used once, requests on unknown ids fail, a removed id is free again.
inline void checkRequestContract(tarnwick::platform::NotifyArea& area)
{
    const tarnwick::platform::IconState state{contractIcon(), QStringLiteral("tip")};
    QVERIFY(area.isAvailable());
    QVERIFY(area.add(901, state));
    QVERIFY(!area.add(901, state));
    QVERIFY(area.modify(901, state));
    QVERIFY(area.setVersion(901, 4));
    QVERIFY(area.remove(901));
    QVERIFY(!area.remove(901));
    QVERIFY(!area.modify(901, state));
    QVERIFY(!area.setVersion(901, 0));
    QVERIFY(area.add(901, state));
    QVERIFY(area.remove(901));
}

// After the area is lost and comes back, no id is known any more.
inline void checkRestartContract(tarnwick::platform::NotifyArea& area,
                                 const std::function<void()>& lose,
                                 const std::function<void()>& restore)
{
    using tarnwick::platform::NotifyArea;
    const tarnwick::platform::IconState state{contractIcon(), QStringLiteral("tip")};
    QSignalSpy lost(&area, &NotifyArea::areaLost);
    QSignalSpy restarted(&area, &NotifyArea::areaRestarted);
    QSignalSpy availability(&area, &NotifyArea::availabilityChanged);
    QVERIFY(area.add(902, state));
    lose();
    QTRY_COMPARE(lost.size(), 1);
    QVERIFY(!area.isAvailable());
    QVERIFY(!area.modify(902, state));
    QVERIFY(!area.add(903, state));
    restore();
    QTRY_COMPARE(restarted.size(), 1);
    QVERIFY(area.isAvailable());
    QVERIFY(!area.modify(902, state));
    QVERIFY(area.add(902, state));
    QCOMPARE(availability.size(), 2);
    QVERIFY(area.remove(902));
}
