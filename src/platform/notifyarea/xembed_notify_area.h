#pragma once

#include "platform/notifyarea/notify_area.h"
#include "platform/notifyarea/xembed_tray_connection.h"

#include <QAbstractNativeEventFilter>
#include <QHash>
#include <QPointer>
#include <QSet>

class QWidget;

namespace tarnwick::platform {

class XEmbedIconWindow;

// The X11 system tray protocol spoken directly: one small window per icon,
// docked into whichever tray owns _NET_SYSTEM_TRAY_S<screen>. Unlike Qt's own
// tray icon it reports real button downs and ups, double clicks and, where the
// tray passes it on, motion, all with screen positions. Hover is reported
// only once seen: trays that relay icons to another host, or never pass on
// motion, look the same from here until the cursor has moved over an icon.
// When no tray is running it waits for one.
class XEmbedNotifyArea : public NotifyArea, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    // True when the application runs on Qt's xcb platform.
    static bool platformSupported() { return XEmbedTrayConnection::available(); }

    // Needs platformSupported().
    explicit XEmbedNotifyArea(QObject* parent = nullptr);
    ~XEmbedNotifyArea() override;

    bool add(quint32 id, const IconState& state) override;
    bool modify(quint32 id, const IconState& state) override;
    bool remove(quint32 id) override;
    bool hasIcon(quint32 id) const override { return m_icons.contains(id); }
    QRect iconGeometry(quint32 id) const override;
    bool iconShown(quint32 id) const override;
    bool iconAwaited(quint32 id) const override;
    void removeAll() override;
    bool relays() const override { return m_relays; }
    bool isAvailable() const override { return m_owner != 0; }
    Capabilities capabilities() const override;
    QString name() const override { return QStringLiteral("xembed"); }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

    // Looks for a tray now (the selection's owner) instead of waiting for its
    // announcement; true when one is there.
    bool refresh();

    // The window that shows an icon (for tests and for finding it on screen:
    // its WM_CLASS is iconWindowClass()).
    QWidget* iconWindow(quint32 id) const;
    static QByteArray iconWindowClass() { return QByteArrayLiteral("tarnwick-tray-icon"); }

private:
    void embedded(XEmbedIconWindow* window);
    void trayLost();
    void trayAppeared(quint32 namedOwner);
    void dropWindows();
    XEmbedIconWindow* windowFor(quint32 xWindow) const;
    XEmbedIconWindow* windowInSocket(quint32 socket) const;
    void windowPlaced(XEmbedIconWindow* window);

    XEmbedTrayConnection m_x;
    quint32 m_owner = 0;
    bool m_argb = false;
    bool m_hover = false;
    // The tray put an icon of ours into a container that relays it.
    bool m_relays = false;
    QHash<quint32, QPointer<XEmbedIconWindow>> m_icons;
    // The tray's socket of each docked icon window.
    QHash<quint32, quint32> m_sockets;
    // The tray's windows above the sockets, watched for moves.
    QSet<quint32> m_ancestors;
};

} // namespace tarnwick::platform
