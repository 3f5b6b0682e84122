// The helper's stream read as what the other side might send: every 24 bytes
// as a request (what the helper reads), every 32 as a response (what the
// client reads). A request is refused as out of step, or its id is read, and
// one that is accepted is within every bound and encodes back to the same
// bytes; a response is dropped or encodes back to its bytes.

#include "fuzz/fuzz_check.h"
#include "platform/net/helper_protocol.h"

#include <algorithm>
#include <cstring>

using namespace tarnwick::net;

namespace {

std::uint32_t big32(const std::uint8_t* at)
{
    return (std::uint32_t{at[0]} << 24) | (std::uint32_t{at[1]} << 16) |
           (std::uint32_t{at[2]} << 8) | std::uint32_t{at[3]};
}

void request(const HelperRequestFrame& frame)
{
    HelperRequest out;
    out.id = ~big32(&frame[20]);
    const RequestCheck check = decodeHelperRequest(frame, out);
    const bool inStep =
        big32(&frame[0]) == kHelperRequestMagic && frame[4] == 0 && frame[5] == kHelperRequestSize;
    FUZZ_REQUIRE((check == RequestCheck::BadFrame) == !inStep);
    if (check == RequestCheck::BadFrame)
        return;
    // Every answer, a refusal too, carries the id of the request it answers.
    FUZZ_REQUIRE(out.id == big32(&frame[20]));
    if (check != RequestCheck::Ok)
        return;
    if (out.kind == HelperRequestKind::Abandon) {
        FUZZ_REQUIRE(out.destination == 0 && out.timeoutMs == 0);
        return;
    }
    FUZZ_REQUIRE(out.kind == HelperRequestKind::Echo);
    FUZZ_REQUIRE(out.ttl <= 255);
    FUZZ_REQUIRE(!isForbiddenHelperDestination(out.destination));
    FUZZ_REQUIRE(out.dataSize <= kHelperMaxDataSize);
    FUZZ_REQUIRE(out.timeoutMs >= 1 && out.timeoutMs <= kHelperMaxTimeoutMs);
    FUZZ_REQUIRE(encodeHelperRequest(out) == frame);
}

void response(const HelperResponseFrame& frame)
{
    const auto decoded = decodeHelperResponse(frame);
    if (!decoded)
        return;
    FUZZ_REQUIRE(big32(&frame[0]) == kHelperResponseMagic);
    FUZZ_REQUIRE(encodeHelperResponse(*decoded) == frame);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    for (std::size_t at = 0; at + kHelperRequestSize <= size; at += kHelperRequestSize) {
        HelperRequestFrame frame{};
        std::copy_n(data + at, frame.size(), frame.begin());
        request(frame);
    }
    for (std::size_t at = 0; at + kHelperResponseSize <= size; at += kHelperResponseSize) {
        HelperResponseFrame frame{};
        std::copy_n(data + at, frame.size(), frame.begin());
        response(frame);
    }
    return 0;
}
