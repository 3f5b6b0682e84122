#include "platform/notifyarea/qt_notify_area.h"

#include <QCursor>
#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QMenu>

#include <optional>

namespace tarnwick::platform {

namespace {
const QString statusNotifierWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
// Qt only knows where the icon is on its own XEmbed path and on Windows and
// macOS; polling the cursor this often makes hover look native there.
constexpr int hoverPollMs = 20;
} // namespace

QtNotifyArea::QtNotifyArea(const AvailabilityProbe& probe, QObject* parent) : NotifyArea(parent)
{
    m_available = probe ? probe() : QSystemTrayIcon::isSystemTrayAvailable();
    updateAvailability(m_available);
    m_hoverPoll.setInterval(hoverPollMs);
    connect(&m_hoverPoll, &QTimer::timeout, this, &QtNotifyArea::pollHover);
    watchStatusNotifierHost();
}

QtNotifyArea::~QtNotifyArea()
{
    dropIcons();
}

void QtNotifyArea::watchStatusNotifierHost()
{
    // Qt re-registers its items by itself when the host restarts; watching the
    // host ourselves gives the owner the same lost/restarted pair as on X11.
    // The watcher only reacts to bus signals, it never waits on a reply.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    auto* watcher = new QDBusServiceWatcher(statusNotifierWatcher, bus,
                                            QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString& oldOwner, const QString& newOwner) {
                if (!oldOwner.isEmpty())
                    hostGone();
                if (!newOwner.isEmpty())
                    hostBack();
            });
}

QList<NotificationCode> QtNotifyArea::codesForReason(QSystemTrayIcon::ActivationReason reason)
{
    using C = NotificationCode;
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        return {C::LeftDown, C::LeftUp};
    case QSystemTrayIcon::DoubleClick:
        // Qt sends Trigger for the first click, so the whole sequence reads
        // down, up, double click, up like everywhere else.
        return {C::LeftDoubleClick, C::LeftUp};
    case QSystemTrayIcon::Context:
        return {C::RightDown, C::RightUp};
    case QSystemTrayIcon::MiddleClick:
        return {C::MiddleDown, C::MiddleUp};
    case QSystemTrayIcon::Unknown:
        break;
    }
    return {};
}

QPoint QtNotifyArea::activationPosition(QPoint cursor, const QRect& geometry)
{
    if (!geometry.isValid() || geometry.isEmpty())
        return cursor;
    return {qBound(geometry.left(), cursor.x(), geometry.right()),
            qBound(geometry.top(), cursor.y(), geometry.bottom())};
}

Capabilities QtNotifyArea::capabilities() const
{
    Capabilities caps = Capability::HostMenu;
    const QString platform = QGuiApplication::platformName();
    // Only Windows and macOS report double clicks through Qt; hosts on the
    // bus never do.
    if (platform == QLatin1String("windows") || platform == QLatin1String("cocoa"))
        caps |= Capability::DoubleClick;
    if (m_anyGeometry)
        caps |= Capability::Geometry | Capability::Motion;
    return caps;
}

bool QtNotifyArea::add(quint32 id, const IconState& state)
{
    if (!m_available || m_icons.contains(id))
        return false;
    Entry entry;
    entry.icon = new QSystemTrayIcon(this);
    entry.icon->setObjectName(QStringLiteral("icon-%1").arg(id));
    entry.icon->setIcon(state.image);
    entry.icon->setToolTip(state.tooltip);
    connect(entry.icon, &QSystemTrayIcon::activated, this,
            [this, id](QSystemTrayIcon::ActivationReason reason) { activated(id, reason); });
    connect(entry.icon, &QSystemTrayIcon::messageClicked, this, [this, id] {
        emit notification(Notification{id, NotificationCode::BalloonClick, QCursor::pos(), true});
    });
    entry.icon->show();
    qCDebug(lcNotifyArea) << "bus icon" << id << "shown by Qt" << entry.icon->isVisible();
    m_icons.insert(id, entry);
    emit iconShownChanged(id);
    if (!m_hoverPoll.isActive())
        m_hoverPoll.start();
    return true;
}

bool QtNotifyArea::modify(quint32 id, const IconState& state)
{
    const auto it = m_icons.find(id);
    if (it == m_icons.end())
        return false;
    it->icon->setIcon(state.image);
    it->icon->setToolTip(state.tooltip);
    return true;
}

