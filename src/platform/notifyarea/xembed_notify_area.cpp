#include "platform/notifyarea/xembed_notify_area.h"

#include <QCloseEvent>
#include <QEnterEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <array>
#include <cstdlib>
#include <memory>

namespace tarnwick::platform {

namespace {

constexpr quint32 requestDock = 0;
constexpr quint32 xembedEmbeddedNotify = 0;

xcb_connection_t* x11Connection()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

xcb_atom_t internAtom(xcb_connection_t* c, const QByteArray& name)
{
    const Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.constData()), nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// A request whose failure we expect now and then (the tray can die at any
// moment): the error is collected here instead of being printed by Qt.
bool succeeded(xcb_connection_t* c, xcb_void_cookie_t cookie)
{
    const Reply<xcb_generic_error_t> error(xcb_request_check(c, cookie));
    return !error;
}

} // namespace

// One docked icon. Mouse traffic becomes notifications with screen positions;
// the picture is drawn over what the tray shows behind the socket.
class XEmbedIconWindow : public QWidget {
public:
    XEmbedIconWindow(XEmbedNotifyArea* area, quint32 id, bool argb) : m_area(area), m_id(id)
    {
        setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::BypassWindowManagerHint |
                       Qt::WindowDoesNotAcceptFocus);
        setAttribute(Qt::WA_AlwaysShowToolTips);
        // Only a tray that advertises an alpha visual composites us; forcing
        // one on any other tray shows a black box.
        setAttribute(Qt::WA_TranslucentBackground, argb);
        m_argb = argb;
        setMouseTracking(true);
        // Without a minimum size in WM_NORMAL_HINTS some trays make the icon
        // one pixel wide.
        setMinimumSize(16, 16);
        resize(16, 16);
        setWindowTitle(XEmbedNotifyArea::iconWindowTitle(id));
    }

    quint32 id() const { return m_id; }
    bool isEmbedded() const { return m_embedded; }

    void setState(const IconState& state)
    {
        m_image = state.image;
        setToolTip(clampTooltip(state.tooltip));
        update();
    }

    void adoptGeometry(const QRect& deviceRect)
    {
        // X reports device pixels, the widget lives in logical ones; mixing
        // them made the window larger than its socket and clicks missed it.
        const qreal ratio = devicePixelRatioF();
        resize(qMax(1, qRound(deviceRect.width() / ratio)),
               qMax(1, qRound(deviceRect.height() / ratio)));
        m_embedded = true;
    }

    void regrabBackground()
    {
        if (m_argb || !m_embedded || !isVisible())
            return;
        xcb_connection_t* c = x11Connection();
        // ParentRelative makes the server paint the tray's background into
        // the window when cleared; reading it back gives the backdrop.
        xcb_clear_area(c, 0, static_cast<xcb_window_t>(winId()), 0, 0, 0, 0);
        xcb_flush(c);
        if (QScreen* s = screen())
            m_background = s->grabWindow(winId());
        update();
    }

    void scheduleRegrab()
    {
        if (m_regrabQueued)
            return;
        m_regrabQueued = true;
        QTimer::singleShot(0, this, [this] {
            m_regrabQueued = false;
            regrabBackground();
            m_area->windowPlaced(this);
        });
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        if (m_argb) {
            p.setCompositionMode(QPainter::CompositionMode_Source);
            p.fillRect(rect(), Qt::transparent);
            p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        } else if (!m_background.isNull()) {
            p.drawPixmap(0, 0, m_background);
        } else {
            p.fillRect(rect(), palette().window());
        }
        if (m_image.isNull())
            return;
        // Shrunk to fit, never enlarged: a 16 px picture stays sharp in a
        // taller panel.
        const QPixmap pm = m_image.pixmap(size(), devicePixelRatioF());
        const QSize s = pm.deviceIndependentSize().toSize();
        p.drawPixmap((width() - s.width()) / 2, (height() - s.height()) / 2, pm);
    }

    void mousePressEvent(QMouseEvent* e) override
    {
        const QPoint g = e->globalPosition().toPoint();
        moveTo(g);
        switch (e->button()) {
        case Qt::LeftButton:
            send(NotificationCode::LeftDown, g);
            break;
        case Qt::RightButton:
            send(NotificationCode::RightDown, g);
            break;
        case Qt::MiddleButton:
            send(NotificationCode::MiddleDown, g);
            break;
        default:
            break;
        }
    }

