#include "platform/net/echo.h"

#include "platform/net/echo_backends.h"

#include <cerrno>

namespace tarnwick::net {

const char* echoPathName(EchoPath path)
{
    switch (path) {
    case EchoPath::Datagram:
        return "datagram";
    case EchoPath::Raw:
        return "raw";
    case EchoPath::Helper:
        return "helper";
    case EchoPath::Unavailable:
        break;
    }
    return "unavailable";
}

SystemEchoService::SystemEchoService(std::string helperPath) : m_helperPath(std::move(helperPath))
{
}

std::unique_ptr<EchoHandle> SystemEchoService::openPath(EchoPath path,
                                                        const std::string& helperPath, int* error)
{
    int local = 0;
    int* err = error ? error : &local;
    switch (path) {
    case EchoPath::Datagram:
        return DatagramEcho::open(err);
    case EchoPath::Raw:
        return RawEcho::open(err);
    case EchoPath::Helper:
        return openHelperEcho(helperPath, err);
    case EchoPath::Unavailable:
        *err = 0;
        return makeFailingEcho(EchoPath::Unavailable, EchoFailure::NotPermitted, EPERM);
    }
    *err = EINVAL;
    return nullptr;
}

std::unique_ptr<EchoHandle> SystemEchoService::open()
{
    // Decided afresh for every handle: the administrator may open the ICMP
    // group range or grant the helper its capability while we run.
    int error = 0;
    if (auto handle = DatagramEcho::open(&error)) {
        return handle;
    }
    if (error != EACCES && error != EPROTONOSUPPORT && error != EAFNOSUPPORT) {
        // Out of descriptors or memory: this attempt fails, the next may not.
        return makeFailingEcho(EchoPath::Datagram, EchoFailure::SendFailed, error);
    }
    if (auto handle = RawEcho::open(&error)) {
        return handle;
    }
    if (error != EPERM && error != EACCES) {
        return makeFailingEcho(EchoPath::Raw, EchoFailure::SendFailed, error);
    }
    if (auto handle = openHelperEcho(m_helperPath, &error)) {
        return handle;
    }
    return makeFailingEcho(EchoPath::Unavailable, EchoFailure::NotPermitted, EPERM);
}

} // namespace tarnwick::net
