#include "platform/notifyarea/xembed_tray_connection.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <cstdlib>
#include <memory>

#include <xcb/xcb.h>

namespace tarnwick::platform {

namespace {

constexpr quint32 requestDock = 0;

xcb_connection_t* x11Connection()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

bool succeeded(xcb_connection_t* c, xcb_void_cookie_t cookie)
{
    const Reply<xcb_generic_error_t> error(xcb_request_check(c, cookie));
    return !error;
}

} // namespace

bool XEmbedTrayConnection::available()
{
    return x11Connection() != nullptr;
}

XEmbedTrayConnection::XEmbedTrayConnection() : m_connection(x11Connection())
{
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
    m_selection = atom("_NET_SYSTEM_TRAY_S" + QByteArray::number(m_screen));
    m_opcode = atom("_NET_SYSTEM_TRAY_OPCODE");
    m_manager = atom("MANAGER");
    m_xembed = atom("_XEMBED");
    m_visualAtom = atom("_NET_SYSTEM_TRAY_VISUAL");
    m_opacity = atom("_NET_WM_WINDOW_OPACITY");
}

quint32 XEmbedTrayConnection::atom(const QByteArray& name) const
{
    const Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        m_connection,
        xcb_intern_atom(m_connection, 0, static_cast<uint16_t>(name.size()), name.constData()),
        nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

XEmbedTrayConnection::Owner XEmbedTrayConnection::locateOwner() const
{
    Owner result;
    const Reply<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(
        m_connection, xcb_get_selection_owner(m_connection, m_selection), nullptr));
    if (!owner || owner->owner == XCB_NONE)
        return result;
    result.window = owner->owner;
    // The tray names the visual it wants its icons in; trays that name none
    // expect the screen's default one.
    const Reply<xcb_get_property_reply_t> visual(xcb_get_property_reply(
        m_connection,
        xcb_get_property(m_connection, 0, result.window, m_visualAtom, XCB_ATOM_VISUALID, 0, 1),
        nullptr));
    if (!visual || visual->format != 32 || xcb_get_property_value_length(visual.get()) < 4)
        return result;
    const xcb_visualid_t id =
        *static_cast<const xcb_visualid_t*>(xcb_get_property_value(visual.get()));
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
    for (int i = 0; i < m_screen && it.rem > 0; ++i)
        xcb_screen_next(&it);
    if (it.rem == 0)
        return result;
    for (xcb_depth_iterator_t depth = xcb_screen_allowed_depths_iterator(it.data); depth.rem > 0;
         xcb_depth_next(&depth)) {
        for (xcb_visualtype_iterator_t v = xcb_depth_visuals_iterator(depth.data); v.rem > 0;
             xcb_visualtype_next(&v)) {
            if (v.data->visual_id == id)
                result.argb = depth.data->depth == 32;
        }
    }
    return result;
}

void XEmbedTrayConnection::watchWindow(quint32 window) const
{
    if (window == XCB_NONE)
        return;
    const Reply<xcb_get_window_attributes_reply_t> attrs(xcb_get_window_attributes_reply(
        m_connection, xcb_get_window_attributes(m_connection, window), nullptr));
    if (!attrs)
        return;
    const uint32_t mask = attrs->your_event_mask | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    succeeded(m_connection,
              xcb_change_window_attributes_checked(m_connection, window, XCB_CW_EVENT_MASK, &mask));
}

bool XEmbedTrayConnection::sendDockRequest(quint32 owner, quint32 icon) const
{
    xcb_client_message_event_t ev{};
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = owner;
    ev.type = m_opcode;
    ev.data.data32[0] = XCB_CURRENT_TIME;
    ev.data.data32[1] = requestDock;
    ev.data.data32[2] = icon;
    return succeeded(m_connection,
                     xcb_send_event_checked(m_connection, 0, owner, XCB_EVENT_MASK_NO_EVENT,
                                            reinterpret_cast<const char*>(&ev)));
}

void XEmbedTrayConnection::useParentBackground(quint32 window) const
{
    const uint32_t background = XCB_BACK_PIXMAP_PARENT_RELATIVE;
    succeeded(m_connection, xcb_change_window_attributes_checked(m_connection, window,
                                                                 XCB_CW_BACK_PIXMAP, &background));
}

quint32 XEmbedTrayConnection::parentOf(quint32 window) const
{
    const Reply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, window), nullptr));
    return tree ? tree->parent : 0;
}

bool XEmbedTrayConnection::geometryOf(quint32 window, int& x, int& y, int& width, int& height) const
{
    const Reply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr));
    if (!geometry)
        return false;
    x = geometry->x;
    y = geometry->y;
    width = geometry->width;
    height = geometry->height;
    return true;
}

bool XEmbedTrayConnection::rootPosition(quint32 window, int& x, int& y) const
{
    const Reply<xcb_translate_coordinates_reply_t> reply(xcb_translate_coordinates_reply(
        m_connection, xcb_translate_coordinates(m_connection, window, m_root, 0, 0), nullptr));
    if (!reply)
        return false;
    x = reply->dst_x;
    y = reply->dst_y;
    return true;
}

bool XEmbedTrayConnection::insideHiddenContainer(quint32 window) const
{
    for (quint32 w = window; w != 0 && w != m_root;) {
        const Reply<xcb_get_property_reply_t> opacity(xcb_get_property_reply(
            m_connection, xcb_get_property(m_connection, 0, w, m_opacity, XCB_ATOM_CARDINAL, 0, 1),
            nullptr));
        if (opacity && opacity->format == 32 && xcb_get_property_value_length(opacity.get()) >= 4 &&
            *static_cast<const uint32_t*>(xcb_get_property_value(opacity.get())) == 0)
            return true;
        w = parentOf(w);
    }
    return false;
}

void XEmbedTrayConnection::setClass(quint32 window, const QByteArray& instance,
                                    const QByteArray& className) const
{
    const QByteArray value = instance + '\0' + className + '\0';
    xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS,
                        XCB_ATOM_STRING, 8, static_cast<uint32_t>(value.size()), value.constData());
}

} // namespace tarnwick::platform
