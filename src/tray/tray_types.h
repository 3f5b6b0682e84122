#pragma once

#include <QFlags>
#include <QObject>

#include <functional>

namespace tarnwick::tray {

enum TMouseButton { mbLeft, mbRight, mbMiddle };

enum TShiftStateFlag {
    ssShift = 0x01,
    ssAlt = 0x02,
    ssCtrl = 0x04,
    ssLeft = 0x08,
    ssRight = 0x10,
    ssMiddle = 0x20,
};
Q_DECLARE_FLAGS(TShiftState, TShiftStateFlag)
Q_DECLARE_OPERATORS_FOR_FLAGS(TShiftState)

// Events are plain callables, called only when set; the sender comes first.
using TNotifyEvent = std::function<void(QObject* sender)>;
using TMouseEvent =
    std::function<void(QObject* sender, TMouseButton button, TShiftState shift, int x, int y)>;
using TMouseMoveEvent = std::function<void(QObject* sender, TShiftState shift, int x, int y)>;
using TCycleEvent = std::function<void(QObject* sender, int nextIndex)>;
using TStartupEvent = std::function<void(QObject* sender, bool& showMainForm)>;

} // namespace tarnwick::tray
