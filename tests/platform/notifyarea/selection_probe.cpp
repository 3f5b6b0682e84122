// Waits until the tray selection of the default screen has an owner ("owner")
// or has none ("none"); exits 0 when it happened within the time limit.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include <xcb/xcb.h>

int main(int argc, char** argv)
{
    if (argc < 2 || (std::strcmp(argv[1], "owner") != 0 && std::strcmp(argv[1], "none") != 0)) {
        std::fprintf(stderr, "usage: selection_probe owner|none [timeout-ms]\n");
        return 2;
    }
    const bool wantOwner = std::strcmp(argv[1], "owner") == 0;
    const long timeoutMs = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 5000;
    int screen = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screen);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "selection_probe: cannot open display\n");
        return 2;
    }
    const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(screen);
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.c_str()), nullptr);
    if (!atom)
        return 2;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int rc = 1;
    for (;;) {
        xcb_get_selection_owner_reply_t* owner =
            xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr);
        const bool owned = owner && owner->owner != XCB_NONE;
        std::free(owner);
        if (owned == wantOwner) {
            rc = 0;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::free(atom);
    xcb_disconnect(c);
    return rc;
}
