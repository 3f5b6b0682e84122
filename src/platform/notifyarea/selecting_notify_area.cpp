#include "platform/notifyarea/selecting_notify_area.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

namespace tarnwick::platform {

namespace {
const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
} // namespace

StatusNotifierProbe::StatusNotifierProbe(QObject* parent) : QObject(parent) {}

void StatusNotifierProbe::start()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    auto* watcher = new QDBusServiceWatcher(watcherService, bus,
                                            QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& newOwner) {
                if (newOwner.isEmpty())
                    emit hostGone();
                else
                    check();
            });
    bus.connect(watcherService, watcherPath, watcherService,
                QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(check()));
    check();
}

void StatusNotifierProbe::check()
{
    // A watcher alone is not enough: it must also know of a host that
    // shows the items.
    QDBusMessage get = QDBusMessage::createMethodCall(
        watcherService, watcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << watcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    auto* call = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(get), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        const QDBusPendingReply<QDBusVariant> reply = *w;
        w->deleteLater();
        if (!reply.isError() && reply.value().variant().toBool())
            emit hostPresent();
    });
}

SelectingNotifyArea::SelectingNotifyArea(std::unique_ptr<NotifyArea> xembed, Refresh refresh,
                                         Factory statusNotifier, StatusNotifierProbe* probe,
                                         QObject* parent)
    : NotifyArea(parent), m_xembed(std::move(xembed)), m_refresh(std::move(refresh)),
      m_busFactory(std::move(statusNotifier))
{
    if (m_xembed)
        watch(m_xembed.get());
    if (probe) {
        probe->setParent(this);
        connect(probe, &StatusNotifierProbe::hostPresent, this, [this] { setHostPresent(true); });
        connect(probe, &StatusNotifierProbe::hostGone, this, [this] { setHostPresent(false); });
    }
    m_current = choice();
    updateAvailability(isAvailable());
}

SelectingNotifyArea::~SelectingNotifyArea()
{
    if (m_xembed)
        m_xembed->disconnect(this);
    if (m_bus)
        m_bus->disconnect(this);
}

void SelectingNotifyArea::watch(NotifyArea* area)
{
    // Only the area in use speaks for this one; every change of either may
    // change which one that is.
    connect(area, &NotifyArea::notification, this, [this, area](const Notification& n) {
        if (area == m_current)
            emit notification(n);
    });
    connect(area, &NotifyArea::iconGeometryChanged, this,
            [this, area](quint32 id, const QRect& geometry) {
                if (area == m_current)
                    emit iconGeometryChanged(id, geometry);
            });
    connect(area, &NotifyArea::capabilitiesChanged, this, [this, area] {
        if (area == m_current)
            emit capabilitiesChanged();
    });
    connect(area, &NotifyArea::areaLost, this, [this, area] {
        if (area != m_current)
            return;
        reconsider();
        if (m_current == area) {
            updateAvailability(false);
            emit areaLost();
        }
    });
    connect(area, &NotifyArea::areaRestarted, this, [this, area] {
        if (area != m_current) {
            reconsider();
            return;
        }
        updateAvailability(area->isAvailable());
        emit areaRestarted();
    });
    connect(area, &NotifyArea::availabilityChanged, this, [this] { reconsider(); });
}

void SelectingNotifyArea::setHostPresent(bool present)
{
    m_hostPresent = present;
    reconsider();
}

NotifyArea* SelectingNotifyArea::choice()
{
    if (m_xembed && m_xembed->isAvailable())
        return m_xembed.get();
    if (m_hostPresent && m_busFactory) {
        if (!m_bus) {
            m_bus = m_busFactory();
            if (m_bus)
                watch(m_bus.get());
        }
        if (m_bus && m_bus->isAvailable())
            return m_bus.get();
    }
    if (m_xembed)
        return m_xembed.get();
    return m_bus.get();
}

void SelectingNotifyArea::reconsider()
{
    if (m_reconsidering)
        return;
    m_reconsidering = true;
    // A tray's announcement may still be queued while the bus already
    // answered: ask the X server before settling on the bus.
    if (m_refresh && m_xembed && !m_xembed->isAvailable())
        m_refresh();
    NotifyArea* next = choice();
    m_reconsidering = false;
    if (next == m_current || !next)
        return;
    NotifyArea* previous = m_current;
    const bool was = isAvailable();
    m_current = next;
    // Icons left on the bus host when the X11 tray takes over would show
    // twice: that side goes entirely.
    if (previous && previous == m_bus.get()) {
        m_bus->disconnect(this);
        // Not at once: this may run inside one of its own signals.
        m_bus.release()->deleteLater();
    }
    updateAvailability(m_current->isAvailable());
    emit capabilitiesChanged();
    if (m_current->isAvailable())
        emit areaRestarted();
    else if (was)
        emit areaLost();
}

bool SelectingNotifyArea::add(quint32 id, const IconState& state)
{
    return m_current && m_current->add(id, state);
}

bool SelectingNotifyArea::modify(quint32 id, const IconState& state)
{
    return m_current && m_current->modify(id, state);
}

bool SelectingNotifyArea::remove(quint32 id)
{
    return m_current && m_current->remove(id);
}

bool SelectingNotifyArea::hasIcon(quint32 id) const
{
    return m_current && m_current->hasIcon(id);
}

bool SelectingNotifyArea::setMenu(quint32 id, QMenu* menu)
{
    return m_current && m_current->setMenu(id, menu);
}

QRect SelectingNotifyArea::iconGeometry(quint32 id) const
{
    return m_current ? m_current->iconGeometry(id) : QRect();
}

bool SelectingNotifyArea::isAvailable() const
{
    return m_current && m_current->isAvailable();
}

Capabilities SelectingNotifyArea::capabilities() const
{
    return m_current ? m_current->capabilities() : Capabilities();
}

QString SelectingNotifyArea::name() const
{
    return m_current ? m_current->name() : QString();
}

} // namespace tarnwick::platform
