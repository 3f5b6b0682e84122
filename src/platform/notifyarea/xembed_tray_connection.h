#pragma once

#include <QByteArray>
#include <QtGlobal>

struct xcb_connection_t;

namespace tarnwick::platform {

// The X server side of the system tray protocol: the atoms, the screen and its
// root window, who owns the tray selection and which visual it wants, the
// dock request, and the event masks. Every request that may meet a window
// that just died is checked, so its error is handled here, not printed.
class XEmbedTrayConnection {
public:
    // True when the application runs on Qt's xcb platform.
    static bool available();

    XEmbedTrayConnection();

    xcb_connection_t* connection() const { return m_connection; }
    quint32 root() const { return m_root; }
    quint32 selectionAtom() const { return m_selection; }
    quint32 managerAtom() const { return m_manager; }
    quint32 xembedAtom() const { return m_xembed; }

    // The selection's owner now (0 when no tray runs), and whether the visual
    // it names for its icons has an alpha channel.
    struct Owner {
        quint32 window = 0;
        bool argb = false;
    };
    Owner locateOwner() const;

    // Adds StructureNotify to what this client selects on window (the mask
    // replaces the client's own, so it is read and extended).
    void watchWindow(quint32 window) const;
    bool sendDockRequest(quint32 owner, quint32 icon) const;
    // ParentRelative background: the server paints the tray's backdrop.
    void useParentBackground(quint32 window) const;
    // The window's parent (the tray's socket), 0 when unknown.
    quint32 parentOf(quint32 window) const;
    // Position on the screen and size, in device pixels.
    bool geometryOf(quint32 window, int& x, int& y, int& width, int& height) const;
    bool rootPosition(quint32 window, int& x, int& y) const;
    // Whether window or one of its ancestors below the root carries
    // _NET_WM_WINDOW_OPACITY 0: trays that relay icons to another host hide
    // their containers this way.
    bool insideHiddenContainer(quint32 window) const;
    // WM_CLASS of window, so that tools can find it by class.
    void setClass(quint32 window, const QByteArray& instance, const QByteArray& className) const;

private:
    quint32 atom(const QByteArray& name) const;

    xcb_connection_t* m_connection = nullptr;
    int m_screen = 0;
    quint32 m_root = 0;
    quint32 m_selection = 0;
    quint32 m_opcode = 0;
    quint32 m_manager = 0;
    quint32 m_xembed = 0;
    quint32 m_visualAtom = 0;
    quint32 m_opacity = 0;
};

} // namespace tarnwick::platform
