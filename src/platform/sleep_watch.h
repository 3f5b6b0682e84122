#pragma once

#include <QDBusConnection>
#include <QObject>

namespace tarnwick::platform {

// The session manager's word that the computer is about to sleep and has
// woken again (logind's PrepareForSleep on the system bus). Where there is no
// logind nothing is said; the incident monitor then sees the sleep as a jump
// of the wall clock against the steady one.
class SleepWatch : public QObject {
    Q_OBJECT
public:
    // bus: the system bus (tests give a private one).
    explicit SleepWatch(QDBusConnection bus, QObject* parent = nullptr);

    // Listening: the bus is there and the match was accepted.
    bool listening() const { return m_listening; }

signals:
    void sleeping();
    void woke();

private slots:
    void onPrepareForSleep(bool start);

private:
    QDBusConnection m_bus;
    bool m_listening = false;
};

} // namespace tarnwick::platform
