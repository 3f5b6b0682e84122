#pragma once

#include "core/timer_backend.h"

#include <QHash>
#include <QObject>

#include <functional>
#include <memory>

namespace tarnwick::tray {

class TSimpleTimer;
using TTickEvent = std::function<void(TSimpleTimer* timer)>;

// The one receiver of every TSimpleTimer's ticks in the process, created by
// the first timer and gone with the last.
class TSimpleTimerHandler {
public:
    // The live handler, or nullptr when no timer exists.
    static TSimpleTimerHandler* instance();
    int timerCount() const { return m_timerCount; }
    int runningCount() const { return m_runningCount; }

    ~TSimpleTimerHandler();
    TSimpleTimerHandler(const TSimpleTimerHandler&) = delete;
    TSimpleTimerHandler& operator=(const TSimpleTimerHandler&) = delete;

private:
    friend class TSimpleTimer;

    TSimpleTimerHandler();
    static TSimpleTimerHandler* acquire(TSimpleTimer* timer);
    static void release(TSimpleTimer* timer);
    bool setTimer(TSimpleTimer* timer);
    bool killTimer(TSimpleTimer* timer);
    void tick(quint32 id);

    // The backend current when the handler was made (core::TimerBackend).
    core::TimerBackend& m_source;
    QHash<quint32, TSimpleTimer*> m_timers;
    int m_timerCount = 0;
    int m_runningCount = 0;
};

// A millisecond timer on the GUI thread. An interval of 0 halts a running
// timer while it still reads as enabled; a later non-zero interval resumes it.
class TSimpleTimer {
public:
    TSimpleTimer();
    TSimpleTimer(quint32 interval, TTickEvent onTick);
    ~TSimpleTimer();
    TSimpleTimer(const TSimpleTimer&) = delete;
    TSimpleTimer& operator=(const TSimpleTimer&) = delete;

    bool StartTicking();
    bool StopTicking(bool clear);

    bool tickEnabled() const { return m_tickEnabled; }
    void setTickEnabled(bool enabled);
    quint32 tickInterval() const { return m_tickInterval; }
    void setTickInterval(quint32 interval);
    const TTickEvent& onTick() const { return m_onTick; }
    void setOnTick(TTickEvent onTick);
    bool stopOnTick() const { return m_stopOnTick; }
    void setStopOnTick(bool stop) { m_stopOnTick = stop; }

    quint32 timerId() const { return m_timerId; }

private:
    friend class TSimpleTimerHandler;

    quint32 m_timerId;
    bool m_tickEnabled = false;
    quint32 m_tickInterval;
    bool m_stopOnTick = false;
    TTickEvent m_onTick;
};

} // namespace tarnwick::tray
