#pragma once

#include "platform/notifyarea/notify_area.h"

#include <QAbstractNativeEventFilter>
#include <QHash>
#include <QPointer>

struct xcb_connection_t;

class QWidget;

namespace tarnwick::platform {

class XEmbedIconWindow;

// The X11 system tray protocol spoken directly: one small window per icon,
// docked into whichever tray owns _NET_SYSTEM_TRAY_S<screen>. Unlike Qt's own
// tray icon it reports real button downs and ups, double clicks and motion,
// all with screen positions. When no tray is running it waits for one.
class XEmbedNotifyArea : public NotifyArea, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    // True when the application runs on Qt's xcb platform.
    static bool platformSupported();

    // Needs platformSupported().
    explicit XEmbedNotifyArea(QObject* parent = nullptr);
    ~XEmbedNotifyArea() override;

    bool add(quint32 id, const IconState& state) override;
    bool modify(quint32 id, const IconState& state) override;
    bool remove(quint32 id) override;
    bool setVersion(quint32 id, int version) override;
    QRect iconGeometry(quint32 id) const override;
    bool isAvailable() const override { return m_owner != 0; }
    Capabilities capabilities() const override;
    QString name() const override { return QStringLiteral("xembed"); }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

    // The window that shows an icon (for tests and for finding it on screen).
    QWidget* iconWindow(quint32 id) const;
    static QString iconWindowTitle(quint32 id);

private:
    friend class XEmbedIconWindow;

    struct Entry {
        QPointer<XEmbedIconWindow> window;
        int version = 0;
    };

    void locateTray();
    bool sendDockRequest(quint32 window);
    void watchWindow(quint32 window);
    void embedded(XEmbedIconWindow* window);
    void trayLost();
    // namedOwner: the owner window the MANAGER announcement names.
    void trayAppeared(quint32 namedOwner);
    void dropWindows();
    XEmbedIconWindow* windowFor(quint32 xWindow) const;
    void deliver(const Notification& n) { emit notification(n); }
    void windowPlaced(XEmbedIconWindow* window);

    xcb_connection_t* m_connection = nullptr;
    int m_screen = 0;
    quint32 m_root = 0;
    quint32 m_selection = 0;
    quint32 m_opcode = 0;
    quint32 m_manager = 0;
    quint32 m_xembed = 0;
    quint32 m_visualAtom = 0;
    quint32 m_owner = 0;
    bool m_argb = false;
    QHash<quint32, Entry> m_icons;
};

} // namespace tarnwick::platform
