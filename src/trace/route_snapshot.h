#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace tarnwick::net {
class EchoService;
}

namespace tarnwick::trace {

class TTraceThread;

// Route snapshots for incidents: traceroutes in the background, through the
// traceroute window's own worker (no name lookups), their output collected as
// the window would show it. A snapshot is worth most while the outage lasts,
// so each starts at once (one per host slot at most; more wait their turn).
// Runs on the GUI thread.
class RouteSnapshots {
public:
    using Done = std::function<void(std::uint64_t id, const QString& route)>;

    // A host that does not answer costs six seconds a hop: sixteen hops
    // reach past any home or office network in under two minutes.
    static constexpr std::uint8_t kMaxHops = 16;
    // Where a route goes silent nothing more is learned: the snapshot ends
    // after this many silent hops in a row.
    static constexpr int kSilentHops = 3;
    static constexpr std::size_t kMaxRunning = 5;

    RouteSnapshots(std::shared_ptr<net::EchoService> echo, Done done,
                   std::uint8_t maxHops = kMaxHops);
    ~RouteSnapshots();
    RouteSnapshots(const RouteSnapshots&) = delete;
    RouteSnapshots& operator=(const RouteSnapshots&) = delete;

    void take(std::uint64_t id, const QString& host);
    // Stops the running trace, drops the queue and joins; nothing more is
    // reported.
    void shutdown();

    std::size_t running() const { return m_running.size(); }
    std::size_t queued() const { return m_queue.size(); }

private:
    struct Job {
        std::uint64_t id;
        QString host;
    };
    struct Running {
        std::uint64_t id;
        std::unique_ptr<TTraceThread> thread;
        QString text;
        int silent = 0;
    };
    Running* find(std::uint64_t id);
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
    std::vector<Running> m_running;
    bool m_shutDown = false;
};

} // namespace tarnwick::trace
