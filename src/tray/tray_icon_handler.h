#pragma once

#include "platform/notifyarea/notify_area.h"

#include <QHash>
#include <QObject>

#include <functional>
#include <memory>

namespace tarnwick::tray {

class TTrayIcon;

// The one receiver of every tray icon's notifications in the process. It owns
// the notification area and hands each notification to the icon it names;
// created by the first tray icon, gone with the last.
class TTrayIconHandler : public QObject {
    Q_OBJECT
public:
    using AreaFactory = std::function<std::unique_ptr<platform::NotifyArea>()>;

    // The live handler, or nullptr when no tray icon exists.
    static TTrayIconHandler* instance();
    // Area for handlers created from now on; an empty factory means the
    // desktop's own (platform::createNotifyArea).
    static void useAreaFactory(AreaFactory factory);

    int iconCount() const { return m_iconCount; }
    platform::NotifyArea* area() const { return m_area.get(); }
    TTrayIcon* icon(quint32 iconId) const { return m_icons.value(iconId); }

    ~TTrayIconHandler() override;

private:
    friend class TTrayIcon;

    TTrayIconHandler();
    static TTrayIconHandler* acquire(TTrayIcon* icon);
    static void release(TTrayIcon* icon);
    void route(const platform::Notification& n);
    void areaRestarted();
    void availabilityChanged(bool available);
    void capabilitiesChanged();
    void iconShownChanged();

    std::unique_ptr<platform::NotifyArea> m_area;
    // Ids are looked up here rather than turned back into addresses, so a
    // late notification for a destroyed icon finds nothing.
    QHash<quint32, TTrayIcon*> m_icons;
    int m_iconCount = 0;
};

} // namespace tarnwick::tray
