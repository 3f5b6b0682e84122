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
                                            QDBusServiceWatcher::WatchForRegistration, this);
    connect(watcher, &QDBusServiceWatcher::serviceRegistered, this, &StatusNotifierProbe::check);
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

SelectingNotifyArea::SelectingNotifyArea(std::unique_ptr<NotifyArea> primary, Factory fallback,
                                         StatusNotifierProbe* probe, QObject* parent)
    : NotifyArea(parent), m_fallback(std::move(fallback))
{
    adopt(std::move(primary));
    if (probe) {
        probe->setParent(this);
        connect(probe, &StatusNotifierProbe::hostPresent, this,
                &SelectingNotifyArea::fallBackIfIdle);
    }
}

SelectingNotifyArea::~SelectingNotifyArea() = default;

void SelectingNotifyArea::adopt(std::unique_ptr<NotifyArea> area)
{
    m_current = std::move(area);
    NotifyArea* a = m_current.get();
    connect(a, &NotifyArea::notification, this, &NotifyArea::notification);
    connect(a, &NotifyArea::areaLost, this, &NotifyArea::areaLost);
    connect(a, &NotifyArea::areaRestarted, this, &NotifyArea::areaRestarted);
    connect(a, &NotifyArea::iconGeometryChanged, this, &NotifyArea::iconGeometryChanged);
    connect(a, &NotifyArea::availabilityChanged, this,
            [this](bool available) { updateAvailability(available); });
    updateAvailability(a->isAvailable());
}

void SelectingNotifyArea::fallBackIfIdle()
{
    if (m_switched || !m_fallback || m_current->isAvailable())
        return;
    m_switched = true;
    std::unique_ptr<NotifyArea> next = m_fallback();
    if (!next)
        return;
    m_current->disconnect(this);
    m_current.reset();
    adopt(std::move(next));
    // The owner re-adds its icons to the new backend as after any restart.
    if (m_current->isAvailable())
        emit areaRestarted();
}

bool SelectingNotifyArea::add(quint32 id, const IconState& state)
{
    return m_current->add(id, state);
}

bool SelectingNotifyArea::modify(quint32 id, const IconState& state)
{
    return m_current->modify(id, state);
}

bool SelectingNotifyArea::remove(quint32 id)
{
    return m_current->remove(id);
}

bool SelectingNotifyArea::setVersion(quint32 id, int version)
{
    return m_current->setVersion(id, version);
}

bool SelectingNotifyArea::setMenu(quint32 id, QMenu* menu)
{
    return m_current->setMenu(id, menu);
}

QRect SelectingNotifyArea::iconGeometry(quint32 id) const
{
    return m_current->iconGeometry(id);
}

bool SelectingNotifyArea::isAvailable() const
{
    return m_current->isAvailable();
}

Capabilities SelectingNotifyArea::capabilities() const
{
    return m_current->capabilities();
}

QString SelectingNotifyArea::name() const
{
    return m_current->name();
}

} // namespace tarnwick::platform
