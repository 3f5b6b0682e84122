#pragma once

#include "platform/notifyarea/notify_area.h"

#include <QDBusConnection>
#include <QSet>

#include <functional>
#include <memory>

namespace tarnwick::platform {

// Says, without ever waiting on the bus, whether a StatusNotifierItem host
// shows items, and tells when that changes. The watcher's word alone is not
// trusted (some watchers say a host is registered when none runs): a host
// must also be on the bus under one of the names hosts take.
class StatusNotifierProbe : public QObject {
    Q_OBJECT
public:
    explicit StatusNotifierProbe(QObject* parent = nullptr);
    // Starts the first asynchronous look and follows hosts and watchers that
    // start or stop later; the session bus unless another is given.
    void start();
    void start(const QDBusConnection& bus);
    bool present() const { return m_present; }
    // A question to the bus is still unanswered.
    bool busy() const { return m_pending > 0; }

    // The names hosts own on the bus (the host names, and the one desktop
    // shell that hosts under its own).
    static bool isHostName(const QString& name);
    // The rule itself.
    static bool hostShows(bool watcherSaysRegistered, bool hostOnBus)
    {
        return watcherSaysRegistered && hostOnBus;
    }

signals:
    void hostPresent();
    void hostGone();

private slots:
    void nameOwnerChanged(const QString& name, const QString& oldOwner, const QString& newOwner);
    void askWatcher();

private:
    void evaluate();

    std::unique_ptr<QDBusConnection> m_bus;
    QSet<QString> m_hostNames;
    bool m_watcherSays = false;
    bool m_present = false;
    // Only the answer to the latest question counts.
    quint64 m_asked = 0;
    int m_pending = 0;
};

// The X11 tray protocol where a tray owns the selection (it alone reports
// real buttons and hover), otherwise a StatusNotifierItem host through Qt's
// tray icon when one runs, otherwise the X11 backend waiting for a tray (or
// nothing, off X11). A tray that only relays icons to a host gives way to
// that host when it is there. The
// choice is made again whenever either kind of area comes or goes, whatever
// the order they start in: the icons move to the area that is there, and the
// owner adds them again as after any restart.
class SelectingNotifyArea : public NotifyArea {
    Q_OBJECT
public:
    using Factory = std::function<std::unique_ptr<NotifyArea>()>;
    // Looks for an X11 tray now rather than waiting for its announcement.
    using Refresh = std::function<void()>;

    // xembed may be null (then only the bus is used); probe drives the bus
    // side and is taken over by the area. The bus side is made only once a
    // host is known to show items: Qt settles on the bus or on its own X11
    // tray when its first tray icon is made, and keeps that choice.
    SelectingNotifyArea(std::unique_ptr<NotifyArea> xembed, Refresh refresh, Factory statusNotifier,
                        StatusNotifierProbe* probe, QObject* parent = nullptr);
    ~SelectingNotifyArea() override;

    bool add(quint32 id, const IconState& state) override;
    bool modify(quint32 id, const IconState& state) override;
    bool remove(quint32 id) override;
    bool hasIcon(quint32 id) const override;
    bool setMenu(quint32 id, QMenu* menu) override;
    QRect iconGeometry(quint32 id) const override;
    bool iconShown(quint32 id) const override;
    bool iconAwaited(quint32 id) const override;
    bool isAvailable() const override;
    Capabilities capabilities() const override;
    QString name() const override;

    NotifyArea* current() const { return m_current; }
    // A StatusNotifierItem host came or went (the probe's signals).
    void setHostPresent(bool present);

private:
    void watch(NotifyArea* area);
    void reconsider();
    void switchTo(NotifyArea* next);
    NotifyArea* choice();

    std::unique_ptr<NotifyArea> m_xembed;
    std::unique_ptr<NotifyArea> m_bus;
    NotifyArea* m_current = nullptr;
    Refresh m_refresh;
    Factory m_busFactory;
    bool m_hostPresent = false;
    bool m_reconsidering = false;
    bool m_reconsiderAgain = false;
};

} // namespace tarnwick::platform
