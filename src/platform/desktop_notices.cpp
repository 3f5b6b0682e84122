#include "platform/desktop_notices.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QVariant>
#include <QVariantMap>

#include <functional>

namespace tarnwick::platform {

namespace {
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kDefaultAction = QStringLiteral("default");
} // namespace

DesktopNotices::DesktopNotices(QDBusConnection bus, QObject* parent)
    : QObject(parent), m_bus(std::move(bus))
{
    if (!m_bus.isConnected())
        return;
    // Asked without waiting: a bus that is slow to answer must not hold up
    // the start.
    const auto ask = [this](const QString& method, const QVariant& argument,
                            std::function<void(const QDBusMessage&)> take) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), method);
        if (argument.isValid())
            call << argument;
        auto* pending = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
        connect(pending, &QDBusPendingCallWatcher::finished, this,
                [take = std::move(take)](QDBusPendingCallWatcher* w) {
                    take(w->reply());
                    w->deleteLater();
                });
    };
    const auto firstArgument = [](const QDBusMessage& reply) {
        return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
                   ? reply.arguments().constFirst()
                   : QVariant();
    };
    ask(QStringLiteral("NameHasOwner"), kService, [this, firstArgument](const QDBusMessage& r) {
        const bool was = available();
        if (firstArgument(r).toBool() && !m_registered) {
            m_registered = true;
            queryCapabilities();
        }
        if (available() != was)
            emit availabilityChanged(available());
    });
    ask(QStringLiteral("ListActivatableNames"), QVariant(),
        [this, firstArgument](const QDBusMessage& r) {
            const bool was = available();
            m_activatable = firstArgument(r).toStringList().contains(kService);
            if (available() != was)
                emit availabilityChanged(available());
        });
    auto* watcher =
        new QDBusServiceWatcher(kService, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& newOwner) {
                ownerChanged(newOwner);
            });
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                  SLOT(onActionInvoked(uint, QString)));
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                  SLOT(onClosed(uint, uint)));
}

DesktopNotices::~DesktopNotices() = default;

bool DesktopNotices::available() const
{
    return m_bus.isConnected() && (m_registered || m_activatable);
}

void DesktopNotices::ownerChanged(const QString& newOwner)
{
    const bool was = available();
    m_registered = !newOwner.isEmpty();
    // Another service: its ids mean nothing to us, and it may offer other things.
    m_tags.clear();
    m_actions = false;
    if (m_registered)
        queryCapabilities();
    if (available() != was)
        emit availabilityChanged(available());
}

void DesktopNotices::queryCapabilities()
{
    const QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                             QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        const QDBusPendingReply<QStringList> reply = *w;
        m_actions = reply.isValid() && reply.value().contains(QStringLiteral("actions"));
        w->deleteLater();
    });
}

void DesktopNotices::show(const QString& summary, const QString& body, int tag)
{
    if (!available())
        return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(1)));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("tarnwick"));
    // Offered to every service: one without actions ignores them.
    const QStringList actions = {kDefaultAction, QStringLiteral("Show")};
    call << QStringLiteral("Tarnwick") << uint(0) << QStringLiteral("tarnwick") << summary << body
         << actions << hints << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, tag](QDBusPendingCallWatcher* w) {
                const QDBusPendingReply<uint> reply = *w;
                if (reply.isValid()) {
                    m_tags.insert(reply.value(), tag);
                    ++m_shown;
                }
                emit answered(reply.isValid());
                w->deleteLater();
            });
}

void DesktopNotices::onActionInvoked(uint id, const QString& key)
{
    const auto it = m_tags.constFind(id);
    if (it == m_tags.constEnd())
        return;
    if (key == kDefaultAction || key == QStringLiteral("Show"))
        emit activated(it.value());
}

void DesktopNotices::onClosed(uint id, uint)
{
    m_tags.remove(id);
}

} // namespace tarnwick::platform
