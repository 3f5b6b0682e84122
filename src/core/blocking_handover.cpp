#include "core/blocking_handover.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <algorithm>
#include <vector>

namespace tarnwick::core {

namespace {

// One call: the worker that made it waits on its own condition, so that the
// GUI thread wakes that worker alone (one condition for all woke every
// waiting worker at every call).
struct Ticket {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    bool ran = false;
    bool cancelled = false;
};

} // namespace

// Shared with the queued calls, which may run after the handover is gone.
struct BlockingHandover::State {
    std::mutex mutex;
    bool cancelled = false;
    // The calls whose workers wait now, for cancel() to release.
    std::vector<std::shared_ptr<Ticket>> waiting;
};

BlockingHandover::BlockingHandover(QObject* context)
    : m_context(context), m_state(std::make_shared<State>())
{
}

BlockingHandover::~BlockingHandover()
{
    cancel();
}

bool BlockingHandover::call(std::function<void()> fn)
{
    const std::shared_ptr<State> state = m_state;
    QObject* context = m_context.data();
    if (!context || isCancelled())
        return false;
    const auto run = [state, fn = std::move(fn)](Ticket& ticket) {
        bool cancelled;
        {
            std::lock_guard lock(state->mutex);
            cancelled = state->cancelled;
        }
        if (!cancelled) {
            try {
                fn();
            } catch (...) {
                // A worker must never be left waiting because its call failed.
            }
        }
        {
            std::lock_guard lock(ticket.mutex);
            ticket.done = true;
            ticket.ran = !cancelled;
        }
        ticket.changed.notify_one();
    };
    if (QThread::currentThread() == context->thread()) {
        Ticket ticket;
        run(ticket);
        return ticket.ran;
    }
    auto ticket = std::make_shared<Ticket>();
    {
        std::lock_guard lock(state->mutex);
        if (state->cancelled)
            return false;
        state->waiting.push_back(ticket);
    }
    QMetaObject::invokeMethod(
        context, [run, ticket] { run(*ticket); }, Qt::QueuedConnection);
    bool ran;
    {
        std::unique_lock lock(ticket->mutex);
        ticket->changed.wait(lock, [&] { return ticket->done || ticket->cancelled; });
        ran = ticket->done && ticket->ran;
    }
    std::lock_guard lock(state->mutex);
    state->waiting.erase(std::find(state->waiting.begin(), state->waiting.end(), ticket));
    return ran;
}

void BlockingHandover::cancel()
{
    std::lock_guard lock(m_state->mutex);
    m_state->cancelled = true;
    for (const auto& ticket : m_state->waiting) {
        {
            std::lock_guard ticketLock(ticket->mutex);
            ticket->cancelled = true;
        }
        ticket->changed.notify_one();
    }
}

int BlockingHandover::waitingCalls() const
{
    std::lock_guard lock(m_state->mutex);
    return static_cast<int>(m_state->waiting.size());
}

bool BlockingHandover::isCancelled() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->cancelled;
}

} // namespace tarnwick::core
