#include "trace/route_snapshot.h"

#include "trace/trace_text.h"
#include "trace/trace_thread.h"

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
    if (!m_running)
        startNext();
}

void RouteSnapshots::startNext()
{
    while (!m_running && !m_queue.empty() && !m_shutDown) {
        const Job job = m_queue.front();
        m_queue.pop_front();
        TraceSink sink;
        sink.context = m_context.get();
        sink.append = [this](std::uint64_t id, const QString& piece) { appended(id, piece); };
        sink.ended = [this](std::uint64_t id) { ended(id); };
        m_text.clear();
        m_silent = 0;
        m_runningId = job.id;
        m_running = std::make_unique<TTraceThread>(job.id, std::move(sink), m_echo, nullptr,
                                                   job.host, m_maxHops);
        try {
            m_running->start();
        } catch (const std::system_error&) {
            // No thread to be had now: this snapshot is left out.
            m_running.reset();
        }
    }
}

void RouteSnapshots::appended(std::uint64_t id, const QString& piece)
{
    if (!m_running || id != m_runningId)
        return;
    m_text += piece;
    // Every line's end comes as a piece of its own.
    if (piece.endsWith(QStringLiteral("\r\n")))
        m_silent = piece == silentHopEnd() ? m_silent + 1 : 0;
    if (m_silent == kSilentHops) {
        m_text +=
            QStringLiteral("(%1 hops in a row did not answer: stopped here)\r\n").arg(kSilentHops);
        // It ends at its next probe and reports that as usual.
        m_running->stop();
    }
}

void RouteSnapshots::ended(std::uint64_t id)
{
    if (!m_running || id != m_runningId)
        return;
    // Its last act was to report the end: the join is immediate.
    std::unique_ptr<TTraceThread> finished = std::move(m_running);
    finished->join();
    finished.reset();
    const QString text = m_text;
    m_text.clear();
    if (m_done)
        m_done(id, text);
    startNext();
}

void RouteSnapshots::shutdown()
{
    m_shutDown = true;
    m_queue.clear();
    if (m_running) {
        m_running->stop();
        m_running->join();
        m_running.reset();
    }
    m_context.reset();
}

} // namespace tarnwick::trace
