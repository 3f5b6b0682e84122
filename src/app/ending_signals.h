#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace tarnwick::app {

// SIGTERM, SIGINT and SIGHUP (the end of the session, a terminal closed, a
// kill) end the program the way "Exit" does, on the GUI thread: the handler
// only writes a byte to a pipe that the event loop watches. Once made, the
// signals stay caught until the process ends; after this object has gone
// they end nothing, as the program is ending already.
class EndingSignals : public QObject {
public:
    explicit EndingSignals(std::function<void()> end, QObject* parent = nullptr);
    ~EndingSignals() override;

private:
    std::function<void()> m_end;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace tarnwick::app
