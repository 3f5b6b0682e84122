#pragma once

#include "platform/net/echo.h"
#include "platform/net/packet.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The concrete echo handles behind SystemEchoService. The helper program links
// RawEcho too, so that both raw paths share one implementation.
namespace tarnwick::net {

using EchoClock = std::chrono::steady_clock;

// Whole milliseconds, truncated: anything under 1 ms reads 0.
std::uint32_t elapsedMs(EchoClock::time_point t0, EchoClock::time_point t1);

// What one pass over a socket's queues brings for the attempt in flight. An
// echo reply wins over an error quoting the same request found in the same
// pass, whichever was read first: the host did answer. Otherwise the first
// error counts. The time is the one taken after the winning read.
class PendingOutcome {
public:
    void offer(const Match& m, EchoClock::time_point at)
    {
        if (!m.completes() || settled()) {
            return;
        }
        if (!m_best || m.kind == MatchKind::Reply) {
            m_best = m;
            m_at = at;
        }
    }
    // Nothing later in the pass can change the outcome.
    bool settled() const { return m_best && m_best->kind == MatchKind::Reply; }
    std::optional<Match> take(EchoClock::time_point& t1) const
    {
        if (m_best) {
            t1 = m_at;
        }
        return m_best;
    }

private:
    std::optional<Match> m_best;
    EchoClock::time_point m_at{};
};

// The attempt loop shared by the datagram and the raw socket: drain what is
// queued, set the TTL, send, then wait for a packet that matches the attempt.
class SocketEcho : public EchoHandle {
public:
    ~SocketEcho() override;
    SocketEcho(const SocketEcho&) = delete;
    SocketEcho& operator=(const SocketEcho&) = delete;

    EchoResult echo(const EchoRequest& request, const Canceller* cancel = nullptr) override;
    // As echo(), but any event on wakeFd (readable, hang-up, error) ends the
    // wait as Cancelled; -1 for none.
    EchoResult echoUntil(const EchoRequest& request, int wakeFd);

    std::uint16_t identifier() const { return m_ident; }

protected:
    SocketEcho(int fd, std::uint16_t ident);

    // Throws away whatever is queued from earlier attempts.
    virtual void drain() = 0;
    // Reads everything queued now; `errors` says whether poll reported an
    // error (POLLERR) as well. Returns what completes the attempt (see
    // PendingOutcome), with t1 taken right after the read that brought it.
    virtual std::optional<Match> receivePending(const EchoExpectation& expected, bool errors,
                                                EchoClock::time_point& t1) = 0;

    int m_fd;
    std::vector<std::uint8_t> m_buffer;

private:
    bool applyTtl(int ttl);

    std::uint16_t m_ident;
    std::uint16_t m_seq;
    int m_ttl = 0;
};

// Unprivileged ICMP datagram socket: the kernel picks the identifier and
// fills in the checksum; errors come through the error queue (IP_RECVERR).
class DatagramEcho final : public SocketEcho {
public:
    static std::unique_ptr<DatagramEcho> open(int* error);
    EchoPath path() const override { return EchoPath::Datagram; }

private:
    DatagramEcho(int fd, std::uint16_t ident) : SocketEcho(fd, ident) {}
    void drain() override;
    std::optional<Match> receivePending(const EchoExpectation& expected, bool errors,
                                        EchoClock::time_point& t1) override;
    std::optional<Match> readErrorQueue(const EchoExpectation& expected, EchoClock::time_point& t1,
                                        bool& more);
};

// Raw ICMP socket: our own identifier, checksum and filtering.
class RawEcho final : public SocketEcho {
public:
    static std::unique_ptr<RawEcho> open(int* error);
    // Takes over a raw socket opened elsewhere (the helper opens it before it
    // drops its capabilities).
    static std::unique_ptr<RawEcho> adopt(int fd, int* error);
    EchoPath path() const override { return m_path; }
    void reportAs(EchoPath path) { m_path = path; }

private:
    RawEcho(int fd, std::uint16_t ident) : SocketEcho(fd, ident) {}
    void drain() override;
    std::optional<Match> receivePending(const EchoExpectation& expected, bool errors,
                                        EchoClock::time_point& t1) override;

    EchoPath m_path = EchoPath::Raw;
};

// Identifiers for raw handles: a process-wide counter seeded at random, never 0.
std::uint16_t nextRawIdentifier();

// Spawns the helper program and waits until it has its socket; null with
// *error set when it is missing or cannot open one. The handle keeps that
// helper for all its echoes and starts a new one only when it has died.
std::unique_ptr<EchoHandle> openHelperEcho(const std::string& helperPath, int* error);

// Helper processes this process has started so far (tests and benchmarks).
std::uint64_t helperProcessesStarted();

// A handle whose every echo fails at once the same way.
std::unique_ptr<EchoHandle> makeFailingEcho(EchoPath path, EchoFailure failure, int error);

} // namespace tarnwick::net
