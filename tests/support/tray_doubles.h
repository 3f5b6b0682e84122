#pragma once

#include "support/manual_time.h"
#include "tray/desktop_source.h"

class ManualDesktop : public tarnwick::tray::TDesktopSource {
public:
    std::optional<QPoint> cursorPos() const override { return cursor; }
    Qt::KeyboardModifiers keyboardModifiers() const override { return keys; }
    int doubleClickTime() const override { return doubleClick; }

    std::optional<QPoint> cursor = QPoint(10, 20);
    Qt::KeyboardModifiers keys;
    int doubleClick = 400;
};
