#pragma once

#include "platform/notifyarea/notify_area.h"

#include <QHash>
#include <QList>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>

#include <functional>

namespace tarnwick::platform {

// The notification area as Qt's QSystemTrayIcon sees it: StatusNotifierItem
// hosts, Wayland sessions and other systems. Qt reports clicks, not buttons,
// so downs and ups are made up from activation reasons and positions from the
// cursor; the capabilities say so.
class QtNotifyArea : public NotifyArea {
    Q_OBJECT
public:
    using AvailabilityProbe = std::function<bool()>;

    // probe answers once whether a tray exists (Qt's own check by default);
    // later changes come from the bus watcher.
    explicit QtNotifyArea(const AvailabilityProbe& probe = {}, QObject* parent = nullptr);
    ~QtNotifyArea() override;

    bool add(quint32 id, const IconState& state) override;
    bool modify(quint32 id, const IconState& state) override;
    bool remove(quint32 id) override;
    bool hasIcon(quint32 id) const override { return m_icons.contains(id); }
    bool setMenu(quint32 id, QMenu* menu) override;
    QRect iconGeometry(quint32 id) const override;
    bool iconShown(quint32 id) const override;
    void removeAll() override;
    bool isAvailable() const override { return m_available; }
    Capabilities capabilities() const override;
    QString name() const override { return QStringLiteral("qt"); }

    // The notifications one activation turns into, in order.
    static QList<NotificationCode> codesForReason(QSystemTrayIcon::ActivationReason reason);
    // Where an activation happened: the cursor, held inside the icon when its
    // place is known.
    static QPoint activationPosition(QPoint cursor, const QRect& geometry);

    // The tray host went away or came back (driven by the bus watcher).
    void hostGone();
    void hostBack();

private:
    struct Entry {
        QSystemTrayIcon* icon = nullptr;
        QPointer<QMenu> menu;
        QRect geometry;
        QPoint lastMove;
        bool inside = false;
    };

    void activated(quint32 id, QSystemTrayIcon::ActivationReason reason);
    void pollHover();
    void dropIcons();
    void watchStatusNotifierHost();

    bool m_available = false;
    bool m_anyGeometry = false;
    QHash<quint32, Entry> m_icons;
    QTimer m_hoverPoll;
};

} // namespace tarnwick::platform
