#pragma once

#include <QObject>
#include <QString>

#include <condition_variable>
#include <functional>
#include <mutex>

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

    void cancelAll();
    bool isCancelled() const;

private:
    struct Pending;
    void record(Pending& pending, int slotIndex, const QString& line);

    Recorder m_recorder;
    mutable std::mutex m_mutex;
    std::condition_variable m_recorded;
    bool m_cancelled = false;
};

} // namespace tarnwick::engine
