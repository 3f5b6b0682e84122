#include "platform/net/canceller.h"
#include "platform/net/echo_backends.h"
#include "platform/net/helper_protocol.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

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

std::atomic<std::uint64_t> g_helpersStarted{0};

enum class ReadStatus { Complete, Closed, TimedOut, Woken, Failed };

int msUntil(EchoClock::time_point deadline)
{
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - EchoClock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

std::uint32_t microsecondsSince(EchoClock::time_point t0)
{
    const auto us =
        std::chrono::duration_cast<std::chrono::microseconds>(EchoClock::now() - t0).count();
    return us > 0 ? static_cast<std::uint32_t>(us) : 0;
}

// One helper process for the handle's whole life: each echo is a request on
// the same stream. A wait cut short leaves the helper running (it is told to
// stop waiting, and its late answer is known by its id); a helper that has
// died is replaced at the next echo. The helper ends with the thread that
// started it, so a handle belongs to one thread.
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
    ReadStatus readFrame(HelperResponseFrame& out, int wakeFd, EchoClock::time_point deadline);
    bool sendFrame(const HelperRequestFrame& frame);
    void reapIfGone();
    void stop();
    void kill();
    void reap();

    std::string m_path;
    pid_t m_pid = -1;
    int m_stream = -1;
    int m_pidfd = -1;
    std::uint32_t m_lastId = 0;
    // Bytes of an answer whose reading was cut short; the rest follows.
    std::vector<std::uint8_t> m_partial;
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
    g_helpersStarted.fetch_add(1, std::memory_order_relaxed);
    m_pid = pid;
    m_stream = sv[0];
    m_pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    m_partial.clear();

    HelperResponseFrame frame{};
    const auto deadline = EchoClock::now() + std::chrono::milliseconds(kStartTimeoutMs);
    if (readFrame(frame, -1, deadline) != ReadStatus::Complete) {
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

ReadStatus HelperEcho::readFrame(HelperResponseFrame& out, int wakeFd,
                                 EchoClock::time_point deadline)
{
    while (m_partial.size() < out.size()) {
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
        std::uint8_t chunk[kHelperResponseSize];
        const ssize_t n = ::recv(m_stream, chunk, out.size() - m_partial.size(), MSG_DONTWAIT);
        if (n == 0) {
            return ReadStatus::Closed;
        }
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) {
                continue;
            }
            return ReadStatus::Failed;
        }
        m_partial.insert(m_partial.end(), chunk, chunk + n);
    }
    std::copy_n(m_partial.begin(), out.size(), out.begin());
    m_partial.clear();
    return ReadStatus::Complete;
}

bool HelperEcho::sendFrame(const HelperRequestFrame& frame)
{
    return ::send(m_stream, frame.data(), frame.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(frame.size());
}

// A helper that was killed or crashed since the last echo is let go here, so
// that this echo starts a new one instead of failing on the dead stream.
void HelperEcho::reapIfGone()
{
    if (m_pid < 0) {
        return;
    }
    int status = 0;
    const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
    if (r == 0) {
        return;
    }
    ::close(m_stream);
    m_stream = -1;
    if (m_pidfd >= 0) {
        ::close(m_pidfd);
    }
    m_pidfd = -1;
    m_pid = -1;
}

EchoResult HelperEcho::echo(const EchoRequest& request, const Canceller* cancel)
{
    EchoResult result;
    const int wakeFd = cancel ? cancel->fd() : -1;
    // One look at the wake-up and at the helper's pidfd (readable once it
    // has ended); poll passes over a descriptor of -1.
    bool gone = m_pidfd < 0;
    if (wakeFd >= 0 || m_pidfd >= 0) {
        pollfd before[2] = {{wakeFd, POLLIN, 0}, {m_pidfd, POLLIN, 0}};
        if (::poll(before, 2, 0) > 0) {
            if (before[0].revents != 0) {
                result.failure = EchoFailure::Cancelled;
                return result;
            }
            gone = gone || before[1].revents != 0;
        }
    }
    if (request.ttl < 0 || request.ttl > 255) {
        result.failure = EchoFailure::SendFailed;
        result.error = EINVAL;
        return result;
    }
    if (gone) {
        reapIfGone();
    }
    if (m_pid < 0) {
        const auto t0 = EchoClock::now();
        const int error = start();
        result.heldUs = microsecondsSince(t0);
        if (error != 0) {
            result.failure = EchoFailure::SendFailed;
            result.error = error;
            return result;
        }
    }

    HelperRequest r;
    r.id = ++m_lastId;
    if (r.id == 0) {
        r.id = ++m_lastId; // 0 is the hello's
    }
    r.destination = request.destination;
    r.dataSize = request.dataSize;
    r.ttl = static_cast<std::uint16_t>(request.ttl);
    r.timeoutMs = static_cast<std::uint32_t>(
        std::clamp(request.timeoutMs, 1, static_cast<int>(kHelperMaxTimeoutMs)));
    if (!sendFrame(encodeHelperRequest(r))) {
        result.failure = EchoFailure::SendFailed;
        result.error = errno;
        kill();
        return result;
    }

    const auto deadline =
        EchoClock::now() + std::chrono::milliseconds(r.timeoutMs + kAnswerMarginMs);
    std::optional<HelperResponse> answer;
    while (!answer) {
        HelperResponseFrame in{};
        switch (readFrame(in, wakeFd, deadline)) {
        case ReadStatus::Complete:
            break;
        case ReadStatus::Woken: {
            // The helper stays: it stops waiting, and its answer to this
            // request is passed over by id at the next echo.
            HelperRequest abandon;
            abandon.kind = HelperRequestKind::Abandon;
            abandon.id = r.id;
            if (!sendFrame(encodeHelperRequest(abandon))) {
                kill();
            }
            result.failure = EchoFailure::Cancelled;
            return result;
        }
        case ReadStatus::TimedOut:
            // Silent well past its time-out: it cannot be trusted any more.
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
        answer = decodeHelperResponse(in);
        if (!answer) {
            kill();
            result.failure = EchoFailure::SendFailed;
            result.error = EPROTO;
            return result;
        }
        if (answer->id != r.id) {
            // The answer to an earlier request whose wait was cut short.
            answer.reset();
        }
    }

    result.heldUs += answer->heldUs;
    switch (answer->outcome) {
    case HelperOutcome::Reply:
        // No reply within the time-out can have taken longer: a figure past
        // it (a replaced helper once claimed 4294967295 ms) is a time-out,
        // as on the socket paths.
        if (answer->roundTripMs > r.timeoutMs) {
            result.failure = EchoFailure::TimedOut;
            break;
        }
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
    case HelperOutcome::Abandoned:
        // Nothing of ours ended this wait: the stream is out of step.
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

std::uint64_t helperProcessesStarted()
{
    return g_helpersStarted.load(std::memory_order_relaxed);
}

} // namespace tarnwick::net
