#include "platform/notifyarea/notify_area_factory.h"

#include "platform/notifyarea/qt_notify_area.h"
#include "platform/notifyarea/selecting_notify_area.h"
#include "platform/notifyarea/xembed_notify_area.h"

#include <QDBusConnection>

namespace tarnwick::platform {

std::unique_ptr<NotifyArea> createNotifyArea()
{
    // Made only once a host is known to show items: Qt asks the bus once,
    // when its first tray icon is made, and keeps that answer for good. A
    // program that started before the host would never reach it.
    const auto busArea = [] { return std::make_unique<QtNotifyArea>([] { return true; }); };
    if (!XEmbedNotifyArea::platformSupported()) {
        // Off X11 (Wayland) the bus is the only route where there is one.
        if (!QDBusConnection::sessionBus().isConnected())
            return std::make_unique<QtNotifyArea>();
        auto* probe = new StatusNotifierProbe;
        auto area = std::make_unique<SelectingNotifyArea>(nullptr, nullptr, busArea, probe);
        probe->start();
        return area;
    }
    auto xembed = std::make_unique<XEmbedNotifyArea>();
    XEmbedNotifyArea* x = xembed.get();
    auto* probe = new StatusNotifierProbe;
    auto area = std::make_unique<SelectingNotifyArea>(
        std::move(xembed), [x] { x->refresh(); }, busArea, probe);
    probe->start();
    return area;
}

} // namespace tarnwick::platform
