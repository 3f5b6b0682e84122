#pragma once

#include <QHash>
#include <QObject>

#include <functional>

namespace tarnwick::core {

// Where the GUI thread's timers get their ticks: Qt's timers in the program,
// a manual clock in tests, so that no test waits for real time to pass. Every
// timer of the windows and of the tray component goes through the backend
// that is current when the timer is made.
class TimerBackend {
public:
    using Receiver = std::function<void()>;

    virtual ~TimerBackend();
    // Starts the periodic timer `id`, replacing a running one with that id;
    // each tick calls receiver. False when the platform refuses a timer.
    virtual bool startTimer(quint32 id, quint32 intervalMs, Receiver receiver) = 0;
    // False when no timer with that id runs.
    virtual bool killTimer(quint32 id) = 0;

    // A process-wide unique timer id.
    static quint32 newTimerId();
    // Qt's timers unless test code installed another backend.
    static TimerBackend& current();
    // nullptr goes back to Qt's. The caller keeps ownership.
    static void use(TimerBackend* backend);
};

class QtTimerBackend final : public QObject, public TimerBackend {
public:
    bool startTimer(quint32 id, quint32 intervalMs, Receiver receiver) override;
    bool killTimer(quint32 id) override;

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    struct Running {
        int qtId;
        Receiver receiver;
    };
    QHash<quint32, Running> m_running;
    QHash<int, quint32> m_ids;
};

// A window timer: periodic or single-shot, on the current backend.
class Timer {
public:
    explicit Timer(std::function<void()> onTimeout = {});
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    void setOnTimeout(std::function<void()> onTimeout) { m_onTimeout = std::move(onTimeout); }
    void setInterval(int ms);
    int interval() const { return m_interval; }
    void setSingleShot(bool singleShot) { m_singleShot = singleShot; }
    bool isSingleShot() const { return m_singleShot; }

    void start();
    void start(int ms);
    void stop();
    bool isActive() const { return m_active; }

private:
    void fire();

    TimerBackend& m_backend;
    const quint32 m_id;
    std::function<void()> m_onTimeout;
    int m_interval = 0;
    bool m_singleShot = false;
    bool m_active = false;
};

} // namespace tarnwick::core