    void mouseReleaseEvent(QMouseEvent* e) override
    {
        const QPoint g = e->globalPosition().toPoint();
        switch (e->button()) {
        case Qt::LeftButton:
            send(NotificationCode::LeftUp, g);
            break;
        case Qt::RightButton:
            send(NotificationCode::RightUp, g);
            break;
        case Qt::MiddleButton:
            send(NotificationCode::MiddleUp, g);
            break;
        default:
            break;
        }
    }

    void mouseDoubleClickEvent(QMouseEvent* e) override
    {
        const QPoint g = e->globalPosition().toPoint();
        moveTo(g);
        switch (e->button()) {
        case Qt::LeftButton:
            send(NotificationCode::LeftDoubleClick, g);
            break;
        // There is no double click of the other buttons: their second press
        // counts as a press.
        case Qt::RightButton:
            send(NotificationCode::RightDown, g);
            break;
        case Qt::MiddleButton:
            send(NotificationCode::MiddleDown, g);
            break;
        default:
            break;
        }
    }

    void mouseMoveEvent(QMouseEvent* e) override
    {
        // While a button is held X keeps reporting motion outside the window.
        if (rect().contains(e->position().toPoint()))
            moveTo(e->globalPosition().toPoint());
    }

    void enterEvent(QEnterEvent* e) override { moveTo(e->globalPosition().toPoint()); }

    void leaveEvent(QEvent*) override { m_hasLastMove = false; }

    void resizeEvent(QResizeEvent*) override { scheduleRegrab(); }
    void moveEvent(QMoveEvent*) override { scheduleRegrab(); }
    void showEvent(QShowEvent*) override { scheduleRegrab(); }

    // The icon goes only when its owner removes it.
    void closeEvent(QCloseEvent* e) override { e->ignore(); }

private:
    void send(NotificationCode code, QPoint pos) { m_area->deliver({m_id, code, pos, false}); }

    // Qt can deliver an enter and then a press without a move in between;
    // the owner relies on a Move announcing each new position, once.
    void moveTo(QPoint pos)
    {
        if (m_hasLastMove && pos == m_lastMove)
            return;
        m_hasLastMove = true;
        m_lastMove = pos;
        send(NotificationCode::Move, pos);
    }

    XEmbedNotifyArea* m_area;
    quint32 m_id;
    bool m_argb = false;
    bool m_embedded = false;
    bool m_regrabQueued = false;
    bool m_hasLastMove = false;
    QPoint m_lastMove;
    QIcon m_image;
    QPixmap m_background;
};

bool XEmbedNotifyArea::platformSupported()
{
    return x11Connection() != nullptr;
}

QString XEmbedNotifyArea::iconWindowTitle(quint32 id)
{
    return QStringLiteral("%1 tray icon %2").arg(QCoreApplication::applicationName()).arg(id);
}

XEmbedNotifyArea::XEmbedNotifyArea(QObject* parent) : NotifyArea(parent)
{
    m_connection = x11Connection();
    Q_ASSERT(m_connection);
    char* host = nullptr;
    int display = 0;
    // The tray selection is per X screen; the screen is the one of $DISPLAY.
    if (xcb_parse_display(nullptr, &host, &display, &m_screen) == 0)
        m_screen = 0;
    std::free(host);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
    for (int i = 0; i < m_screen && it.rem > 0; ++i)
        xcb_screen_next(&it);
    if (it.rem > 0)
        m_root = it.data->root;

    m_selection = internAtom(m_connection, "_NET_SYSTEM_TRAY_S" + QByteArray::number(m_screen));
    m_opcode = internAtom(m_connection, "_NET_SYSTEM_TRAY_OPCODE");
    m_manager = internAtom(m_connection, "MANAGER");
    m_xembed = internAtom(m_connection, "_XEMBED");
    m_visualAtom = internAtom(m_connection, "_NET_SYSTEM_TRAY_VISUAL");

    // A new tray announces itself with MANAGER on the root window.
    watchWindow(m_root);
    qGuiApp->installNativeEventFilter(this);
    locateTray();
    updateAvailability(isAvailable());
}

