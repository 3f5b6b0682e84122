#pragma once

#include <cstdint>
#include <optional>

namespace tarnwick::net {

// Reply statuses in the numbering the monitoring and trace code works with.
// 0 is success; 11002/11003 are the two "destination unreachable" statuses the
// monitor singles out; 11013 is a time-to-live exceeded in transit.
enum EchoStatus : std::uint32_t {
    StatusSuccess = 0,
    StatusDestNetUnreachable = 11002,
    StatusDestHostUnreachable = 11003,
    StatusDestProtocolUnreachable = 11004,
    StatusDestPortUnreachable = 11005,
    StatusPacketTooBig = 11009,
    StatusBadRoute = 11012,
    StatusTtlExpiredTransit = 11013,
    StatusTtlExpiredReassembly = 11014,
    StatusParameterProblem = 11015,
    StatusSourceQuench = 11016,
    StatusGeneralFailure = 11050,
};

// Maps an ICMP error's type and code to the status above.
std::uint32_t statusForIcmp(int type, int code);

struct EchoRequest {
    std::uint32_t destination = 0; // IPv4 address, network byte order
    std::uint16_t dataSize = 32;   // zero bytes of payload after the 8-byte header
    int ttl = 0;                   // 0: the system's default time-to-live
    int timeoutMs = 2000;
};

struct EchoReply {
    std::uint32_t status = StatusSuccess;
    std::uint32_t roundTripMs = 0; // whole milliseconds, truncated
    std::uint32_t address = 0;     // the answering node, network byte order
};

enum class EchoFailure {
    None,         // a reply (or ICMP error record) arrived
    TimedOut,     // nothing matching within the time-out
    SendFailed,   // the request could not be sent (no route, ...)
    Cancelled,    // the wait was cut short from another thread
    NotPermitted, // no way to send echo requests at all on this system
};

struct EchoResult {
    std::optional<EchoReply> reply;
    EchoFailure failure = EchoFailure::None;
    int error = 0; // errno behind a SendFailed or NotPermitted, for diagnostics
    // Time the call spent before the request went out that belongs to no
    // round trip (the helper's pacing, starting a helper), in microseconds.
    // Whoever times the whole call takes it off.
    std::uint32_t heldUs = 0;
};

} // namespace tarnwick::net
