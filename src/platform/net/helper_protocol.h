#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

// The fixed-size frames exchanged with the echo helper over its stdin/stdout.
// All numbers are big-endian on the wire; addresses travel as their four
// network-order bytes.
//
// Request (24 bytes):  magic "TWQ2" | frame size u16 = 24 | ttl u16 (0..255)
//                      | destination 4 bytes | data size u16 | kind u16
//                      | time-out ms u32 | request id u32
// Response (32 bytes): magic "TWR2" | outcome u32 | status u32 | round trip ms u32
//                      | address 4 bytes | errno u32 | request id u32 | held us u32
//
// The helper answers Ready (or Unavailable, then exits) once at start, then one
// response per echo request, carrying that request's id. An abandon frame (or
// any frame) arriving while a request waits for its reply ends that wait,
// answered Abandoned; an abandon frame itself is never answered. So a client
// that stops waiting keeps its helper, and tells a late answer by its id.
// "held" is how long the helper kept the request before sending it (its
// pacing), which is no part of the round trip.
//
// A frame with a wrong magic or size, or one cut short, ends the helper
// without an answer: the stream can no longer be trusted. Out-of-range fields
// are answered with Rejected, carrying the request's id, and nothing is sent.
namespace tarnwick::net {

inline constexpr std::uint32_t kHelperRequestMagic = 0x54575132;  // "TWQ2"
inline constexpr std::uint32_t kHelperResponseMagic = 0x54575232; // "TWR2"
inline constexpr std::size_t kHelperRequestSize = 24;
inline constexpr std::size_t kHelperResponseSize = 32;
inline constexpr std::uint32_t kHelperMaxTimeoutMs = 60000;
inline constexpr std::uint16_t kHelperMaxDataSize = 65507;
// The helper never sends faster than this, whatever its client asks.
inline constexpr int kHelperMinIntervalMs = 10;

enum class HelperOutcome : std::uint32_t {
    Ready = 1,       // first frame: the helper holds its raw socket
    Unavailable = 2, // first frame: it could not open one (errno given); it exits
    Reply = 3,       // status, round trip and address are valid
    TimedOut = 4,
    SendFailed = 5, // errno given
    Rejected = 6,   // the request was refused, nothing was sent
    Abandoned = 7,  // its wait was ended by the client's next frame
};

enum class HelperRequestKind : std::uint16_t {
    Echo = 0,
    Abandon = 1, // stop waiting for request id; only the id is read
};

struct HelperRequest {
    HelperRequestKind kind = HelperRequestKind::Echo;
    std::uint32_t id = 0;
    std::uint32_t destination = 0; // network byte order
    std::uint16_t dataSize = 0;
    std::uint16_t ttl = 0;
    std::uint32_t timeoutMs = 0;
};

struct HelperResponse {
    HelperOutcome outcome = HelperOutcome::Rejected;
    std::uint32_t status = 0;
    std::uint32_t roundTripMs = 0;
    std::uint32_t address = 0; // network byte order
    std::uint32_t error = 0;
    std::uint32_t id = 0;     // the request answered; 0 for the first frame
    std::uint32_t heldUs = 0; // pacing before the send
};

enum class RequestCheck {
    Ok,
    BadFrame, // wrong magic or frame size: the stream is out of step
    BadTtl,
    BadDestination, // 0.0.0.0/8, multicast, reserved or broadcast
    BadDataSize,
    BadTimeout, // 0 or above kHelperMaxTimeoutMs
    BadKind,
};

using HelperRequestFrame = std::array<std::uint8_t, kHelperRequestSize>;
using HelperResponseFrame = std::array<std::uint8_t, kHelperResponseSize>;

HelperRequestFrame encodeHelperRequest(const HelperRequest& request);
// Decodes and validates one frame; out is filled only when Ok, but for its
// id, which is read from every frame in step (all but BadFrame).
RequestCheck decodeHelperRequest(std::span<const std::uint8_t, kHelperRequestSize> frame,
                                 HelperRequest& out);

HelperResponseFrame encodeHelperResponse(const HelperResponse& response);
// Nothing when the magic or the outcome is not one of ours.
std::optional<HelperResponse>
decodeHelperResponse(std::span<const std::uint8_t, kHelperResponseSize> frame);

// Destinations the helper refuses outright (network byte order).
bool isForbiddenHelperDestination(std::uint32_t address);

} // namespace tarnwick::net
