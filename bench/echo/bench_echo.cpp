// Round trips of our three echo paths next to iputils ping's, against the
// rig's responder at several reply delays. Each sample pairs one echo of ours
// with one ping run right after it, so both see the same moment of the
// machine. Run it inside the rig: bench/echo/run.sh BUILD_DIR.
//
// Prints, per path and delay, our mean, ping's mean, and the mean and the
// largest absolute difference (ours minus ping's) over the pairs. Ours are
// whole milliseconds, truncated; ping's carry three decimals.

#include "platform/net/echo.h"
#include "platform/net/resolver.h"
#include "rig/rig_support.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace tarnwick::net;
using namespace tarnwick::rig;

namespace {

std::optional<double> pingOnce()
{
    const CommandResult r = runCommand({"ping", "-n", "-c", "1", "-W", "2", kResponder}, 5000);
    const auto at = r.output.find("time=");
    if (r.exitCode != 0 || at == std::string::npos) {
        return std::nullopt;
    }
    return std::strtod(r.output.c_str() + at + 5, nullptr);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s HELPER_PATH (inside tests/rig/rig.sh)\n", argv[0]);
        return 2;
    }
    if (!insideRig()) {
        std::fprintf(stderr, "bench_echo: run me inside tests/rig/rig.sh\n");
        return 2;
    }
    const std::string helper = argv[1];
    const int samples = 100;
    std::printf("%-9s %6s %10s %10s %12s %12s %8s\n", "path", "delay", "ours(ms)", "ping(ms)",
                "mean diff", "max |diff|", "lost");
    for (const EchoPath path : {EchoPath::Datagram, EchoPath::Raw, EchoPath::Helper}) {
        PingGroupRange range(path == EchoPath::Datagram ? "0 2147483647" : "1 0");
        int error = 0;
        auto handle = SystemEchoService::openPath(path, helper, &error);
        if (!handle) {
            std::printf("%-9s cannot open: %s\n", echoPathName(path), errnoText(error).c_str());
            continue;
        }
        for (const int delay : {0, 7, 23, 150}) {
            RigResponder responder("delay:" + std::to_string(delay));
            if (!responder.isReady()) {
                std::fprintf(stderr, "bench_echo: %s\n", responder.error().c_str());
                return 1;
            }
            EchoRequest request;
            request.destination = parseIPv4(kResponder).value_or(0);
            request.timeoutMs = 2000;
            handle->echo(request); // neighbour resolution out of the way
            pingOnce();

            double ours = 0;
            double theirs = 0;
            double diff = 0;
            double largest = 0;
            int pairs = 0;
            int lost = 0;
            for (int i = 0; i < samples; ++i) {
                const EchoResult r = handle->echo(request);
                const auto p = pingOnce();
                if (!r.reply || r.reply->status != StatusSuccess || !p) {
                    ++lost;
                    continue;
                }
                const double d = double(r.reply->roundTripMs) - *p;
                ours += r.reply->roundTripMs;
                theirs += *p;
                diff += d;
                largest = std::max(largest, std::abs(d));
                ++pairs;
            }
            if (pairs == 0) {
                std::printf("%-9s %6d  no pairs\n", echoPathName(path), delay);
                continue;
            }
            std::printf("%-9s %6d %10.3f %10.3f %12.3f %12.3f %8d\n", echoPathName(path), delay,
                        ours / pairs, theirs / pairs, diff / pairs, largest, lost);
            std::fflush(stdout);
        }
    }
    return 0;
}
