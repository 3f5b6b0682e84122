#pragma once

#include <QPoint>

#include <optional>

namespace tarnwick::tray {

// What the tray icon reads from the desktop at the moment it handles a
// notification: the cursor, the modifier keys and the double-click time.
// Each icon is given one; tests give a double so that nothing waits on a
// real pointer.
class TDesktopSource {
public:
    virtual ~TDesktopSource();
    // Screen position in logical pixels; empty when it cannot be read.
    virtual std::optional<QPoint> cursorPos() const = 0;
    virtual Qt::KeyboardModifiers keyboardModifiers() const = 0;
    virtual int doubleClickTime() const = 0;
};

class TQtDesktopSource : public TDesktopSource {
public:
    std::optional<QPoint> cursorPos() const override;
    Qt::KeyboardModifiers keyboardModifiers() const override;
    int doubleClickTime() const override;
};

} // namespace tarnwick::tray
