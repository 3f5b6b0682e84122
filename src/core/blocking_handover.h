#pragma once

#include <QPointer>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class QObject;

namespace tarnwick::core {

// Runs a function on the thread of a context object and blocks the calling
// worker until it has run there, so that a worker's pieces are handled in the
// order it made them. cancel() (any thread) releases every waiting worker at
// once and makes later calls return false without running anything; calls
// still queued when the context goes are dropped. The GUI thread never waits
// here: a call made on the context's own thread runs at once.
class BlockingHandover {
public:
    explicit BlockingHandover(QObject* context);
    ~BlockingHandover();
    BlockingHandover(const BlockingHandover&) = delete;
    BlockingHandover& operator=(const BlockingHandover&) = delete;

    // True when fn ran; false when the handover was cancelled first.
    bool call(std::function<void()> fn);

    void cancel();
    bool isCancelled() const;
    // Workers blocked in call() now.
    int waitingCalls() const;

private:
    struct State;
    QPointer<QObject> m_context;
    std::shared_ptr<State> m_state;
};

} // namespace tarnwick::core
