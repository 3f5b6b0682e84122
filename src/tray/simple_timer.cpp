#include "tray/simple_timer.h"

#include <QCoreApplication>
#include <QTimerEvent>

namespace tarnwick::tray {

namespace {
TSimpleTimerHandler* handler = nullptr;
TTickSource* testSource = nullptr;
quint32 lastTimerId = 0;

void destroyLeftoverHandler()
{
    delete handler;
    handler = nullptr;
}
} // namespace

TTickSource::~TTickSource() = default;

bool TQtTickSource::startTimer(quint32 id, quint32 intervalMs)
{
    killTimer(id);
    const int qtId = QObject::startTimer(static_cast<int>(intervalMs), Qt::PreciseTimer);
    if (qtId == 0)
        return false;
    m_qtIds.insert(id, qtId);
    m_ids.insert(qtId, id);
    return true;
}

bool TQtTickSource::killTimer(quint32 id)
{
    const auto it = m_qtIds.find(id);
    if (it == m_qtIds.end())
        return false;
    QObject::killTimer(*it);
    m_ids.remove(*it);
    m_qtIds.erase(it);
    return true;
}

void TQtTickSource::timerEvent(QTimerEvent* event)
{
    const auto it = m_ids.constFind(event->timerId());
    if (it != m_ids.constEnd())
        deliverTick(*it);
}

TSimpleTimerHandler* TSimpleTimerHandler::instance()
{
    return handler;
}

void TSimpleTimerHandler::useTickSource(TTickSource* source)
{
    testSource = source;
}

TSimpleTimerHandler::TSimpleTimerHandler()
{
    if (testSource) {
        m_source = testSource;
    } else {
        m_ownSource = std::make_unique<TQtTickSource>();
        m_source = m_ownSource.get();
    }
    m_source->setReceiver([this](quint32 id) { tick(id); });
}

TSimpleTimerHandler::~TSimpleTimerHandler()
{
    if (m_source)
        m_source->setReceiver({});
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
    return m_source->startTimer(timer->m_timerId, timer->m_tickInterval);
}

bool TSimpleTimerHandler::killTimer(TSimpleTimer* timer)
{
    return m_source->killTimer(timer->m_timerId);
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
    : m_timerId(++lastTimerId), m_tickInterval(interval), m_onTick(std::move(onTick))
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
