#include "platform/notifyarea/xembed_notify_area.h"

#include "platform/notifyarea/xembed_icon_window.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <xcb/xcb.h>

namespace tarnwick::platform {

namespace {
constexpr quint32 xembedEmbeddedNotify = 0;
} // namespace

XEmbedNotifyArea::XEmbedNotifyArea(QObject* parent) : NotifyArea(parent)
{
    // A new tray announces itself with MANAGER on the root window.
    m_x.watchWindow(m_x.root());
    qGuiApp->installNativeEventFilter(this);
    refresh();
}

XEmbedNotifyArea::~XEmbedNotifyArea()
{
    if (qGuiApp)
        qGuiApp->removeNativeEventFilter(this);
    for (const auto& window : std::as_const(m_icons))
        delete window.data();
}

bool XEmbedNotifyArea::refresh()
{
    const XEmbedTrayConnection::Owner owner = m_x.locateOwner();
    if (owner.window == m_owner) {
        updateAvailability(isAvailable());
        return isAvailable();
    }
    const bool had = m_owner != XCB_NONE;
    // Icons docked with (or asked of) another tray are not in this one.
    dropWindows();
    m_owner = owner.window;
    m_argb = owner.argb;
    m_relays = false;
    m_x.watchWindow(m_owner);
    updateAvailability(isAvailable());
    // A tray found by looking is a new tray as much as an announced one:
    // its announcement, when it comes, changes nothing.
    if (isAvailable())
        emit areaRestarted();
    else if (had)
        emit areaLost();
    return isAvailable();
}

Capabilities XEmbedNotifyArea::capabilities() const
{
    Capabilities caps = Capability::ButtonUpDown | Capability::DoubleClick |
                        Capability::ExactPosition | Capability::Geometry;
    if (m_hover)
        caps |= Capability::Motion;
    return caps;
}

bool XEmbedNotifyArea::add(quint32 id, const IconState& state)
{
    if (!isAvailable() || m_icons.contains(id))
        return false;
    auto* window =
        new XEmbedIconWindow(id, m_argb, [this](const Notification& n) { emit notification(n); });
    window->placed = [this, window] { windowPlaced(window); };
    window->hoverFound = [this] {
        if (m_hover)
            return;
        m_hover = true;
        emit capabilitiesChanged();
    };
    window->setState(state);
    // The tray maps the window when it embeds it; showing it earlier would
    // put a stray window on the desktop.
    window->createWinId();
    const auto xid = static_cast<quint32>(window->winId());
    m_x.setClass(xid, iconWindowClass(), QByteArrayLiteral("Tarnwick"));
    qCDebug(lcNotifyArea) << "dock request" << id << "to" << m_owner;
    if (!m_x.sendDockRequest(m_owner, xid)) {
        delete window;
        return false;
    }
    m_icons.insert(id, window);
    return true;
}

bool XEmbedNotifyArea::modify(quint32 id, const IconState& state)
{
    XEmbedIconWindow* window = m_icons.value(id);
    if (!window)
        return false;
    window->setState(state);
    return true;
}

bool XEmbedNotifyArea::remove(quint32 id)
{
    const auto it = m_icons.find(id);
    if (it == m_icons.end())
        return false;
    QPointer<XEmbedIconWindow> window = *it;
    m_icons.erase(it);
    // The request may come from inside the window's own mouse handler.
    if (window) {
        m_sockets.remove(static_cast<quint32>(window->winId()));
        window->hide();
        window->deleteLater();
    }
    return true;
}

QRect XEmbedNotifyArea::iconGeometry(quint32 id) const
{
    XEmbedIconWindow* window = m_icons.value(id);
    if (!window || !window->isEmbedded() || !window->isVisible())
        return {};
    // Qt keeps the position relative to the tray's socket; ask the server
    // where that is on the screen.
    int x = 0;
    int y = 0;
    if (!m_x.rootPosition(static_cast<quint32>(window->winId()), x, y))
        return {};
    const qreal ratio = window->devicePixelRatioF();
    return {QPoint(qRound(x / ratio), qRound(y / ratio)), window->size()};
}

bool XEmbedNotifyArea::iconShown(quint32 id) const
{
    // Asked to dock is not docked: only a window the tray took counts, and
    // not one it relays to a host that may not be there.
    XEmbedIconWindow* window = m_icons.value(id);
    return m_owner != XCB_NONE && window && window->isEmbedded() && !window->isRelayed();
}

bool XEmbedNotifyArea::iconAwaited(quint32 id) const
{
    // Asked to dock by a tray that is there; a busy one takes seconds.
    XEmbedIconWindow* window = m_icons.value(id);
    return m_owner != XCB_NONE && window && !window->isEmbedded();
}

void XEmbedNotifyArea::removeAll()
{
    dropWindows();
}

QWidget* XEmbedNotifyArea::iconWindow(quint32 id) const
{
    return m_icons.value(id).data();
}

XEmbedIconWindow* XEmbedNotifyArea::windowFor(quint32 xWindow) const
{
    for (const auto& window : m_icons) {
        if (window && window->internalWinId() == xWindow)
            return window.data();
    }
    return nullptr;
}

XEmbedIconWindow* XEmbedNotifyArea::windowInSocket(quint32 socket) const
{
    for (auto it = m_sockets.cbegin(); it != m_sockets.cend(); ++it) {
        if (it.value() == socket)
            return windowFor(it.key());
    }
    return nullptr;
}

void XEmbedNotifyArea::embedded(XEmbedIconWindow* window)
{
    const auto win = static_cast<quint32>(window->winId());
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    if (!m_x.geometryOf(win, x, y, width, height))
        return;
    // The tray may have sized the socket already; showing the widget with
    // its own size would undo that.
    window->adoptGeometry(width, height);
    if (!m_argb) {
        // Only now, with the tray's window as parent: ParentRelative needs
        // the parent's depth.
        m_x.useParentBackground(win);
    }
    // The tray moves its sockets when icons come and go; the backdrop must
    // be read again then, so the socket's moves are watched.
    if (const quint32 socket = m_x.parentOf(win)) {
        m_sockets.insert(win, socket);
        m_x.watchWindow(socket);
        // The tray's own window moves too (a panel that grows to the left
        // as icons come): no event reaches the icon or its socket then, so
        // every window between the socket and the root is watched.
        for (quint32 w = m_x.parentOf(socket); w != 0 && w != m_x.root(); w = m_x.parentOf(w)) {
            if (!m_ancestors.contains(w)) {
                m_ancestors.insert(w);
                m_x.watchWindow(w);
            }
        }
    }
    // Trays that relay icons to another host hide their containers: what
    // such an icon gets is made up, never hover.
    const bool relayed = m_x.insideHiddenContainer(win);
    qCDebug(lcNotifyArea) << "embedded" << window->id() << "relayed" << relayed;
    window->setRelayed(relayed);
    window->show();
    emit iconShownChanged(window->id());
    if (relayed && !m_relays) {
        m_relays = true;
        emit capabilitiesChanged();
    }
}

void XEmbedNotifyArea::windowPlaced(XEmbedIconWindow* window)
{
    if (m_icons.value(window->id()) != window)
        return;
    const QRect geometry = iconGeometry(window->id());
    if (!geometry.isEmpty())
        emit iconGeometryChanged(window->id(), geometry);
}

void XEmbedNotifyArea::dropWindows()
{
    const auto icons = std::exchange(m_icons, {});
    m_sockets.clear();
    m_ancestors.clear();
    for (auto it = icons.cbegin(); it != icons.cend(); ++it) {
        if (XEmbedIconWindow* window = it.value()) {
            window->hide();
            window->deleteLater();
        }
        emit iconShownChanged(it.key());
    }
    // The next tray has to show again whether it passes hover on.
    if (m_hover) {
        m_hover = false;
        emit capabilitiesChanged();
    }
}

void XEmbedNotifyArea::trayLost()
{
    qCDebug(lcNotifyArea) << "tray lost";
    dropWindows();
    m_owner = XCB_NONE;
    m_argb = false;
    m_relays = false;
    updateAvailability(false);
    emit areaLost();
}

void XEmbedNotifyArea::trayAppeared(quint32 namedOwner)
{
    // The announcement of a tray we found by ourselves meanwhile (it was
    // still queued when we docked): not a new tray, and nothing must move.
    if (namedOwner != XCB_NONE && namedOwner == m_owner)
        return;
    // Always new windows: the new tray may want another visual.
    dropWindows();
    m_owner = XCB_NONE;
    m_relays = false;
    qCDebug(lcNotifyArea) << "tray announced" << namedOwner;
    refresh();
}

bool XEmbedNotifyArea::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    auto* event = static_cast<xcb_generic_event_t*>(message);
    // Qt needs to see every one of these events too, so none is swallowed.
    switch (event->response_type & 0x7f) {
    case XCB_CLIENT_MESSAGE: {
        auto* ev = reinterpret_cast<xcb_client_message_event_t*>(event);
        if (ev->format != 32)
            break;
        if (ev->window == m_x.root() && ev->type == m_x.managerAtom() &&
            ev->data.data32[1] == m_x.selectionAtom()) {
            const quint32 named = ev->data.data32[2];
            QMetaObject::invokeMethod(
                this, [this, named] { trayAppeared(named); }, Qt::QueuedConnection);
        } else if (ev->type == m_x.xembedAtom() && ev->data.data32[1] == xembedEmbeddedNotify) {
            // Handled before Qt sees it: Qt maps the window on this message,
            // and by then it must have the size the tray chose.
            if (XEmbedIconWindow* window = windowFor(ev->window))
                embedded(window);
        }
        break;
    }
    case XCB_DESTROY_NOTIFY: {
        auto* ev = reinterpret_cast<xcb_destroy_notify_event_t*>(event);
        if (m_owner != XCB_NONE && ev->window == m_owner) {
            m_owner = XCB_NONE;
            QMetaObject::invokeMethod(this, &XEmbedNotifyArea::trayLost, Qt::QueuedConnection);
        }
        break;
    }
    case XCB_CONFIGURE_NOTIFY: {
        auto* ev = reinterpret_cast<xcb_configure_notify_event_t*>(event);
        // The tray moved or resized a socket of ours: its backdrop changed.
        if (XEmbedIconWindow* window = windowInSocket(ev->window)) {
            window->scheduleRegrab();
        } else if (m_ancestors.contains(ev->window)) {
            // The tray itself moved: every icon's place on the screen did.
            for (const auto& icon : std::as_const(m_icons)) {
                if (icon && icon->isEmbedded())
                    icon->scheduleRegrab();
            }
        }
        break;
    }
    case XCB_REPARENT_NOTIFY: {
        auto* ev = reinterpret_cast<xcb_reparent_notify_event_t*>(event);
        // A dying tray's save-set hands our window back to the root, mapped.
        if (ev->parent == m_x.root()) {
            if (XEmbedIconWindow* window = windowFor(ev->window)) {
                window->unembed();
                window->hide();
                emit iconShownChanged(window->id());
            }
        }
        break;
    }
    case XCB_MAP_NOTIFY: {
        auto* ev = reinterpret_cast<xcb_map_notify_event_t*>(event);
        // A tray that maps the window into its socket without telling us
        // has docked it all the same.
        XEmbedIconWindow* window = windowFor(ev->window);
        if (window && !window->isEmbedded() && ev->event == ev->window) {
            const quint32 parent = m_x.parentOf(ev->window);
            if (parent != 0 && parent != m_x.root())
                embedded(window);
        }
        break;
    }
    default:
        break;
    }
    return false;
}

} // namespace tarnwick::platform
