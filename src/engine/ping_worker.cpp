#include "engine/ping_worker.h"

#include "engine/engine_settings.h"
#include "engine/pacing_wait.h"
#include "engine/result_handover.h"
#include "engine/result_line.h"
#include "engine/thread_priority.h"
#include "engine/tick_clock.h"
#include "platform/net/echo.h"

#include <QCoreApplication>

#include <algorithm>

namespace tarnwick::engine {

namespace {

// The entry as the lookup is given it, or nothing when it is longer than any
// host name can be: a 100 MB entry was converted and trimmed at every attempt.
// The blanks the lookup ignores make no name longer.
std::optional<std::string> lookupName(const QString& host)
{
    const auto blank = [](QChar c) {
        return c == QLatin1Char(' ') || (c >= QLatin1Char('\t') && c <= QLatin1Char('\r'));
    };
    qsizetype first = 0;
    qsizetype end = host.size();
    while (first < end && blank(host[first]))
        ++first;
    while (end > first && blank(host[end - 1]))
        --end;
    // A character is at least one byte in the locale's encoding.
    if (static_cast<std::size_t>(end - first) > net::kMaxHostNameLength)
        return std::nullopt;
    return host.toLocal8Bit().toStdString();
}

} // namespace

TNewThread::TNewThread(std::int32_t slotIndex, WorkerContext context, QObject* parent)
    : QThread(parent), m_slotIndex(slotIndex), m_context(std::move(context))
{
    setObjectName(QStringLiteral("TNewThread%1").arg(slotIndex));
}

TNewThread::~TNewThread()
{
    requestStop();
    wait();
}

void TNewThread::requestStop()
{
    m_stop.store(true);
    m_cancel.cancel();
}

bool TNewThread::pace(int ms)
{
    return pacingWait(ms, *m_context.clock, *m_waiter, [this] {
        if (m_stop.load())
            return false;
        QCoreApplication::sendPostedEvents();
        return true;
    });
}

void TNewThread::run()
{
    lowerCurrentThreadPriority();
    m_waiter = m_context.clock->waiterFor(m_cancel);
    while (!m_stop.load()) {
        if (!pace(kPollMs))
            break;
        while (!m_stop.load() && m_context.runFlag->load()) {
            const bool attempted = attempt();
            if (m_stop.load())
                break;
            // A slot without a host waits at least a poll: at Delay 0 it
            // spun, a core for every empty slot.
            const int delay = m_context.settings->delayMs();
            if (!pace(attempted ? delay : std::max(delay, kPollMs)))
                break;
        }
    }
    // On the worker's own thread, which its helper would not outlive anyway.
    m_echo.reset();
    m_waiter.reset();
}

bool TNewThread::attempt()
{
    const std::optional<QString> entry = m_context.settings->hostAt(m_slotIndex);
    if (!entry || entry->isEmpty())
        return false;
    m_host = *entry;
    m_resultLine.clear();

    if (!m_echo)
        m_echo = m_context.echo->open();

    const std::optional<std::string> name = lookupName(m_host);
    const net::LookupResult lookup =
        name ? m_context.resolve(*name, &m_cancel) : net::LookupResult{};
    if (lookup.cancelled || m_stop.load())
        return true;
    if (!lookup.address) {
        m_resultLine = kUnreachableLine;
        m_context.handover->deliver(m_slotIndex, m_resultLine);
        return true;
    }

    net::EchoRequest request;
    request.destination = *lookup.address;
    request.dataSize = kEchoDataSize;
    request.timeoutMs = m_context.settings->timeoutMs();
    const net::EchoResult result = m_echo->echo(request, &m_cancel);
    if (result.failure == net::EchoFailure::Cancelled || m_stop.load())
        return true;
    if (result.failure == net::EchoFailure::NotPermitted && m_context.notPermitted)
        m_context.notPermitted();

    m_resultLine = resultLineFor(m_host, result);
    m_context.handover->deliver(m_slotIndex, m_resultLine);
    return true;
}

} // namespace tarnwick::engine
