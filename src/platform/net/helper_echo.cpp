#include "platform/net/echo_backends.h"

#include "platform/net/canceller.h"
#include "platform/net/helper_protocol.h"

#include <algorithm>
#include <cerrno>
#include <csignal>

#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarnwick::net {

namespace {

// How long the helper may take to say it is ready, and how much longer than
// the echo time-out its answer may take (it paces itself between requests).
constexpr int kStartTimeoutMs = 2000;
constexpr int kAnswerMarginMs = 2000;
// How long a helper gets to leave by itself once its input is closed.
constexpr int kExitGraceMs = 1000;

enum class ReadStatus { Complete, Closed, TimedOut, Woken, Failed };

int msUntil(EchoClock::time_point deadline)
{
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - EchoClock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

class HelperEcho final : public EchoHandle {
public:
    explicit HelperEcho(std::string path) : m_path(std::move(path)) {}
    ~HelperEcho() override { stop(); }
    HelperEcho(const HelperEcho&) = delete;
    HelperEcho& operator=(const HelperEcho&) = delete;

    // 0 when the helper runs and holds its socket, else an errno value.
    int start();
    EchoResult echo(const EchoRequest& request, const Canceller* cancel = nullptr) override;
    EchoPath path() const override { return EchoPath::Helper; }

private:
    ReadStatus readFrame(std::uint8_t* out, std::size_t size, int wakeFd,
                         EchoClock::time_point deadline);
    void stop();
    void kill();
    void reap();

    std::string m_path;
    pid_t m_pid = -1;
    int m_stream = -1;
    int m_pidfd = -1;
};

int HelperEcho::start()
{
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) {
        return errno;
    }
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    // One stream serves as both stdin and stdout; every other descriptor of
    // ours is close-on-exec.
    posix_spawn_file_actions_adddup2(&actions, sv[1], 0);
    posix_spawn_file_actions_adddup2(&actions, sv[1], 1);
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    char* const argv[] = {m_path.data(), nullptr};
    char* const envp[] = {nullptr};
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, m_path.c_str(), &actions, &attr, argv, envp);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(sv[1]);
    if (spawned != 0) {
        ::close(sv[0]);
        return spawned;
    }
    m_pid = pid;
    m_stream = sv[0];
    m_pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));

    HelperResponseFrame frame{};
    const auto deadline = EchoClock::now() + std::chrono::milliseconds(kStartTimeoutMs);
    if (readFrame(frame.data(), frame.size(), -1, deadline) != ReadStatus::Complete) {
        kill();
        return EIO;
    }
    const auto hello = decodeHelperResponse(frame);
    if (!hello || hello->outcome != HelperOutcome::Ready) {
        const int error = hello && hello->outcome == HelperOutcome::Unavailable && hello->error
                              ? static_cast<int>(hello->error)
                              : EPROTO;
        stop();
        return error;
    }
    return 0;
}

ReadStatus HelperEcho::readFrame(std::uint8_t* out, std::size_t size, int wakeFd,
                                 EchoClock::time_point deadline)
{
    std::size_t have = 0;
    while (have < size) {
        pollfd fds[2] = {{m_stream, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        const int wait = msUntil(deadline);
        const int ready = ::poll(fds, wakeFd >= 0 ? 2 : 1, wait);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return ReadStatus::Failed;
        }
        if (wakeFd >= 0 && fds[1].revents != 0) {
            return ReadStatus::Woken;
        }
        if (ready == 0) {
            if (wait == 0) {
                return ReadStatus::TimedOut;
            }
            continue;
        }
        const ssize_t n = ::recv(m_stream, out + have, size - have, MSG_DONTWAIT);
        if (n == 0) {
            return ReadStatus::Closed;
        }
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) {
                continue;
            }
            return ReadStatus::Failed;
        }
        have += static_cast<std::size_t>(n);
    }
    return ReadStatus::Complete;
}

