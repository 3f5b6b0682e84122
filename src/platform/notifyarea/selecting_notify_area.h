#pragma once

#include "platform/notifyarea/notify_area.h"

#include <functional>
#include <memory>

namespace tarnwick::platform {

// Says, without ever waiting on the bus, whether a StatusNotifierItem host
// is running, and tells when one comes or goes.
class StatusNotifierProbe : public QObject {
    Q_OBJECT
public:
    explicit StatusNotifierProbe(QObject* parent = nullptr);
    // Starts the first asynchronous check and watches for hosts that start
    // or stop later.
    void start();

signals:
    void hostPresent();
    void hostGone();

private slots:
    void check();
};

// The X11 tray protocol where a tray owns the selection (it alone reports
// real buttons and hover), otherwise a StatusNotifierItem host through Qt's
// tray icon when one runs, otherwise the X11 backend waiting for a tray. The
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
    // side and is taken over by the area.
    SelectingNotifyArea(std::unique_ptr<NotifyArea> xembed, Refresh refresh, Factory statusNotifier,
                        StatusNotifierProbe* probe, QObject* parent = nullptr);
    ~SelectingNotifyArea() override;

    bool add(quint32 id, const IconState& state) override;
    bool modify(quint32 id, const IconState& state) override;
    bool remove(quint32 id) override;
    bool hasIcon(quint32 id) const override;
    bool setMenu(quint32 id, QMenu* menu) override;
    QRect iconGeometry(quint32 id) const override;
    bool isAvailable() const override;
    Capabilities capabilities() const override;
    QString name() const override;

    NotifyArea* current() const { return m_current; }
    // A StatusNotifierItem host came or went (the probe's signals).
    void setHostPresent(bool present);

private:
    void watch(NotifyArea* area);
    void reconsider();
    NotifyArea* choice();

    std::unique_ptr<NotifyArea> m_xembed;
    std::unique_ptr<NotifyArea> m_bus;
    NotifyArea* m_current = nullptr;
    Refresh m_refresh;
    Factory m_busFactory;
    bool m_hostPresent = false;
    bool m_reconsidering = false;
};

} // namespace tarnwick::platform
