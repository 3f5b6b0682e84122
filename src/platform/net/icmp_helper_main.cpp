// tarnwick-icmp-helper: the only file of Tarnwick that may carry cap_net_raw.
// It opens one raw ICMP socket, gives up every capability for good, and then
// does nothing but answer fixed-size echo requests on stdin with fixed-size
// results on stdout (see helper_protocol.h), one at a time and paced. It runs
// no other program, reads no environment and leaves when its input closes, or
// when the thread that started it ends.

#include "platform/net/echo_backends.h"
#include "platform/net/helper_protocol.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <thread>

#include <linux/capability.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace tarnwick::net;

namespace {

constexpr int kExitClosed = 0;
constexpr int kExitBadInput = 2;
constexpr int kExitNoSocket = 3;
constexpr int kExitNoDrop = 4;

bool dropAllCapabilities()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capset, &header, data) != 0) {
        return false;
    }
    ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    // Nothing this process could still run may gain privileges either.
    ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    __user_cap_data_struct check[2] = {};
    if (::syscall(SYS_capget, &header, check) != 0) {
        return false;
    }
    for (const auto& d : check) {
        if (d.effective != 0 || d.permitted != 0 || d.inheritable != 0) {
            return false;
        }
    }
    return true;
}

bool writeAll(const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool answer(const HelperResponse& response)
{
    const HelperResponseFrame frame = encodeHelperResponse(response);
    return writeAll(frame.data(), frame.size());
}

enum class ReadStatus { Complete, Closed, Cut };

ReadStatus readFrame(HelperRequestFrame& frame)
{
    std::size_t have = 0;
    while (have < frame.size()) {
        const ssize_t n = ::read(STDIN_FILENO, frame.data() + have, frame.size() - have);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return have == 0 && n == 0 ? ReadStatus::Closed : ReadStatus::Cut;
        }
        have += static_cast<std::size_t>(n);
    }
    return ReadStatus::Complete;
}

std::uint32_t microsecondsBetween(EchoClock::time_point from, EchoClock::time_point to)
{
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(to - from).count();
    return us > 0 ? static_cast<std::uint32_t>(us) : 0;
}

} // namespace

int main()
{
    // A backstop for a client that goes without closing our input. Set here,
    // not by the client: starting a file with capabilities clears it.
    const pid_t parent = ::getppid();
    ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    if (::getppid() != parent) {
        return kExitClosed;
    }
    // A client gone mid-answer is an ordinary end, not a signal.
    ::signal(SIGPIPE, SIG_IGN);
    // Keep nothing the parent may have leaked to us.
    ::close_range(3, ~0u, 0);

    const int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    const int socketError = fd < 0 ? errno : 0;
    if (!dropAllCapabilities()) {
        return kExitNoDrop;
    }
    if (fd < 0) {
        HelperResponse r;
        r.outcome = HelperOutcome::Unavailable;
        r.error = static_cast<std::uint32_t>(socketError);
        answer(r);
        return kExitNoSocket;
    }
    int error = 0;
    auto echo = RawEcho::adopt(fd, &error);
    if (!echo) {
        HelperResponse r;
        r.outcome = HelperOutcome::Unavailable;
        r.error = static_cast<std::uint32_t>(error);
        answer(r);
        return kExitNoSocket;
    }
    echo->reportAs(EchoPath::Helper);
    HelperResponse ready;
    ready.outcome = HelperOutcome::Ready;
    if (!answer(ready)) {
        return kExitClosed;
    }

    auto lastSend = EchoClock::now() - std::chrono::milliseconds(kHelperMinIntervalMs);
    for (;;) {
        HelperRequestFrame frame{};
        switch (readFrame(frame)) {
        case ReadStatus::Complete:
            break;
        case ReadStatus::Closed:
            return kExitClosed;
        case ReadStatus::Cut:
            return kExitBadInput;
        }
        const auto received = EchoClock::now();
        HelperRequest request;
        const RequestCheck check = decodeHelperRequest(frame, request);
        if (check == RequestCheck::BadFrame) {
            return kExitBadInput;
        }
        if (check == RequestCheck::Ok && request.kind == HelperRequestKind::Abandon) {
            // Nothing waits any more (the wait it was meant to end has been
            // answered already, or it came late).
            continue;
        }
        HelperResponse r;
        if (check != RequestCheck::Ok) {
            r.outcome = HelperOutcome::Rejected;
            r.id = request.id;
            r.error = EINVAL;
            if (!answer(r)) {
                return kExitClosed;
            }
            continue;
        }

        std::this_thread::sleep_until(lastSend + std::chrono::milliseconds(kHelperMinIntervalMs));
        lastSend = EchoClock::now();
        EchoRequest echoRequest;
        echoRequest.destination = request.destination;
        echoRequest.dataSize = request.dataSize;
        echoRequest.ttl = request.ttl;
        echoRequest.timeoutMs = static_cast<int>(request.timeoutMs);
        // Anything arriving on stdin during the wait (an abandon frame, the
        // next request, the client going away) ends the wait.
        const EchoResult result = echo->echoUntil(echoRequest, STDIN_FILENO);

        r.id = request.id;
        r.heldUs = microsecondsBetween(received, lastSend);
        switch (result.failure) {
        case EchoFailure::None:
            r.outcome = HelperOutcome::Reply;
            r.status = result.reply->status;
            r.roundTripMs = result.reply->roundTripMs;
            r.address = result.reply->address;
            break;
        case EchoFailure::TimedOut:
            r.outcome = HelperOutcome::TimedOut;
            break;
        case EchoFailure::Cancelled:
            // The next read tells an abandon frame, a request and the end apart.
            r.outcome = HelperOutcome::Abandoned;
            break;
        case EchoFailure::SendFailed:
        case EchoFailure::NotPermitted:
            r.outcome = HelperOutcome::SendFailed;
            r.error = static_cast<std::uint32_t>(result.error);
            break;
        }
        if (!answer(r)) {
            return kExitClosed;
        }
    }
}