XEmbedNotifyArea::~XEmbedNotifyArea()
{
    if (qGuiApp)
        qGuiApp->removeNativeEventFilter(this);
    for (const Entry& entry : std::as_const(m_icons))
        delete entry.window.data();
}

void XEmbedNotifyArea::watchWindow(quint32 window)
{
    if (window == XCB_NONE)
        return;
    // ChangeWindowAttributes replaces this client's whole mask on the window;
    // on the root that would silently drop what Qt selected, so add to it.
    const Reply<xcb_get_window_attributes_reply_t> attrs(xcb_get_window_attributes_reply(
        m_connection, xcb_get_window_attributes(m_connection, window), nullptr));
    if (!attrs)
        return;
    const uint32_t mask = attrs->your_event_mask | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    succeeded(m_connection,
              xcb_change_window_attributes_checked(m_connection, window, XCB_CW_EVENT_MASK, &mask));
}

void XEmbedNotifyArea::locateTray()
{
    m_owner = XCB_NONE;
    m_argb = false;
    const Reply<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(
        m_connection, xcb_get_selection_owner(m_connection, m_selection), nullptr));
    if (!owner || owner->owner == XCB_NONE)
        return;
    m_owner = owner->owner;
    watchWindow(m_owner);

    // The tray names the visual it wants its icons in; trays that name none
    // expect the screen's default one.
    const Reply<xcb_get_property_reply_t> visual(xcb_get_property_reply(
        m_connection,
        xcb_get_property(m_connection, 0, m_owner, m_visualAtom, XCB_ATOM_VISUALID, 0, 1),
        nullptr));
    if (!visual || visual->format != 32 || xcb_get_property_value_length(visual.get()) < 4)
        return;
    const xcb_visualid_t id =
        *static_cast<const xcb_visualid_t*>(xcb_get_property_value(visual.get()));
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
    for (int i = 0; i < m_screen && it.rem > 0; ++i)
        xcb_screen_next(&it);
    if (it.rem == 0)
        return;
    for (xcb_depth_iterator_t depth = xcb_screen_allowed_depths_iterator(it.data); depth.rem > 0;
         xcb_depth_next(&depth)) {
        for (xcb_visualtype_iterator_t v = xcb_depth_visuals_iterator(depth.data); v.rem > 0;
             xcb_visualtype_next(&v)) {
            if (v.data->visual_id == id)
                m_argb = depth.data->depth == 32;
        }
    }
}

Capabilities XEmbedNotifyArea::capabilities() const
{
    return Capability::ButtonUpDown | Capability::DoubleClick | Capability::Motion |
           Capability::ExactPosition | Capability::Geometry;
}

bool XEmbedNotifyArea::sendDockRequest(quint32 window)
{
    xcb_client_message_event_t ev{};
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = m_owner;
    ev.type = m_opcode;
    ev.data.data32[0] = XCB_CURRENT_TIME;
    ev.data.data32[1] = requestDock;
    ev.data.data32[2] = window;
    return succeeded(m_connection,
                     xcb_send_event_checked(m_connection, 0, m_owner, XCB_EVENT_MASK_NO_EVENT,
                                            reinterpret_cast<const char*>(&ev)));
}

bool XEmbedNotifyArea::add(quint32 id, const IconState& state)
{
    if (!isAvailable() || m_icons.contains(id))
        return false;
    auto* window = new XEmbedIconWindow(this, id, m_argb);
    window->setState(state);
    // The tray maps the window when it embeds it; showing it earlier would
    // put a stray window on the desktop.
    window->createWinId();
    if (!sendDockRequest(static_cast<quint32>(window->winId()))) {
        delete window;
        return false;
    }
    m_icons.insert(id, Entry{window, 0});
    return true;
}

bool XEmbedNotifyArea::modify(quint32 id, const IconState& state)
{
    const auto it = m_icons.constFind(id);
    if (it == m_icons.constEnd() || !it->window)
        return false;
    it->window->setState(state);
    return true;
}

