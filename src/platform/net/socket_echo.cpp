#include "platform/net/canceller.h"
#include "platform/net/deadline_poll.h"
#include "platform/net/echo_backends.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime> // linux/errqueue.h needs struct timespec
#include <random>

#include <linux/errqueue.h>
#include <linux/filter.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarnwick::net {

namespace {

// Room for the largest IPv4 datagram, so nothing we read is ever cut off.
constexpr std::size_t kReceiveBufferSize = 65536;
// Reads per wake-up, so a flood of foreign traffic cannot hold the loop past
// its deadline.
constexpr int kMaxReadsPerWake = 256;

std::uint16_t randomSeed16()
{
    try {
        std::random_device rd;
        return static_cast<std::uint16_t>(rd());
    } catch (...) {
        return static_cast<std::uint16_t>(EchoClock::now().time_since_epoch().count() ^ ::getpid());
    }
}

// Accepts everything but echo replies carrying another identifier: errors
// must still reach every raw socket, as any of them may quote our request.
bool attachIdentifierFilter(int fd, std::uint16_t ident)
{
    sock_filter code[] = {
        {BPF_LDX | BPF_B | BPF_MSH, 0, 0, 0},     // X = IP header length
        {BPF_LD | BPF_B | BPF_IND, 0, 0, 0},      // A = ICMP type
        {BPF_JMP | BPF_JEQ | BPF_K, 0, 3, 0},     // not an echo reply: accept
        {BPF_LD | BPF_H | BPF_IND, 0, 0, 4},      // A = identifier
        {BPF_JMP | BPF_JEQ | BPF_K, 1, 0, ident}, // ours: accept
        {BPF_RET | BPF_K, 0, 0, 0},
        {BPF_RET | BPF_K, 0, 0, 0xffffffffu},
    };
    sock_fprog program{static_cast<unsigned short>(sizeof code / sizeof code[0]), code};
    return ::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0;
}

} // namespace

std::uint32_t elapsedMs(EchoClock::time_point t0, EchoClock::time_point t1)
{
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(t1 - t0).count();
    return us <= 0 ? 0u : static_cast<std::uint32_t>(us / 1000);
}

std::uint16_t nextRawIdentifier()
{
    static std::atomic<std::uint16_t> counter{randomSeed16()};
    for (;;) {
        const std::uint16_t id = counter.fetch_add(1);
        if (id != 0) {
            return id;
        }
    }
}

SocketEcho::SocketEcho(int fd, std::uint16_t ident)
    : m_fd(fd), m_buffer(kReceiveBufferSize), m_ident(ident), m_seq(randomSeed16())
{
}

SocketEcho::~SocketEcho()
{
    ::close(m_fd);
}

EchoResult SocketEcho::echo(const EchoRequest& request, const Canceller* cancel)
{
    return echoUntil(request, cancel ? cancel->fd() : -1);
}

bool SocketEcho::applyTtl(int ttl)
{
    if (ttl == m_ttl) {
        return true;
    }
    // -1 restores the system default; 0 itself would be refused.
    const int value = ttl == 0 ? -1 : ttl;
    if (::setsockopt(m_fd, IPPROTO_IP, IP_TTL, &value, sizeof value) != 0) {
        return false;
    }
    m_ttl = ttl;
    return true;
}

