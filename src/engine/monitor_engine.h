#pragma once

#include "engine/engine_settings.h"
#include "engine/pacing_wait.h"
#include "engine/ping_worker.h"

#include <QObject>

#include <array>
#include <atomic>
#include <memory>

namespace tarnwick::net {
class EchoService;
}

namespace tarnwick::engine {

class ResultHandover;

// The monitoring engine without any widget: the run flag, the settings the
// workers read, the result handover and the five ping workers.
class MonitorEngine : public QObject {
    Q_OBJECT
public:
    using Recorder = std::function<void(int slotIndex, const QString& line)>;

    // resolve is the workers' name lookup (the system's in the program);
    // clock, when given, the time they live in instead of the steady clock,
    // and it must outlive them (until shutdown()).
    MonitorEngine(Recorder recorder, std::shared_ptr<net::EchoService> echo,
                  ResolveFunction resolve, const WorkerClock* clock = nullptr,
                  QObject* parent = nullptr);
    ~MonitorEngine() override;

    EngineSettings& settings() { return m_settings; }
    const EngineSettings& settings() const { return m_settings; }

    bool isRunning() const { return m_runFlag.load(); }
    // The Start/Stop action: flips the run flag and nothing else.
    void toggleRun();

    // Creates and starts the five workers, once.
    void startWorkers();
    int workerCount() const;
    TNewThread* worker(int slotIndex) const;

    // Clears the run flag, stops every worker, cuts short their waits and
    // joins them. Safe to call more than once; the engine stays stopped.
    void shutdown();

signals:
    // Emitted once, on the GUI thread, the first time an echo request could
    // not be sent at all for lack of permission.
    void echoNotPermitted();

private:
    void reportNotPermitted();

    std::atomic<bool> m_runFlag{false};
    std::atomic<bool> m_notPermittedReported{false};
    EngineSettings m_settings;
    ResultHandover* m_handover;
    std::shared_ptr<net::EchoService> m_echo;
    SteadyWorkerClock m_steadyClock;
    const WorkerClock* m_clock;
    ResolveFunction m_resolve;
    std::array<std::unique_ptr<TNewThread>, 5> m_workers;
    bool m_shutDown = false;
};

} // namespace tarnwick::engine
