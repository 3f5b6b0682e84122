#include "trace/route_snapshot.h"

#include "trace/trace_text.h"
#include "trace/trace_thread.h"

#include <algorithm>
#include <system_error>

namespace tarnwick::trace {

RouteSnapshots::RouteSnapshots(std::shared_ptr<net::EchoService> echo, Done done,
                               std::uint8_t maxHops)
    : m_echo(std::move(echo)), m_done(std::move(done)), m_maxHops(maxHops),
      m_context(std::make_unique<QObject>())
{
}

RouteSnapshots::~RouteSnapshots()
{
    shutdown();
}

void RouteSnapshots::take(std::uint64_t id, const QString& host)
{
    if (m_shutDown)
        return;
    m_queue.push_back({id, host});
    startNext();
}

RouteSnapshots::Running* RouteSnapshots::find(std::uint64_t id)
{
    for (Running& running : m_running) {
        if (running.id == id)
            return &running;
    }
    return nullptr;
}

void RouteSnapshots::startNext()
{
    while (m_running.size() < kMaxRunning && !m_queue.empty() && !m_shutDown) {
        const Job job = m_queue.front();
        m_queue.pop_front();
        TraceSink sink;
        sink.context = m_context.get();
        sink.append = [this](std::uint64_t id, const QString& piece) { appended(id, piece); };
        sink.ended = [this](std::uint64_t id) { ended(id); };
        auto thread = std::make_unique<TTraceThread>(job.id, std::move(sink), m_echo, nullptr,
                                                     job.host, m_maxHops);
        try {
            thread->start();
        } catch (const std::system_error&) {
            // No thread to be had now: this snapshot is left out.
            continue;
        }
        m_running.push_back({job.id, std::move(thread), QString(), 0});
    }
}

void RouteSnapshots::appended(std::uint64_t id, const QString& piece)
{
    Running* running = find(id);
    if (!running)
        return;
    running->text += piece;
    // Every line's end comes as a piece of its own.
    if (piece.endsWith(QStringLiteral("\r\n")))
        running->silent = piece == silentHopEnd() ? running->silent + 1 : 0;
    if (running->silent == kSilentHops) {
        running->text +=
            QStringLiteral("(%1 hops in a row did not answer: stopped here)\r\n").arg(kSilentHops);
        // It ends at its next probe and reports that as usual.
        running->thread->stop();
    }
}

void RouteSnapshots::ended(std::uint64_t id)
{
    const auto it = std::find_if(m_running.begin(), m_running.end(),
                                 [id](const Running& r) { return r.id == id; });
    if (it == m_running.end())
        return;
    // Its last act was to report the end: the join is immediate.
    it->thread->join();
    const QString text = it->text;
    m_running.erase(it);
    if (m_done)
        m_done(id, text);
    startNext();
}

void RouteSnapshots::shutdown()
{
    m_shutDown = true;
    m_queue.clear();
    for (Running& running : m_running)
        running.thread->stop();
    for (Running& running : m_running)
        running.thread->join();
    m_running.clear();
    m_context.reset();
}

} // namespace tarnwick::trace
