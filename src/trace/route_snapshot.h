#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

namespace tarnwick::net {
class EchoService;
}

namespace tarnwick::trace {

class TTraceThread;

// Route snapshots for incidents: one traceroute at a time, in the background,
// through the traceroute window's own worker (no name lookups), its output
// collected as the window would show it. Runs on the GUI thread.
class RouteSnapshots {
public:
    using Done = std::function<void(std::uint64_t id, const QString& route)>;

    // A host that does not answer costs six seconds a hop: sixteen hops
    // reach past any home or office network in under two minutes.
    static constexpr std::uint8_t kMaxHops = 16;
    // Where a route goes silent nothing more is learned: the snapshot ends
    // after this many silent hops in a row.
    static constexpr int kSilentHops = 3;

    RouteSnapshots(std::shared_ptr<net::EchoService> echo, Done done,
                   std::uint8_t maxHops = kMaxHops);
    ~RouteSnapshots();
    RouteSnapshots(const RouteSnapshots&) = delete;
    RouteSnapshots& operator=(const RouteSnapshots&) = delete;

    // Queued behind the one running.
    void take(std::uint64_t id, const QString& host);
    // Stops the running trace, drops the queue and joins; nothing more is
    // reported.
    void shutdown();

    bool busy() const { return m_running != nullptr; }
    std::size_t queued() const { return m_queue.size(); }

private:
    struct Job {
        std::uint64_t id;
        QString host;
    };
    void startNext();
    void appended(std::uint64_t id, const QString& piece);
    void ended(std::uint64_t id);

    std::shared_ptr<net::EchoService> m_echo;
    Done m_done;
    std::uint8_t m_maxHops;
    // The context of the worker's hand-offs: calls still queued when it goes
    // are dropped.
    std::unique_ptr<QObject> m_context;
    std::deque<Job> m_queue;
    std::unique_ptr<TTraceThread> m_running;
    std::uint64_t m_runningId = 0;
    QString m_text;
    int m_silent = 0;
    bool m_shutDown = false;
};

} // namespace tarnwick::trace
