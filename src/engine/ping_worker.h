#pragma once

#include "platform/net/canceller.h"
#include "platform/net/resolver.h"

#include <QString>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

namespace tarnwick::net {
class EchoHandle;
class EchoService;
} // namespace tarnwick::net

namespace tarnwick::engine {

class EngineSettings;
class ResultHandover;
class Waiter;
class WorkerClock;

using ResolveFunction =
    std::function<net::LookupResult(const std::string& host, const net::Canceller* cancel)>;

// What a worker shares with the rest of the program. Everything in here is
// safe to use from any thread.
struct WorkerContext {
    const std::atomic<bool>* runFlag = nullptr;
    const EngineSettings* settings = nullptr;
    ResultHandover* handover = nullptr;
    net::EchoService* echo = nullptr;
    ResolveFunction resolve;
    // Paces the worker; kept by the engine's owner for the worker's life.
    const WorkerClock* clock = nullptr;
    // Called (from the worker) when no echo request can be sent at all.
    std::function<void()> notPermitted;
};

// The ping worker of one host slot: while the run flag is on it makes one echo
// attempt for its slot's host, hands the result line over, then waits the
// Delay (a slot without a host at least 200 ms); while the flag is off it
// polls every 200 ms.
class TNewThread : public QThread {
    Q_OBJECT
public:
    TNewThread(std::int32_t slotIndex, WorkerContext context, QObject* parent = nullptr);
    ~TNewThread() override;

    std::int32_t slotIndex() const { return m_slotIndex; }
    // Asks the worker to end and cuts short any wait it is in (pacing, echo,
    // name lookup, result handover is cancelled separately). Any thread.
    void requestStop();

    static constexpr int kPollMs = 200;

protected:
    void run() override;

private:
    // False when the slot has no host, so nothing was tried.
    bool attempt();
    bool pace(int ms);

    // Fields of the attempt under way; nothing else survives an attempt.
    QString m_resultLine;
    QString m_host;
    const std::int32_t m_slotIndex;

    WorkerContext m_context;
    // Opened at the first attempt and kept until the worker ends: on the
    // helper path it holds one helper process for the worker's life.
    std::unique_ptr<net::EchoHandle> m_echo;
    net::Canceller m_cancel;
    // From the context's clock, for the worker's life (made on its thread).
    std::unique_ptr<Waiter> m_waiter;
    std::atomic<bool> m_stop{false};
};

} // namespace tarnwick::engine
