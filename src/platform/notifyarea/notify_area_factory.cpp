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
    if (xembed->isAvailable())
        return xembed;
    auto* probe = new StatusNotifierProbe;
    auto area = std::make_unique<SelectingNotifyArea>(
        std::move(xembed), [] { return std::make_unique<QtNotifyArea>(); }, probe);
    probe->start();
    return area;
}

} // namespace tarnwick::platform
