#pragma once

#include "core/blocking_handover.h"

#include <QObject>
#include <QString>

#include <functional>

namespace tarnwick::engine {

// Hands a worker's result line to the GUI thread and blocks the worker until
// it has been recorded there, so that one slot's lines are recorded in attempt
// order. The wait ends early when the handover is cancelled (at exit); the GUI
// thread never waits for a worker here.
class ResultHandover : public QObject {
    Q_OBJECT
public:
    using Recorder = std::function<void(int slotIndex, const QString& line)>;

    explicit ResultHandover(Recorder recorder, QObject* parent = nullptr);

    // Called on a worker thread. True when the line was recorded, false when
    // the handover was cancelled first.
    bool deliver(int slotIndex, const QString& line);

    void cancelAll() { m_handover.cancel(); }
    bool isCancelled() const { return m_handover.isCancelled(); }
    int waitingCalls() const { return m_handover.waitingCalls(); }

private:
    Recorder m_recorder;
    core::BlockingHandover m_handover;
};

} // namespace tarnwick::engine
