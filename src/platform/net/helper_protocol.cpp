#include "platform/net/helper_protocol.h"

#include <cstring>

#include <arpa/inet.h>

namespace tarnwick::net {

namespace {

void put32(std::uint8_t* at, std::uint32_t v)
{
    at[0] = static_cast<std::uint8_t>(v >> 24);
    at[1] = static_cast<std::uint8_t>(v >> 16);
    at[2] = static_cast<std::uint8_t>(v >> 8);
    at[3] = static_cast<std::uint8_t>(v);
}

void put16(std::uint8_t* at, std::uint16_t v)
{
    at[0] = static_cast<std::uint8_t>(v >> 8);
    at[1] = static_cast<std::uint8_t>(v);
}

std::uint32_t get32(const std::uint8_t* at)
{
    return (std::uint32_t{at[0]} << 24) | (std::uint32_t{at[1]} << 16) |
           (std::uint32_t{at[2]} << 8) | std::uint32_t{at[3]};
}

std::uint16_t get16(const std::uint8_t* at)
{
    return static_cast<std::uint16_t>((at[0] << 8) | at[1]);
}

} // namespace

bool isForbiddenHelperDestination(std::uint32_t address)
{
    const std::uint32_t a = ntohl(address);
    const std::uint32_t first = a >> 24;
    // "This network", multicast and the reserved block with the limited
    // broadcast address at its end.
    return first == 0 || first >= 224;
}

HelperRequestFrame encodeHelperRequest(const HelperRequest& request)
{
    HelperRequestFrame f{};
    put32(&f[0], kHelperRequestMagic);
    put16(&f[4], static_cast<std::uint16_t>(kHelperRequestSize));
    put16(&f[6], request.ttl);
    std::memcpy(&f[8], &request.destination, 4);
    put16(&f[12], request.dataSize);
    put16(&f[14], static_cast<std::uint16_t>(request.kind));
    put32(&f[16], request.timeoutMs);
    put32(&f[20], request.id);
    return f;
}

RequestCheck decodeHelperRequest(std::span<const std::uint8_t, kHelperRequestSize> frame,
                                 HelperRequest& out)
{
    const std::uint8_t* f = frame.data();
    if (get32(f) != kHelperRequestMagic || get16(f + 4) != kHelperRequestSize) {
        return RequestCheck::BadFrame;
    }
    // A refusal answers with the id too, or its client would not know it.
    out.id = get32(f + 20);
    HelperRequest r;
    r.ttl = get16(f + 6);
    std::memcpy(&r.destination, f + 8, 4);
    r.dataSize = get16(f + 12);
    r.timeoutMs = get32(f + 16);
    r.id = get32(f + 20);
    const std::uint16_t kind = get16(f + 14);
    if (kind == static_cast<std::uint16_t>(HelperRequestKind::Abandon)) {
        // Nothing is sent for it, so nothing else in it matters.
        out = HelperRequest{};
        out.kind = HelperRequestKind::Abandon;
        out.id = r.id;
        return RequestCheck::Ok;
    }
    if (kind != static_cast<std::uint16_t>(HelperRequestKind::Echo)) {
        return RequestCheck::BadKind;
    }
    if (r.ttl > 255) {
        return RequestCheck::BadTtl;
    }
    if (isForbiddenHelperDestination(r.destination)) {
        return RequestCheck::BadDestination;
    }
    if (r.dataSize > kHelperMaxDataSize) {
        return RequestCheck::BadDataSize;
    }
    if (r.timeoutMs == 0 || r.timeoutMs > kHelperMaxTimeoutMs) {
        return RequestCheck::BadTimeout;
    }
    out = r;
    return RequestCheck::Ok;
}

HelperResponseFrame encodeHelperResponse(const HelperResponse& response)
{
    HelperResponseFrame f{};
    put32(&f[0], kHelperResponseMagic);
    put32(&f[4], static_cast<std::uint32_t>(response.outcome));
    put32(&f[8], response.status);
    put32(&f[12], response.roundTripMs);
    std::memcpy(&f[16], &response.address, 4);
    put32(&f[20], response.error);
    put32(&f[24], response.id);
    put32(&f[28], response.heldUs);
    return f;
}

std::optional<HelperResponse>
decodeHelperResponse(std::span<const std::uint8_t, kHelperResponseSize> frame)
{
    const std::uint8_t* f = frame.data();
    if (get32(f) != kHelperResponseMagic) {
        return std::nullopt;
    }
    const std::uint32_t outcome = get32(f + 4);
    if (outcome < static_cast<std::uint32_t>(HelperOutcome::Ready) ||
        outcome > static_cast<std::uint32_t>(HelperOutcome::Abandoned)) {
        return std::nullopt;
    }
    HelperResponse r;
    r.outcome = static_cast<HelperOutcome>(outcome);
    r.status = get32(f + 8);
    r.roundTripMs = get32(f + 12);
    std::memcpy(&r.address, f + 16, 4);
    r.error = get32(f + 20);
    r.id = get32(f + 24);
    r.heldUs = get32(f + 28);
    return r;
}

} // namespace tarnwick::net
