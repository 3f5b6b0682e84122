#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QLocalServer;

namespace tarnwick::platform {

// The running instance's ear: a later start with the same data folder asks
// it through a local socket to show its window, and it answers once that is
// done. Only the holder of the folder's lock listens, so a socket left by a
// killed holder is stale and replaced.
class InstanceServer : public QObject {
public:
    InstanceServer(const QString& socketPath, std::function<void()> show,
                   QObject* parent = nullptr);
    ~InstanceServer() override;

    bool listening() const;

    // Longest wait for a caller's request before it is dropped.
    static constexpr int kRequestWaitMs = 5000;

private:
    void serveNext();

    std::function<void()> m_show;
    QLocalServer* m_server = nullptr;
};

enum class ShowAnswer {
    Shown,    // the instance has shown its window
    NoServer, // nobody listens there (yet)
    Silent,   // a listener that did not answer in time
};

// Asks the instance listening at socketPath to show its window, waiting at
// most timeoutMs for the answer. Plain sockets: it runs before the program
// has any application object.
ShowAnswer askInstanceToShow(const QString& socketPath, int timeoutMs);

} // namespace tarnwick::platform
