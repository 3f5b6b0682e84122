#include "platform/instance_channel.h"

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tarnwick::platform {

namespace {

const QByteArray kRequest = "show\n";
const QByteArray kAnswer = "shown\n";

} // namespace

InstanceServer::InstanceServer(const QString& socketPath, std::function<void()> show,
                               QObject* parent)
    : QObject(parent), m_show(std::move(show))
{
    if (socketPath.isEmpty())
        return;
    m_server = new QLocalServer(this);
    // The socket's folder is the user's own (instanceSocketPath), so no one
    // else can reach it; a file left there by a killed holder is stale, for
    // only the lock's holder listens.
    QLocalServer::removeServer(socketPath);
    if (!m_server->listen(socketPath))
        return;
    connect(m_server, &QLocalServer::newConnection, this, &InstanceServer::serveNext);
}

InstanceServer::~InstanceServer() = default;

bool InstanceServer::listening() const
{
    return m_server && m_server->isListening();
}

void InstanceServer::serveNext()
{
    while (QLocalSocket* caller = m_server->nextPendingConnection()) {
        connect(caller, &QLocalSocket::disconnected, caller, &QObject::deleteLater);
        // A caller that never says what it wants is not waited for.
        QTimer::singleShot(kRequestWaitMs, caller, [caller] { caller->abort(); });
        connect(caller, &QLocalSocket::readyRead, caller, [this, caller] {
            if (caller->bytesAvailable() < kRequest.size())
                return;
            if (caller->read(kRequest.size()) == kRequest) {
                m_show();
                caller->write(kAnswer);
                caller->flush();
            }
            caller->disconnectFromServer();
        });
    }
}

ShowAnswer askInstanceToShow(const QString& socketPath, int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const QByteArray path = QFile::encodeName(socketPath);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || std::size_t(path.size()) >= sizeof address.sun_path)
        return ShowAnswer::NoServer;
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return ShowAnswer::NoServer;
    // A listener that is alive accepts at once; a socket file without one
    // refuses at once.
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return ShowAnswer::NoServer;
    }
    // MSG_NOSIGNAL: a listener that went away must not end us by SIGPIPE.
    if (::send(fd, kRequest.constData(), std::size_t(kRequest.size()), MSG_NOSIGNAL) !=
        kRequest.size()) {
        ::close(fd);
        return ShowAnswer::Silent;
    }
    QByteArray answer;
    while (answer.size() < kAnswer.size()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, int(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        char buffer[16];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        answer.append(buffer, n);
    }
    ::close(fd);
    return answer.startsWith(kAnswer) ? ShowAnswer::Shown : ShowAnswer::Silent;
}

} // namespace tarnwick::platform