EchoResult SocketEcho::echoUntil(const EchoRequest& request, int wakeFd)
{
    EchoResult result;
    // One look at both: the wake-up, and whether anything from earlier
    // attempts waits to be drained (it mostly does not).
    pollfd before[2] = {{m_fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    if (::poll(before, wakeFd >= 0 ? 2 : 1, 0) > 0) {
        if (wakeFd >= 0 && before[1].revents != 0) {
            result.failure = EchoFailure::Cancelled;
            return result;
        }
        if (before[0].revents != 0) {
            drain();
        }
    }
    if (!applyTtl(request.ttl)) {
        result.failure = EchoFailure::SendFailed;
        result.error = errno;
        return result;
    }

    const std::uint16_t seq = ++m_seq;
    const EchoExpectation expected{request.destination, m_ident, seq};
    const std::vector<std::uint8_t> packet = buildEchoRequest(m_ident, seq, request.dataSize);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = request.destination;

    const auto t0 = EchoClock::now();
    const ssize_t sent = ::sendto(m_fd, packet.data(), packet.size(), 0,
                                  reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (sent != static_cast<ssize_t>(packet.size())) {
        result.failure = EchoFailure::SendFailed;
        result.error = sent < 0 ? errno : EMSGSIZE;
        return result;
    }

    const int timeoutMs = request.timeoutMs > 0 ? request.timeoutMs : 0;
    DeadlinePoll waiter(t0 + std::chrono::milliseconds(timeoutMs));
    for (;;) {
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        const int ready = waiter.wait(fds, wakeFd >= 0 ? 2 : 1);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            result.failure = EchoFailure::SendFailed;
            result.error = errno;
            return result;
        }
        if (wakeFd >= 0 && fds[1].revents != 0) {
            result.failure = EchoFailure::Cancelled;
            return result;
        }
        if (fds[0].revents != 0) {
            EchoClock::time_point t1;
            if (const auto match = receivePending(expected, (fds[0].revents & POLLERR) != 0, t1)) {
                const std::uint32_t rtt = elapsedMs(t0, t1);
                if (rtt > static_cast<std::uint32_t>(timeoutMs)) {
                    result.failure = EchoFailure::TimedOut;
                } else if (match->kind == MatchKind::LocalError) {
                    result.failure = EchoFailure::SendFailed;
                    result.error = match->error;
                } else {
                    result.reply = EchoReply{match->status, rtt, match->address};
                }
                return result;
            }
        }
        // Checked after the read, so a busy socket cannot hold the wait open.
        if (ready == 0 || waiter.passed()) {
            result.failure = EchoFailure::TimedOut;
            return result;
        }
    }
}

// --- datagram socket ---

std::unique_ptr<DatagramEcho> DatagramEcho::open(int* error)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) {
        *error = errno;
        return nullptr;
    }
    // Without it TTL-exceeded and unreachable messages never reach us and
    // every such attempt would look like a time-out.
    const int on = 1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    socklen_t length = sizeof local;
    if (::setsockopt(fd, SOL_IP, IP_RECVERR, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        *error = errno;
        ::close(fd);
        return nullptr;
    }
    *error = 0;
    return std::unique_ptr<DatagramEcho>(new DatagramEcho(fd, ntohs(local.sin_port)));
}

void DatagramEcho::drain()
{
    for (int i = 0; i < kMaxReadsPerWake; ++i) {
        const ssize_t e =
            ::recv(m_fd, m_buffer.data(), m_buffer.size(), MSG_ERRQUEUE | MSG_DONTWAIT);
        const ssize_t n = ::recv(m_fd, m_buffer.data(), m_buffer.size(), MSG_DONTWAIT);
        // A failing plain read that is not EAGAIN only reports (and clears) a
        // pending socket error, so keep going until both queues are empty.
        if (e < 0 && n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;
        }
    }
}

std::optional<Match> DatagramEcho::readErrorQueue(const EchoExpectation& expected,
                                                  EchoClock::time_point& t1, bool& more)
{
    sockaddr_in sentTo{};
    alignas(cmsghdr) char control[512];
    iovec iov{m_buffer.data(), m_buffer.size()};
    msghdr msg{};
    msg.msg_name = &sentTo;
    msg.msg_namelen = sizeof sentTo;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(m_fd, &msg, MSG_ERRQUEUE | MSG_DONTWAIT);
    more = n >= 0;
    if (n < 0) {
        return std::nullopt;
    }
    t1 = EchoClock::now();

    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_IP || c->cmsg_type != IP_RECVERR ||
            c->cmsg_len < CMSG_LEN(sizeof(sock_extended_err))) {
            continue;
        }
        sock_extended_err ee{};
        std::memcpy(&ee, CMSG_DATA(c), sizeof ee);
        ErrorQueueEntry entry;
        entry.origin = ee.ee_origin;
        entry.type = ee.ee_type;
        entry.code = ee.ee_code;
        entry.error = static_cast<int>(ee.ee_errno);
        entry.sentTo = sentTo.sin_addr.s_addr;
        // The offender's address follows the extended error record.
        if (c->cmsg_len >= CMSG_LEN(sizeof ee + sizeof(sockaddr_in))) {
            sockaddr_in offender{};
            std::memcpy(&offender, CMSG_DATA(c) + sizeof ee, sizeof offender);
            if (offender.sin_family == AF_INET) {
                entry.offender = offender.sin_addr.s_addr;
            }
        }
        const Match m = matchDatagramError(
            entry, std::span<const std::uint8_t>(m_buffer.data(), static_cast<std::size_t>(n)),
            expected);
        if (m.completes()) {
            return m;
        }
    }
    return std::nullopt;
}