bool QtNotifyArea::remove(quint32 id)
{
    const auto it = m_icons.find(id);
    if (it == m_icons.end())
        return false;
    QSystemTrayIcon* icon = it->icon;
    m_icons.erase(it);
    icon->hide();
    icon->deleteLater();
    if (m_icons.isEmpty())
        m_hoverPoll.stop();
    emit iconShownChanged(id);
    return true;
}

bool QtNotifyArea::setMenu(quint32 id, QMenu* menu)
{
    const auto it = m_icons.find(id);
    if (it == m_icons.end())
        return false;
    // The owner hands the menu over with every refresh; Qt re-exports it to
    // the host each time it is set.
    if (it->menu != menu) {
        it->menu = menu;
        it->icon->setContextMenu(menu);
    }
    return true;
}

bool QtNotifyArea::iconShown(quint32 id) const
{
    // Whether a host shows the item is the bus watcher's to say (the owner
    // of this area takes it away when none does).
    return m_available && m_icons.contains(id);
}

void QtNotifyArea::removeAll()
{
    dropIcons();
}

QRect QtNotifyArea::iconGeometry(quint32 id) const
{
    const auto it = m_icons.constFind(id);
    return it == m_icons.constEnd() ? QRect() : it->icon->geometry();
}

void QtNotifyArea::activated(quint32 id, QSystemTrayIcon::ActivationReason reason)
{
    const auto it = m_icons.constFind(id);
    if (it == m_icons.constEnd())
        return;
    const QRect geometry = it->icon->geometry();
    const QPoint pos = activationPosition(QCursor::pos(), geometry);
    // Where Qt knows the icon's place, hover is reported too, and then a
    // click at a new position is announced by a Move first.
    if (geometry.isValid() && !geometry.isEmpty() && pos != it->lastMove) {
        m_icons[id].lastMove = pos;
        m_icons[id].inside = true;
        emit notification(Notification{id, NotificationCode::Move, pos, true});
    }
    for (const NotificationCode code : codesForReason(reason)) {
        if (!m_icons.contains(id))
            return; // a handler removed the icon
        emit notification(Notification{id, code, pos, true});
    }
}

void QtNotifyArea::pollHover()
{
    // The cursor is read only where Qt knows an icon's place; hosts on the
    // bus never tell it, and the read costs a round trip on X11.
    std::optional<QPoint> cursor;
    bool anyGeometry = false;
    const QList<quint32> ids = m_icons.keys();
    for (const quint32 id : ids) {
        const auto it = m_icons.find(id);
        if (it == m_icons.end())
            continue;
        const QRect geometry = it->icon->geometry();
        const bool known = geometry.isValid() && !geometry.isEmpty();
        anyGeometry = anyGeometry || known;
        const bool moved = geometry != it->geometry;
        it->geometry = geometry;
        if (known && !cursor)
            cursor = QCursor::pos();
        const bool inside = known && geometry.contains(*cursor);
        const bool report = inside && (!it->inside || *cursor != it->lastMove);
        it->inside = inside;
        if (report)
            it->lastMove = *cursor;
        if (moved)
            emit iconGeometryChanged(id, geometry);
        if (report && m_icons.contains(id))
            emit notification(Notification{id, NotificationCode::Move, *cursor, true});
    }
    if (anyGeometry != m_anyGeometry) {
        m_anyGeometry = anyGeometry;
        emit capabilitiesChanged();
    }
}

void QtNotifyArea::dropIcons()
{
    const QHash<quint32, Entry> icons = std::exchange(m_icons, {});
    for (auto it = icons.cbegin(); it != icons.cend(); ++it) {
        it->icon->hide();
        delete it->icon;
        emit iconShownChanged(it.key());
    }
    m_hoverPoll.stop();
}

void QtNotifyArea::hostGone()
{
    qCDebug(lcNotifyArea) << "watcher gone";
    dropIcons();
    m_available = false;
    updateAvailability(false);
    emit areaLost();
}

void QtNotifyArea::hostBack()
{
    qCDebug(lcNotifyArea) << "watcher back";
    dropIcons();
    m_available = true;
    updateAvailability(true);
    emit areaRestarted();
}

} // namespace tarnwick::platform