EchoResult HelperEcho::echo(const EchoRequest& request, const Canceller* cancel)
{
    EchoResult result;
    const int wakeFd = cancel ? cancel->fd() : -1;
    if (cancel && cancel->isCancelled()) {
        result.failure = EchoFailure::Cancelled;
        return result;
    }
    if (request.ttl < 0 || request.ttl > 255) {
        result.failure = EchoFailure::SendFailed;
        result.error = EINVAL;
        return result;
    }
    // A helper that was stopped by a cancel (or died) is started again.
    if (m_pid < 0) {
        if (const int error = start(); error != 0) {
            result.failure = EchoFailure::SendFailed;
            result.error = error;
            return result;
        }
    }

    HelperRequest r;
    r.destination = request.destination;
    r.dataSize = request.dataSize;
    r.ttl = static_cast<std::uint16_t>(request.ttl);
    r.timeoutMs = static_cast<std::uint32_t>(
        std::clamp(request.timeoutMs, 1, static_cast<int>(kHelperMaxTimeoutMs)));
    const HelperRequestFrame out = encodeHelperRequest(r);
    if (::send(m_stream, out.data(), out.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(out.size())) {
        result.failure = EchoFailure::SendFailed;
        result.error = errno;
        kill();
        return result;
    }

    HelperResponseFrame in{};
    const auto deadline =
        EchoClock::now() + std::chrono::milliseconds(r.timeoutMs + kAnswerMarginMs);
    switch (readFrame(in.data(), in.size(), wakeFd, deadline)) {
    case ReadStatus::Complete:
        break;
    case ReadStatus::Woken:
        // The helper would sit out its wait; a fresh one is cheaper than
        // waiting for it.
        kill();
        result.failure = EchoFailure::Cancelled;
        return result;
    case ReadStatus::TimedOut:
        kill();
        result.failure = EchoFailure::TimedOut;
        return result;
    case ReadStatus::Closed:
    case ReadStatus::Failed:
        kill();
        result.failure = EchoFailure::SendFailed;
        result.error = EIO;
        return result;
    }

    const auto answer = decodeHelperResponse(in);
    if (!answer) {
        kill();
        result.failure = EchoFailure::SendFailed;
        result.error = EPROTO;
        return result;
    }
    switch (answer->outcome) {
    case HelperOutcome::Reply:
        result.reply = EchoReply{answer->status, answer->roundTripMs, answer->address};
        break;
    case HelperOutcome::TimedOut:
        result.failure = EchoFailure::TimedOut;
        break;
    case HelperOutcome::SendFailed:
    case HelperOutcome::Rejected:
        result.failure = EchoFailure::SendFailed;
        result.error = answer->error != 0 ? static_cast<int>(answer->error) : EINVAL;
        break;
    case HelperOutcome::Ready:
    case HelperOutcome::Unavailable:
        kill();
        result.failure = EchoFailure::SendFailed;
        result.error = EPROTO;
        break;
    }
    return result;
}

void HelperEcho::stop()
{
    if (m_pid < 0) {
        return;
    }
    // Closing its input is the helper's signal to leave.
    ::close(m_stream);
    m_stream = -1;
    bool exited = false;
    if (m_pidfd >= 0) {
        pollfd p{m_pidfd, POLLIN, 0};
        const auto deadline = EchoClock::now() + std::chrono::milliseconds(kExitGraceMs);
        for (;;) {
            const int wait = msUntil(deadline);
            const int ready = ::poll(&p, 1, wait);
            if (ready > 0 || (ready == 0 && wait == 0) || (ready < 0 && errno != EINTR)) {
                exited = ready > 0;
                break;
            }
        }
    }
    if (!exited) {
        ::kill(m_pid, SIGKILL);
    }
    reap();
}

void HelperEcho::kill()
{
    if (m_pid < 0) {
        return;
    }
    ::kill(m_pid, SIGKILL);
    ::close(m_stream);
    m_stream = -1;
    reap();
}

void HelperEcho::reap()
{
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (m_pidfd >= 0) {
        ::close(m_pidfd);
    }
    m_pidfd = -1;
    m_pid = -1;
}

} // namespace

std::unique_ptr<EchoHandle> openHelperEcho(const std::string& helperPath, int* error)
{
    if (helperPath.empty()) {
        *error = ENOENT;
        return nullptr;
    }
    auto handle = std::make_unique<HelperEcho>(helperPath);
    *error = handle->start();
    if (*error != 0) {
        return nullptr;
    }
    return handle;
}

} // namespace tarnwick::net
