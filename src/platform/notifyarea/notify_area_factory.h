#pragma once

#include "platform/notifyarea/notify_area.h"

#include <memory>

namespace tarnwick::platform {

// The notification area that suits the running desktop. On X11 the tray
// protocol is spoken directly when a tray owns the selection (it alone
// reports motion and real buttons); with no such tray, Qt's tray icon is
// used if a StatusNotifierItem host appears, otherwise the X11 backend waits
// for a tray. Everywhere else Qt's tray icon serves.
std::unique_ptr<NotifyArea> createNotifyArea();

} // namespace tarnwick::platform
