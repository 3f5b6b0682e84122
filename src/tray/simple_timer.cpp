#include "tray/simple_timer.h"

#include <QCoreApplication>

namespace tarnwick::tray {

namespace {
TSimpleTimerHandler* handler = nullptr;

void destroyLeftoverHandler()
{
    delete handler;
    handler = nullptr;
}
} // namespace

TSimpleTimerHandler* TSimpleTimerHandler::instance()
{
    return handler;
}

TSimpleTimerHandler::TSimpleTimerHandler() : m_source(core::TimerBackend::current()) {}

TSimpleTimerHandler::~TSimpleTimerHandler()
{
    for (auto it = m_timers.cbegin(); it != m_timers.cend(); ++it)
        m_source.killTimer(it.key());
}

TSimpleTimerHandler* TSimpleTimerHandler::acquire(TSimpleTimer* timer)
{
    if (!handler) {
        handler = new TSimpleTimerHandler;
        static bool routineAdded = false;
        if (!routineAdded && QCoreApplication::instance()) {
            // A timer that outlives everything else must not leave the
            // handler to static destruction after Qt is gone.
            qAddPostRoutine(destroyLeftoverHandler);
            routineAdded = true;
        }
    }
    handler->m_timers.insert(timer->m_timerId, timer);
    ++handler->m_timerCount;
    return handler;
}

void TSimpleTimerHandler::release(TSimpleTimer* timer)
{
    if (!handler)
        return;
    handler->m_timers.remove(timer->m_timerId);
    if (handler->m_timerCount > 0)
        --handler->m_timerCount;
    if (handler->m_timerCount == 0) {
        delete handler;
        handler = nullptr;
    }
}

bool TSimpleTimerHandler::setTimer(TSimpleTimer* timer)
{
    const quint32 id = timer->m_timerId;
    return m_source.startTimer(id, timer->m_tickInterval, [this, id] { tick(id); });
}

bool TSimpleTimerHandler::killTimer(TSimpleTimer* timer)
{
    return m_source.killTimer(timer->m_timerId);
}

void TSimpleTimerHandler::tick(quint32 id)
{
    TSimpleTimer* timer = m_timers.value(id);
    if (!timer)
        return;
    if (timer->m_stopOnTick)
        timer->StopTicking(true);
    // Copied: the handler may replace it or destroy the timer.
    const TTickEvent onTick = timer->m_onTick;
    if (onTick)
        onTick(timer);
}

TSimpleTimer::TSimpleTimer() : TSimpleTimer(1000, {}) {}

TSimpleTimer::TSimpleTimer(quint32 interval, TTickEvent onTick)
    : m_timerId(core::TimerBackend::newTimerId()), m_tickInterval(interval),
      m_onTick(std::move(onTick))
{
    TSimpleTimerHandler::acquire(this);
}

TSimpleTimer::~TSimpleTimer()
{
    if (m_tickEnabled)
        StopTicking(true);
    TSimpleTimerHandler::release(this);
}

bool TSimpleTimer::StartTicking()
{
    if (m_tickInterval == 0)
        return false;
    if (m_tickEnabled)
        StopTicking(true);
    // The handler is gone only after the application object, at exit.
    if (!handler)
        return false;
    const bool ok = handler->setTimer(this);
    if (ok) {
        m_tickEnabled = true;
        ++handler->m_runningCount;
    }
    return ok;
}

bool TSimpleTimer::StopTicking(bool clear)
{
    if (clear)
        m_tickEnabled = false;
    if (!handler)
        return false;
    const bool ok = handler->killTimer(this);
    if (ok && handler->m_runningCount > 0)
        --handler->m_runningCount;
    return ok;
}

void TSimpleTimer::setTickEnabled(bool enabled)
{
    if (enabled)
        StartTicking();
    else
        StopTicking(true);
}

void TSimpleTimer::setTickInterval(quint32 interval)
{
    if (interval == m_tickInterval)
        return;
    m_tickInterval = interval;
    if (!m_tickEnabled)
        return;
    if (interval != 0)
        StartTicking();
    else
        StopTicking(false);
}

void TSimpleTimer::setOnTick(TTickEvent onTick)
{
    m_onTick = std::move(onTick);
    if (!m_onTick && m_tickEnabled)
        StopTicking(false);
}

} // namespace tarnwick::tray
