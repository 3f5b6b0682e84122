#pragma once

#include "core/blocking_handover.h"
#include "platform/net/canceller.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

class QObject;

namespace tarnwick::net {
class EchoHandle;
class EchoService;
} // namespace tarnwick::net

namespace tarnwick::trace {

// Where a trace's output and its end go. The two functions run on the GUI
// thread only, in context's thread; calls still queued when context is
// destroyed are dropped.
struct TraceSink {
    QObject* context = nullptr;
    std::function<void(std::uint64_t traceId, const QString& piece)> append;
    std::function<void(std::uint64_t traceId)> ended;
};

// One trace on a thread of its own. The worker never touches a widget: each
// piece of output is handed to the GUI thread and the worker waits until it
// has been appended, so pieces arrive in order. stop() ends the trace at its
// next probe and cuts any wait in flight short (an echo, a lookup, a hand-off).
// The destructor stops and joins.
class TTraceThread final {
public:
    TTraceThread(std::uint64_t id, TraceSink sink, std::shared_ptr<net::EchoService> echo,
                 std::shared_ptr<const std::atomic<bool>> showNames, QString host,
                 std::uint8_t maxHops);
    ~TTraceThread();
    TTraceThread(const TTraceThread&) = delete;
    TTraceThread& operator=(const TTraceThread&) = delete;

    std::uint64_t id() const { return m_id; }
    void start();
    // Any thread; returns at once.
    void stop();
    void join();

private:
    void Execute();
    void ShowOutput();
    // Also sets m_probeHeld: the part of the call that was no round trip.
    std::uint32_t SendProbe(std::uint8_t hop);
    bool stopping() const;

    std::uint32_t DestAddr = 0;
    std::unique_ptr<net::EchoHandle> IcmpHandle;
    QString Host;
    QString OutText;
    std::uint8_t MaxHops = 0;

    const std::uint64_t m_id;
    const TraceSink m_sink;
    const std::shared_ptr<net::EchoService> m_echo;
    const std::shared_ptr<const std::atomic<bool>> m_showNames;
    std::chrono::microseconds m_probeHeld{0};
    core::BlockingHandover m_handover;
    net::Canceller m_cancel;
    std::thread m_thread;
};

} // namespace tarnwick::trace
