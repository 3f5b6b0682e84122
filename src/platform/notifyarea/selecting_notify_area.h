#pragma once

#include "platform/notifyarea/notify_area.h"

#include <functional>
#include <memory>

namespace tarnwick::platform {

// Says, without ever waiting on the bus, when a StatusNotifierItem host is
// running.
class StatusNotifierProbe : public QObject {
    Q_OBJECT
public:
    explicit StatusNotifierProbe(QObject* parent = nullptr);
    // Starts the first asynchronous check and watches for hosts that start later.
    void start();

signals:
    void hostPresent();

private slots:
    void check();
};

// Starts on the X11 tray protocol while no tray is there, and moves to Qt's
// tray icon if a StatusNotifierItem host shows up first. Everything else is
// passed through to whichever backend is current.
class SelectingNotifyArea : public NotifyArea {
    Q_OBJECT
public:
    using Factory = std::function<std::unique_ptr<NotifyArea>()>;

    // probe's hostPresent() triggers the switch; the area takes ownership.
    SelectingNotifyArea(std::unique_ptr<NotifyArea> primary, Factory fallback,
                        StatusNotifierProbe* probe, QObject* parent = nullptr);
    ~SelectingNotifyArea() override;

    bool add(quint32 id, const IconState& state) override;
    bool modify(quint32 id, const IconState& state) override;
    bool remove(quint32 id) override;
    bool setVersion(quint32 id, int version) override;
    bool setMenu(quint32 id, QMenu* menu) override;
    QRect iconGeometry(quint32 id) const override;
    bool isAvailable() const override;
    Capabilities capabilities() const override;
    QString name() const override;

    NotifyArea* current() const { return m_current.get(); }
    // Moves to the fallback when the primary still has no tray.
    void fallBackIfIdle();

private:
    void adopt(std::unique_ptr<NotifyArea> area);

    std::unique_ptr<NotifyArea> m_current;
    Factory m_fallback;
    bool m_switched = false;
};

} // namespace tarnwick::platform
