#include "core/blocking_handover.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>

namespace tarnwick::core {

// Shared with the queued calls, which may run after the handover is gone.
struct BlockingHandover::State {
    std::mutex mutex;
    std::condition_variable changed;
    bool cancelled = false;
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
    {
        std::lock_guard lock(state->mutex);
        if (state->cancelled)
            return false;
    }
    QObject* context = m_context.data();
    if (!context)
        return false;
    struct Ticket {
        bool done = false;
        bool ran = false;
    };
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
            std::lock_guard lock(state->mutex);
            ticket.done = true;
            ticket.ran = !cancelled;
        }
        state->changed.notify_all();
    };
    if (QThread::currentThread() == context->thread()) {
        Ticket ticket;
        run(ticket);
        return ticket.ran;
    }
    auto ticket = std::make_shared<Ticket>();
    QMetaObject::invokeMethod(
        context, [run, ticket] { run(*ticket); }, Qt::QueuedConnection);
    std::unique_lock lock(state->mutex);
    state->changed.wait(lock, [&] { return ticket->done || state->cancelled; });
    return ticket->ran;
}

void BlockingHandover::cancel()
{
    {
        std::lock_guard lock(m_state->mutex);
        m_state->cancelled = true;
    }
    m_state->changed.notify_all();
}

bool BlockingHandover::isCancelled() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->cancelled;
}

} // namespace tarnwick::core
