// tarnwick-rig-echo-client HELPER MODE DESTINATION COUNT TIMEOUT_MS
//
// A small echo client for tests that must run as an ordinary user inside the
// rig (under setpriv). MODE "auto" opens handles the way the program does
// (SystemEchoService::open); "helper" insists on the helper. Prints:
//   datagram-error=E raw-error=E      (errno of opening each socket path here)
//   path NAME
//   echo failure=F status=S rtt=MS address=A.B.C.D error=E   (COUNT lines)
// Exits 3 when MODE is "helper" and the helper cannot be started.

#include "platform/net/echo.h"
#include "platform/net/resolver.h"

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace tarnwick::net;

int main(int argc, char** argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s HELPER auto|helper DESTINATION COUNT TIMEOUT_MS\n",
                     argv[0]);
        return 2;
    }
    const std::string helper = argv[1];
    const std::string mode = argv[2];
    const auto destination = parseIPv4(argv[3]);
    const int count = std::atoi(argv[4]);
    const int timeoutMs = std::atoi(argv[5]);
    if (!destination || (mode != "auto" && mode != "helper")) {
        return 2;
    }

    int datagramError = 0;
    int rawError = 0;
    SystemEchoService::openPath(EchoPath::Datagram, helper, &datagramError);
    SystemEchoService::openPath(EchoPath::Raw, helper, &rawError);
    std::printf("datagram-error=%d raw-error=%d\n", datagramError, rawError);

    std::unique_ptr<EchoHandle> handle;
    if (mode == "auto") {
        handle = SystemEchoService(helper).open();
    } else {
        int error = 0;
        handle = SystemEchoService::openPath(EchoPath::Helper, helper, &error);
        if (!handle) {
            std::printf("path none error=%d\n", error);
            return 3;
        }
    }
    std::printf("path %s\n", echoPathName(handle->path()));
    for (int i = 0; i < count; ++i) {
        EchoRequest request;
        request.destination = *destination;
        request.timeoutMs = timeoutMs;
        const EchoResult r = handle->echo(request);
        std::printf("echo failure=%d status=%u rtt=%u address=%s error=%d\n",
                    static_cast<int>(r.failure), r.reply ? r.reply->status : 0u,
                    r.reply ? r.reply->roundTripMs : 0u,
                    r.reply ? formatIPv4(r.reply->address).c_str() : "-", r.error);
    }
    return 0;
}
