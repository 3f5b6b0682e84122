#include "result_handover.h"

#include <QThread>

#include <memory>

namespace tarnwick::engine {

struct ResultHandover::Pending {
    bool done = false;
};

ResultHandover::ResultHandover(Recorder recorder, QObject* parent)
    : QObject(parent), m_recorder(std::move(recorder))
{
}

void ResultHandover::record(Pending& pending, int slotIndex, const QString& line)
{
    bool cancelled;
    {
        std::lock_guard lock(m_mutex);
        cancelled = m_cancelled;
    }
    if (!cancelled && m_recorder) {
        try {
            m_recorder(slotIndex, line);
        } catch (...) {
            // A worker must never be left waiting because recording failed.
        }
    }
    {
        std::lock_guard lock(m_mutex);
        pending.done = true;
    }
    m_recorded.notify_all();
}

bool ResultHandover::deliver(int slotIndex, const QString& line)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_cancelled)
            return false;
    }
    if (QThread::currentThread() == thread()) {
        Pending pending;
        record(pending, slotIndex, line);
        return pending.done;
    }
    auto pending = std::make_shared<Pending>();
    // If this object is gone before the event is delivered, Qt drops the call.
    QMetaObject::invokeMethod(
        this, [this, pending, slotIndex, line] { record(*pending, slotIndex, line); },
        Qt::QueuedConnection);
    std::unique_lock lock(m_mutex);
    m_recorded.wait(lock, [&] { return pending->done || m_cancelled; });
    return pending->done;
}

void ResultHandover::cancelAll()
{
    {
        std::lock_guard lock(m_mutex);
        m_cancelled = true;
    }
    m_recorded.notify_all();
}

bool ResultHandover::isCancelled() const
{
    std::lock_guard lock(m_mutex);
    return m_cancelled;
}

} // namespace tarnwick::engine
