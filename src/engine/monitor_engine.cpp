#include "engine/monitor_engine.h"

#include "engine/result_handover.h"
#include "engine/slot_stats.h"
#include "platform/net/echo.h"

namespace tarnwick::engine {

MonitorEngine::MonitorEngine(Recorder recorder, std::shared_ptr<net::EchoService> echo,
                             ResolveFunction resolve, const WorkerClock* clock, QObject* parent)
    : QObject(parent), m_handover(new ResultHandover(std::move(recorder), this)),
      m_echo(std::move(echo)), m_clock(clock ? clock : &m_steadyClock),
      m_resolve(std::move(resolve))
{
    Q_ASSERT(m_resolve);
}

MonitorEngine::~MonitorEngine()
{
    shutdown();
}

void MonitorEngine::toggleRun()
{
    m_runFlag.store(!m_runFlag.load());
}

void MonitorEngine::startWorkers()
{
    if (m_shutDown || m_workers[0])
        return;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        WorkerContext context;
        context.runFlag = &m_runFlag;
        context.settings = &m_settings;
        context.handover = m_handover;
        context.echo = m_echo.get();
        context.resolve = m_resolve;
        context.clock = m_clock;
        context.notPermitted = [this] { reportNotPermitted(); };
        m_workers[slot] = std::make_unique<TNewThread>(slot, std::move(context));
        m_workers[slot]->start(QThread::LowPriority);
    }
}

int MonitorEngine::workerCount() const
{
    int n = 0;
    for (const auto& w : m_workers)
        n += w ? 1 : 0;
    return n;
}

TNewThread* MonitorEngine::worker(int slotIndex) const
{
    if (slotIndex < 0 || slotIndex >= kSlotCount)
        return nullptr;
    return m_workers[slotIndex].get();
}

void MonitorEngine::reportNotPermitted()
{
    if (m_notPermittedReported.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this, [this] { emit echoNotPermitted(); }, Qt::QueuedConnection);
}

void MonitorEngine::shutdown()
{
    m_shutDown = true;
    m_runFlag.store(false);
    for (auto& w : m_workers) {
        if (w)
            w->requestStop();
    }
    m_handover->cancelAll();
    for (auto& w : m_workers) {
        if (w) {
            w->wait();
            w.reset();
        }
    }
}

} // namespace tarnwick::engine
