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
const QString busService = QStringLiteral("org.freedesktop.DBus");
const QString busPath = QStringLiteral("/org/freedesktop/DBus");
} // namespace

StatusNotifierProbe::StatusNotifierProbe(QObject* parent) : QObject(parent) {}

bool StatusNotifierProbe::isHostName(const QString& name)
{
    // Plasma's shell is that desktop's host and registers with the watcher
    // under its own name, taking no host name (measured on Plasma 5.27).
    return name.startsWith(QLatin1String("org.kde.StatusNotifierHost-")) ||
           name.startsWith(QLatin1String("org.freedesktop.StatusNotifierHost-")) ||
           name == QLatin1String("org.kde.plasmashell");
}

void StatusNotifierProbe::start()
{
    start(QDBusConnection::sessionBus());
}

void StatusNotifierProbe::start(const QDBusConnection& bus)
{
    if (!bus.isConnected())
        return;
    m_bus = std::make_unique<QDBusConnection>(bus);
    // Every name that comes or goes: hosts take names of their own choosing
    // under two prefixes, which no service watcher can match.
    m_bus->connect(busService, busPath, busService, QStringLiteral("NameOwnerChanged"), this,
                   SLOT(nameOwnerChanged(QString, QString, QString)));
    m_bus->connect(watcherService, watcherPath, watcherService,
                   QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(askWatcher()));
    m_bus->connect(watcherService, watcherPath, watcherService,
                   QStringLiteral("StatusNotifierHostUnregistered"), this, SLOT(askWatcher()));
    const QDBusMessage list = QDBusMessage::createMethodCall(busService, busPath, busService,
                                                             QStringLiteral("ListNames"));
    ++m_pending;
    auto* call = new QDBusPendingCallWatcher(m_bus->asyncCall(list), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        const QDBusPendingReply<QStringList> reply = *w;
        w->deleteLater();
        --m_pending;
        if (reply.isError())
            return;
        for (const QString& name : reply.value()) {
            if (isHostName(name))
                m_hostNames.insert(name);
        }
        evaluate();
    });
    askWatcher();
}

void StatusNotifierProbe::nameOwnerChanged(const QString& name, const QString&,
                                           const QString& newOwner)
{
    if (name == watcherService) {
        if (newOwner.isEmpty()) {
            m_watcherSays = false;
            evaluate();
        }
        askWatcher();
    } else if (isHostName(name)) {
        if (newOwner.isEmpty())
            m_hostNames.remove(name);
        else
            m_hostNames.insert(name);
        evaluate();
        // The watcher's count of hosts follows; it may not signal it.
        askWatcher();
    }
}

void StatusNotifierProbe::askWatcher()
{
    if (!m_bus)
        return;
    QDBusMessage get = QDBusMessage::createMethodCall(
        watcherService, watcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << watcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    const quint64 asked = ++m_asked;
    ++m_pending;
    auto* call = new QDBusPendingCallWatcher(m_bus->asyncCall(get), this);
    connect(call, &QDBusPendingCallWatcher::finished, this,
            [this, asked](QDBusPendingCallWatcher* w) {
                const QDBusPendingReply<QDBusVariant> reply = *w;
                w->deleteLater();
                --m_pending;
                if (asked != m_asked)
                    return;
                m_watcherSays = !reply.isError() && reply.value().variant().toBool();
                evaluate();
            });
}

void StatusNotifierProbe::evaluate()
{
    const bool present = hostShows(m_watcherSays, !m_hostNames.isEmpty());
    if (present == m_present)
        return;
    m_present = present;
    qCDebug(lcNotifyArea) << "status notifier host" << (present ? "present" : "gone");
    if (present)
        emit hostPresent();
    else
        emit hostGone();
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
        // A tray found to relay may now give way to a host; not from inside
        // the tray's own event handling.
        if (area == m_xembed.get())
            QMetaObject::invokeMethod(this, &SelectingNotifyArea::reconsider, Qt::QueuedConnection);
    });
    connect(area, &NotifyArea::iconShownChanged, this, &NotifyArea::iconShownChanged);
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
    const bool trayUp = m_xembed && m_xembed->isAvailable();
    const bool busWanted = m_hostPresent && m_busFactory;
    if (trayUp && !(busWanted && m_xembed->relays()))
        return m_xembed.get();
    if (busWanted) {
        if (!m_bus) {
            m_bus = m_busFactory();
            if (m_bus)
                watch(m_bus.get());
        }
        if (m_bus && m_bus->isAvailable())
            return m_bus.get();
    }
    return m_xembed.get();
}

void SelectingNotifyArea::reconsider()
{
    // Asked again while at it (an area's signal while switching): once more
    // afterwards, never dropped.
    if (m_reconsidering) {
        m_reconsiderAgain = true;
        return;
    }
    m_reconsidering = true;
    do {
        m_reconsiderAgain = false;
        // A tray's announcement may still be queued while the bus already
        // answered: ask the X server before settling on the bus.
        if (m_refresh && m_xembed && !m_xembed->isAvailable())
            m_refresh();
        switchTo(choice());
    } while (m_reconsiderAgain);
    m_reconsidering = false;
}

void SelectingNotifyArea::switchTo(NotifyArea* next)
{
    if (next == m_current)
        return;
    NotifyArea* previous = m_current;
    const bool was = isAvailable();
    m_current = next;
    qCDebug(lcNotifyArea) << "area" << (previous ? previous->name() : QStringLiteral("none"))
                          << "->" << (next ? next->name() : QStringLiteral("none")) << "available"
                          << (next && next->isAvailable());
    if (previous && previous == m_bus.get()) {
        // Icons left on the bus host when the X11 tray takes over would show
        // twice: that side goes entirely. Not at once: this may run inside
        // one of its own signals.
        m_bus->disconnect(this);
        m_bus.release()->deleteLater();
    } else if (previous) {
        // A relaying tray would keep showing (and catching clicks for) an
        // icon the host now has directly.
        previous->removeAll();
    }
    updateAvailability(isAvailable());
    emit capabilitiesChanged();
    if (isAvailable())
        emit areaRestarted();
    else if (was)
        emit areaLost();
    // The icons that were on the bus side are gone with it.
    emit iconShownChanged(0);
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

bool SelectingNotifyArea::iconShown(quint32 id) const
{
    if (!m_current)
        return false;
    if (m_current == m_bus.get() && !m_hostPresent)
        return false;
    return m_current->iconShown(id);
}

bool SelectingNotifyArea::iconAwaited(quint32 id) const
{
    if (!m_current || (m_current == m_bus.get() && !m_hostPresent))
        return false;
    return m_current->iconAwaited(id);
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
