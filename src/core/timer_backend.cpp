#include "core/timer_backend.h"

#include <QTimerEvent>

#include <atomic>

namespace tarnwick::core {

namespace {
TimerBackend* installed = nullptr;
} // namespace

TimerBackend::~TimerBackend() = default;

quint32 TimerBackend::newTimerId()
{
    static std::atomic<quint32> last{0};
    return ++last;
}

TimerBackend& TimerBackend::current()
{
    if (installed)
        return *installed;
    // Never destroyed: timers may still be registered with it when static
    // destruction runs, after Qt's event dispatcher is gone.
    static auto* qt = new QtTimerBackend;
    return *qt;
}

void TimerBackend::use(TimerBackend* backend)
{
    installed = backend;
}

bool QtTimerBackend::startTimer(quint32 id, quint32 intervalMs, Receiver receiver)
{
    killTimer(id);
    const int qtId = QObject::startTimer(static_cast<int>(intervalMs), Qt::PreciseTimer);
    if (qtId == 0)
        return false;
    m_running.insert(id, Running{qtId, std::move(receiver)});
    m_ids.insert(qtId, id);
    return true;
}

bool QtTimerBackend::killTimer(quint32 id)
{
    const auto it = m_running.find(id);
    if (it == m_running.end())
        return false;
    QObject::killTimer(it->qtId);
    m_ids.remove(it->qtId);
    m_running.erase(it);
    return true;
}

void QtTimerBackend::timerEvent(QTimerEvent* event)
{
    const auto id = m_ids.constFind(event->timerId());
    if (id == m_ids.constEnd())
        return;
    // Copied: the receiver may stop or restart its own timer.
    const Receiver receiver = m_running.value(*id).receiver;
    if (receiver)
        receiver();
}

Timer::Timer(std::function<void()> onTimeout)
    : m_backend(TimerBackend::current()), m_id(TimerBackend::newTimerId()),
      m_onTimeout(std::move(onTimeout))
{
}

Timer::~Timer()
{
    stop();
}

void Timer::setInterval(int ms)
{
    m_interval = ms < 0 ? 0 : ms;
    if (m_active)
        start();
}

void Timer::start()
{
    m_active = m_backend.startTimer(m_id, static_cast<quint32>(m_interval), [this] { fire(); });
}

void Timer::start(int ms)
{
    m_interval = ms < 0 ? 0 : ms;
    start();
}

void Timer::stop()
{
    if (m_active)
        m_backend.killTimer(m_id);
    m_active = false;
}

void Timer::fire()
{
    if (m_singleShot)
        stop();
    // Copied: the handler may replace it, or destroy this timer.
    const std::function<void()> onTimeout = m_onTimeout;
    if (onTimeout)
        onTimeout();
}

} // namespace tarnwick::core
