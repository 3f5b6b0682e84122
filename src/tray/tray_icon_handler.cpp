#include "tray/tray_icon_handler.h"

#include "platform/notifyarea/notify_area_factory.h"
#include "tray/tray_icon.h"

#include <QCoreApplication>
#include <QPointer>

namespace tarnwick::tray {

namespace {
TTrayIconHandler* iconHandler = nullptr;
TTrayIconHandler::AreaFactory& areaFactory()
{
    static TTrayIconHandler::AreaFactory factory;
    return factory;
}

void destroyLeftoverIconHandler()
{
    delete iconHandler;
    iconHandler = nullptr;
}
} // namespace

TTrayIconHandler* TTrayIconHandler::instance()
{
    return iconHandler;
}

void TTrayIconHandler::useAreaFactory(AreaFactory factory)
{
    areaFactory() = std::move(factory);
}

TTrayIconHandler::TTrayIconHandler()
{
    m_area = areaFactory() ? areaFactory()() : platform::createNotifyArea();
    connect(m_area.get(), &platform::NotifyArea::notification, this, &TTrayIconHandler::route);
    connect(m_area.get(), &platform::NotifyArea::areaRestarted, this,
            &TTrayIconHandler::areaRestarted);
    connect(m_area.get(), &platform::NotifyArea::availabilityChanged, this,
            &TTrayIconHandler::availabilityChanged);
    connect(m_area.get(), &platform::NotifyArea::capabilitiesChanged, this,
            &TTrayIconHandler::capabilitiesChanged);
    // Whatever the area says, each icon asks again whether it is on screen.
    connect(m_area.get(), &platform::NotifyArea::iconShownChanged, this,
            &TTrayIconHandler::iconShownChanged);
    connect(m_area.get(), &platform::NotifyArea::areaLost, this,
            &TTrayIconHandler::iconShownChanged);
}

TTrayIconHandler::~TTrayIconHandler() = default;

TTrayIconHandler* TTrayIconHandler::acquire(TTrayIcon* icon)
{
    if (!iconHandler) {
        iconHandler = new TTrayIconHandler;
        static bool routineAdded = false;
        if (!routineAdded) {
            qAddPostRoutine(destroyLeftoverIconHandler);
            routineAdded = true;
        }
    }
    iconHandler->m_icons.insert(icon->m_iconId, icon);
    ++iconHandler->m_iconCount;
    return iconHandler;
}

void TTrayIconHandler::release(TTrayIcon* icon)
{
    if (!iconHandler)
        return;
    iconHandler->m_icons.remove(icon->m_iconId);
    if (iconHandler->m_iconCount > 0)
        --iconHandler->m_iconCount;
    if (iconHandler->m_iconCount == 0) {
        // Deleting the area may emit; nobody is left to hear it.
        TTrayIconHandler* h = std::exchange(iconHandler, nullptr);
        h->m_area->disconnect(h);
        delete h;
    }
}

void TTrayIconHandler::route(const platform::Notification& n)
{
    if (TTrayIcon* target = m_icons.value(n.iconId))
        target->handleNotification(n);
}

void TTrayIconHandler::areaRestarted()
{
    const QList<quint32> ids = m_icons.keys();
    for (const quint32 id : ids) {
        if (TTrayIcon* target = m_icons.value(id))
            target->areaRestarted();
    }
}

void TTrayIconHandler::capabilitiesChanged()
{
    const QList<TTrayIcon*> icons = m_icons.values();
    QList<QPointer<TTrayIcon>> targets(icons.cbegin(), icons.cend());
    for (const QPointer<TTrayIcon>& target : targets) {
        if (target)
            target->capabilitiesChanged();
    }
}

void TTrayIconHandler::iconShownChanged()
{
    const QList<TTrayIcon*> icons = m_icons.values();
    QList<QPointer<TTrayIcon>> targets(icons.cbegin(), icons.cend());
    for (const QPointer<TTrayIcon>& target : targets) {
        if (target)
            target->updateIconShown();
    }
}

void TTrayIconHandler::availabilityChanged(bool available)
{
    const QList<TTrayIcon*> icons = m_icons.values();
    QList<QPointer<TTrayIcon>> targets(icons.cbegin(), icons.cend());
    for (const QPointer<TTrayIcon>& target : targets) {
        if (target)
            emit target->trayAvailabilityChanged(available);
    }
    iconShownChanged();
}

} // namespace tarnwick::tray
