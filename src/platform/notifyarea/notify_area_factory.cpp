#include "platform/notifyarea/notify_area_factory.h"

#include "platform/notifyarea/qt_notify_area.h"
#include "platform/notifyarea/selecting_notify_area.h"
#include "platform/notifyarea/xembed_notify_area.h"

namespace tarnwick::platform {

std::unique_ptr<NotifyArea> createNotifyArea()
{
    if (!XEmbedNotifyArea::platformSupported())
        return std::make_unique<QtNotifyArea>();
    auto xembed = std::make_unique<XEmbedNotifyArea>();
    XEmbedNotifyArea* x = xembed.get();
    auto* probe = new StatusNotifierProbe;
    // Made only once a host is known to run: Qt settles on the bus or on its
    // own X11 tray when its first tray icon is made, and keeps that choice.
    auto area = std::make_unique<SelectingNotifyArea>(
        std::move(xembed), [x] { x->refresh(); },
        [] { return std::make_unique<QtNotifyArea>([] { return true; }); }, probe);
    probe->start();
    return area;
}

} // namespace tarnwick::platform
