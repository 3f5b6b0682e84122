#pragma once

#include "platform/net/echo_types.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// Building echo requests and deciding whether a received packet answers one.
// Pure functions on byte arrays, shared by every socket path and the helper.
namespace tarnwick::net {

inline constexpr std::size_t kIcmpHeaderSize = 8;
inline constexpr std::size_t kIpv4MinHeaderSize = 20;
// The largest payload that still fits one IPv4 datagram behind both headers.
inline constexpr std::uint16_t kMaxEchoDataSize = 65535 - 20 - 8;

enum IcmpType : std::uint8_t {
    IcmpEchoReply = 0,
    IcmpDestUnreachable = 3,
    IcmpSourceQuench = 4,
    IcmpRedirect = 5,
    IcmpEchoRequest = 8,
    IcmpTimeExceeded = 11,
    IcmpParameterProblem = 12,
};

// Whether an ICMP message of this type that quotes a request means the
// request failed. Redirects and source quenches only advise the sender; the
// request itself may still be answered.
bool icmpTypeFailsRequest(int type);

// RFC 1071 ones' complement sum, complemented. Over a message that carries a
// correct checksum the result is 0.
std::uint16_t internetChecksum(std::span<const std::uint8_t> bytes);

// An echo request: header with id and seq (network order), a valid checksum,
// then dataSize zero bytes.
std::vector<std::uint8_t> buildEchoRequest(std::uint16_t id, std::uint16_t seq,
                                           std::uint16_t dataSize);

// What the attempt in flight waits for. Addresses in network byte order,
// id and seq in host order.
struct EchoExpectation {
    std::uint32_t destination = 0;
    std::uint16_t id = 0;
    std::uint16_t seq = 0;
};

enum class MatchKind {
    Reply,       // our echo reply: status 0, address = destination
    IcmpError,   // an ICMP error quoting our request: status from type/code
    Advisory,    // a redirect or source quench quoting our request: ignored
    LocalError,  // our own stack refused the request (datagram error queue)
    Truncated,   // too short to tell (or cut off): ignored
    BadChecksum, // ignored
    WrongSource, // right id and seq but from another address: ignored
    Unrelated,   // someone else's traffic, an older attempt, another type
};

struct Match {
    MatchKind kind = MatchKind::Unrelated;
    std::uint32_t status = StatusSuccess;
    std::uint32_t address = 0;
    int error = 0; // errno carried by a LocalError

    bool completes() const
    {
        return kind == MatchKind::Reply || kind == MatchKind::IcmpError ||
               kind == MatchKind::LocalError;
    }
};

// A packet read from a raw ICMP socket: it starts with the IPv4 header.
Match matchRawPacket(std::span<const std::uint8_t> packet, const EchoExpectation& expected);

// A message from a datagram ICMP socket's normal queue: ICMP header onwards
// (the kernel has already checked the checksum and the identifier); from is
// the sender.
Match matchDatagramReply(std::span<const std::uint8_t> icmp, std::uint32_t from,
                         const EchoExpectation& expected);

// One entry of a datagram socket's error queue.
struct ErrorQueueEntry {
    std::uint8_t origin = 0; // SO_EE_ORIGIN_*
    std::uint8_t type = 0;
    std::uint8_t code = 0;
    int error = 0;              // ee_errno
    std::uint32_t offender = 0; // SO_EE_OFFENDER, 0 when absent
    std::uint32_t sentTo = 0;   // msg_name: where the quoted request went
};

// quoted is the message's payload: our own request as the kernel sent it.
Match matchDatagramError(const ErrorQueueEntry& entry, std::span<const std::uint8_t> quoted,
                         const EchoExpectation& expected);

} // namespace tarnwick::net
