// A bare tray that asks for icons in a 32-bit visual, as compositing trays
// do: it takes the tray selection, names its alpha visual, and embeds every
// icon that asks into a 24 x 24 socket of that visual. trayer names no
// visual, so the icons' alpha path is only reached with this one.
// "argb_tray silent" takes the dock requests and embeds nothing (a tray that
// hangs); "argb_tray map-only" embeds without telling the icon.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <xcb/xcb.h>

namespace {

xcb_atom_t atom(xcb_connection_t* c, const std::string& name)
{
    xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.c_str()), nullptr);
    const xcb_atom_t a = r ? r->atom : 0;
    std::free(r);
    return a;
}

void clientMessage(xcb_connection_t* c, xcb_window_t to, xcb_window_t window, xcb_atom_t type,
                   uint32_t mask, const uint32_t (&data)[5])
{
    xcb_client_message_event_t ev;
    std::memset(&ev, 0, sizeof ev);
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = window;
    ev.type = type;
    std::memcpy(ev.data.data32, data, sizeof data);
    xcb_send_event(c, 0, to, mask, reinterpret_cast<const char*>(&ev));
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(c))
        return 2;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&it);
    xcb_screen_t* screen = it.data;

    xcb_visualid_t visual = 0;
    for (xcb_depth_iterator_t d = xcb_screen_allowed_depths_iterator(screen); d.rem && !visual;
         xcb_depth_next(&d)) {
        if (d.data->depth != 32)
            continue;
        for (xcb_visualtype_iterator_t v = xcb_depth_visuals_iterator(d.data); v.rem;
             xcb_visualtype_next(&v)) {
            if (v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR) {
                visual = v.data->visual_id;
                break;
            }
        }
    }
    if (!visual) {
        std::fprintf(stderr, "argb_tray: no 32-bit visual\n");
        return 2;
    }
    const xcb_colormap_t colormap = xcb_generate_id(c);
    xcb_create_colormap(c, XCB_COLORMAP_ALLOC_NONE, colormap, screen->root, visual);

    const xcb_atom_t selection = atom(c, "_NET_SYSTEM_TRAY_S" + std::to_string(screenNumber));
    const xcb_atom_t opcode = atom(c, "_NET_SYSTEM_TRAY_OPCODE");
    const xcb_atom_t manager = atom(c, "MANAGER");
    const xcb_atom_t xembed = atom(c, "_XEMBED");
    const xcb_atom_t visualAtom = atom(c, "_NET_SYSTEM_TRAY_VISUAL");

    const xcb_window_t owner = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, owner, screen->root, -10, -10, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, owner, visualAtom, XCB_ATOM_VISUALID, 32, 1,
                        &visual);
    xcb_set_selection_owner(c, owner, selection, XCB_CURRENT_TIME);
    clientMessage(c, screen->root, screen->root, manager, XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                  {XCB_CURRENT_TIME, selection, owner, 0, 0});
    xcb_flush(c);

    int16_t x = 600;
    while (xcb_generic_event_t* event = xcb_wait_for_event(c)) {
        if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
            auto* ev = reinterpret_cast<xcb_client_message_event_t*>(event);
            if (ev->type == opcode && ev->data.data32[1] == 0) {
                const xcb_window_t icon = ev->data.data32[2];
                if (mode == "silent") {
                    std::printf("ASKED 0x%x\n", icon);
                    std::fflush(stdout);
                    std::free(event);
                    continue;
                }
                const xcb_window_t socket = xcb_generate_id(c);
                const uint32_t values[] = {0, 0, 1, colormap};
                xcb_create_window(c, 32, socket, screen->root, x, 0, 24, 24, 0,
                                  XCB_WINDOW_CLASS_INPUT_OUTPUT, visual,
                                  XCB_CW_BACK_PIXEL | XCB_CW_BORDER_PIXEL |
                                      XCB_CW_OVERRIDE_REDIRECT | XCB_CW_COLORMAP,
                                  values);
                x = static_cast<int16_t>(x - 30);
                xcb_map_window(c, socket);
                xcb_reparent_window(c, icon, socket, 0, 0);
                const uint32_t size[] = {24, 24};
                xcb_configure_window(c, icon, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT,
                                     size);
                if (mode != "map-only")
                    clientMessage(c, icon, icon, xembed, XCB_EVENT_MASK_NO_EVENT,
                                  {XCB_CURRENT_TIME, 0, 0, socket, 0});
                xcb_map_window(c, icon);
                xcb_flush(c);
                std::printf("DOCKED 0x%x\n", icon);
                std::fflush(stdout);
            }
        }
        std::free(event);
    }
    return 0;
}
