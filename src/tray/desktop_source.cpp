#include "tray/desktop_source.h"

#include <QCursor>
#include <QGuiApplication>
#include <QStyleHints>

namespace tarnwick::tray {

TDesktopSource::~TDesktopSource() = default;

std::optional<QPoint> TQtDesktopSource::cursorPos() const
{
    if (!QGuiApplication::primaryScreen())
        return std::nullopt;
    return QCursor::pos();
}

Qt::KeyboardModifiers TQtDesktopSource::keyboardModifiers() const
{
    // The keys as they are now, not as some queued event remembers them.
    return QGuiApplication::queryKeyboardModifiers();
}

int TQtDesktopSource::doubleClickTime() const
{
    return QGuiApplication::styleHints()->mouseDoubleClickInterval();
}

} // namespace tarnwick::tray