std::optional<Match> DatagramEcho::receivePending(const EchoExpectation& expected, bool errors,
                                                  EchoClock::time_point& t1)
{
    PendingOutcome outcome;
    for (int i = 0; i < kMaxReadsPerWake && !outcome.settled(); ++i) {
        // An empty error queue raises no POLLERR: most wake-ups bring a reply only.
        bool more = false;
        EchoClock::time_point at;
        if (errors) {
            if (auto m = readErrorQueue(expected, at, more)) {
                outcome.offer(*m, at);
            }
        }
        sockaddr_in from{};
        iovec iov{m_buffer.data(), m_buffer.size()};
        msghdr msg{};
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        const ssize_t n = ::recvmsg(m_fd, &msg, MSG_DONTWAIT);
        if (n >= 0) {
            at = EchoClock::now();
            outcome.offer(matchDatagramReply(std::span<const std::uint8_t>(
                                                 m_buffer.data(), static_cast<std::size_t>(n)),
                                             from.sin_addr.s_addr, expected),
                          at);
        } else if ((errno == EAGAIN || errno == EWOULDBLOCK) && !more) {
            break;
        }
        // Any other failure of the plain read was a pending socket error that
        // the read has now cleared; its details sit in the error queue.
    }
    return outcome.take(t1);
}

// --- raw socket ---

std::unique_ptr<RawEcho> RawEcho::open(int* error)
{
    const int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) {
        *error = errno;
        return nullptr;
    }
    return adopt(fd, error);
}

std::unique_ptr<RawEcho> RawEcho::adopt(int fd, int* error)
{
    // Only replies and the errors that can end an attempt; in particular not
    // our own requests on loopback.
    icmp_filter filter{};
    filter.data = ~((1u << IcmpEchoReply) | (1u << IcmpDestUnreachable) | (1u << IcmpTimeExceeded) |
                    (1u << IcmpParameterProblem));
    if (::setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter) != 0) {
        *error = errno;
        ::close(fd);
        return nullptr;
    }
    const std::uint16_t ident = nextRawIdentifier();
    // Only saves work: matching checks the identifier anyway.
    attachIdentifierFilter(fd, ident);
    *error = 0;
    return std::unique_ptr<RawEcho>(new RawEcho(fd, ident));
}

void RawEcho::drain()
{
    for (int i = 0; i < kMaxReadsPerWake; ++i) {
        const ssize_t n = ::recv(m_fd, m_buffer.data(), m_buffer.size(), MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;
        }
    }
}

std::optional<Match> RawEcho::receivePending(const EchoExpectation& expected, bool,
                                             EchoClock::time_point& t1)
{
    PendingOutcome outcome;
    for (int i = 0; i < kMaxReadsPerWake && !outcome.settled(); ++i) {
        const ssize_t n = ::recv(m_fd, m_buffer.data(), m_buffer.size(), MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                break;
            }
            continue;
        }
        const auto at = EchoClock::now();
        outcome.offer(matchRawPacket(std::span<const std::uint8_t>(m_buffer.data(),
                                                                   static_cast<std::size_t>(n)),
                                     expected),
                      at);
    }
    return outcome.take(t1);
}

// --- a handle that cannot send ---

namespace {

class FailingEcho final : public EchoHandle {
public:
    FailingEcho(EchoPath path, EchoFailure failure, int error)
        : m_path(path), m_failure(failure), m_error(error)
    {
    }
    EchoResult echo(const EchoRequest&, const Canceller*) override
    {
        EchoResult r;
        r.failure = m_failure;
        r.error = m_error;
        return r;
    }
    EchoPath path() const override { return m_path; }

private:
    EchoPath m_path;
    EchoFailure m_failure;
    int m_error;
};

} // namespace

std::unique_ptr<EchoHandle> makeFailingEcho(EchoPath path, EchoFailure failure, int error)
{
    return std::make_unique<FailingEcho>(path, failure, error);
}

} // namespace tarnwick::net
