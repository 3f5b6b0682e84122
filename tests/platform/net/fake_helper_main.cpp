// A stand-in for the echo helper that sends nothing: it says Ready, then
// answers every echo request with a reply whose round trip is the request's
// data size in milliseconds (65535: the largest figure the frame holds), so
// that a test chooses what a replaced or broken helper claims.

#include "platform/net/helper_protocol.h"

#include <cstring>

#include <unistd.h>

using namespace tarnwick::net;

namespace {

bool readAll(std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::read(STDIN_FILENO, data, size);
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool answer(const HelperResponse& response)
{
    const HelperResponseFrame frame = encodeHelperResponse(response);
    return ::write(STDOUT_FILENO, frame.data(), frame.size()) == static_cast<ssize_t>(frame.size());
}

} // namespace

int main()
{
    HelperResponse ready;
    ready.outcome = HelperOutcome::Ready;
    if (!answer(ready))
        return 1;
    // Read by hand: whatever the real helper would refuse is answered too.
    const auto field = [](const HelperRequestFrame& f, std::size_t at, std::size_t bytes) {
        std::uint32_t v = 0;
        for (std::size_t i = 0; i < bytes; ++i)
            v = (v << 8) | f[at + i];
        return v;
    };
    HelperRequestFrame frame{};
    while (readAll(frame.data(), frame.size())) {
        if (field(frame, 14, 2) == static_cast<std::uint32_t>(HelperRequestKind::Abandon))
            continue;
        const std::uint32_t dataSize = field(frame, 12, 2);
        HelperResponse r;
        r.outcome = HelperOutcome::Reply;
        r.id = field(frame, 20, 4);
        std::memcpy(&r.address, &frame[8], sizeof r.address);
        r.roundTripMs = dataSize == 0xffff ? 0xffffffffu : dataSize;
        if (!answer(r))
            return 1;
    }
    return 0;
}