bool XEmbedNotifyArea::remove(quint32 id)
{
    const auto it = m_icons.find(id);
    if (it == m_icons.end())
        return false;
    QPointer<XEmbedIconWindow> window = it->window;
    m_icons.erase(it);
    // The request may come from inside the window's own mouse handler.
    if (window) {
        window->hide();
        window->deleteLater();
    }
    return true;
}

bool XEmbedNotifyArea::setVersion(quint32 id, int version)
{
    const auto it = m_icons.find(id);
    if (it == m_icons.end())
        return false;
    it->version = version;
    return true;
}

QRect XEmbedNotifyArea::iconGeometry(quint32 id) const
{
    const auto it = m_icons.constFind(id);
    if (it == m_icons.constEnd() || !it->window || !it->window->isEmbedded() ||
        !it->window->isVisible())
        return {};
    // Qt keeps the position relative to the tray's socket; ask the server
    // where that is on the screen.
    const auto win = static_cast<xcb_window_t>(it->window->winId());
    const Reply<xcb_translate_coordinates_reply_t> reply(xcb_translate_coordinates_reply(
        m_connection, xcb_translate_coordinates(m_connection, win, m_root, 0, 0), nullptr));
    if (!reply)
        return {};
    const qreal ratio = it->window->devicePixelRatioF();
    return {QPoint(qRound(reply->dst_x / ratio), qRound(reply->dst_y / ratio)), it->window->size()};
}

QWidget* XEmbedNotifyArea::iconWindow(quint32 id) const
{
    return m_icons.value(id).window.data();
}

XEmbedIconWindow* XEmbedNotifyArea::windowFor(quint32 xWindow) const
{
    for (const Entry& entry : m_icons) {
        if (entry.window && entry.window->internalWinId() == xWindow)
            return entry.window.data();
    }
    return nullptr;
}

void XEmbedNotifyArea::embedded(XEmbedIconWindow* window)
{
    const auto win = static_cast<xcb_window_t>(window->winId());
    const Reply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, win), nullptr));
    if (!geometry)
        return;
    // The tray may have sized the socket already; showing the widget with
    // its own size would undo that.
    window->adoptGeometry(QRect(geometry->x, geometry->y, geometry->width, geometry->height));
    if (!m_argb) {
        // Only now, with the tray's window as parent: ParentRelative needs
        // the parent's depth.
        const uint32_t background = XCB_BACK_PIXMAP_PARENT_RELATIVE;
        succeeded(m_connection, xcb_change_window_attributes_checked(
                                    m_connection, win, XCB_CW_BACK_PIXMAP, &background));
    }
    window->show();
}

void XEmbedNotifyArea::windowPlaced(XEmbedIconWindow* window)
{
    if (m_icons.value(window->id()).window != window)
        return;
    const QRect geometry = iconGeometry(window->id());
    if (!geometry.isEmpty())
        emit iconGeometryChanged(window->id(), geometry);
}

void XEmbedNotifyArea::dropWindows()
{
    const QHash<quint32, Entry> icons = std::exchange(m_icons, {});
    for (const Entry& entry : icons) {
        if (entry.window) {
            entry.window->hide();
            entry.window->deleteLater();
        }
    }
}

void XEmbedNotifyArea::trayLost()
{
    dropWindows();
    m_owner = XCB_NONE;
    m_argb = false;
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
    locateTray();
    updateAvailability(isAvailable());
    if (isAvailable())
        emit areaRestarted();
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
        if (ev->window == m_root && ev->type == m_manager && ev->data.data32[1] == m_selection) {
            const quint32 named = ev->data.data32[2];
            QMetaObject::invokeMethod(
                this, [this, named] { trayAppeared(named); }, Qt::QueuedConnection);
        } else if (ev->type == m_xembed && ev->data.data32[1] == xembedEmbeddedNotify) {
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
    case XCB_REPARENT_NOTIFY: {
        auto* ev = reinterpret_cast<xcb_reparent_notify_event_t*>(event);
        // A dying tray's save-set hands our window back to the root, mapped.
        if (ev->parent == m_root) {
            if (XEmbedIconWindow* window = windowFor(ev->window))
                window->hide();
        }
        break;
    }
    default:
        break;
    }
    return false;
}

} // namespace tarnwick::platform
