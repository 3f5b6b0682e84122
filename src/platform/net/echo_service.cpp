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

namespace {

struct PathChoice {
    std::unique_ptr<EchoHandle> handle;
    bool canSend = true; // false: a stand-in whose every echo fails
};

PathChoice choosePath(const std::string& helperPath)
{
    int error = 0;
    if (auto handle = DatagramEcho::open(&error)) {
        return {std::move(handle)};
    }
    if (error != EACCES && error != EPROTONOSUPPORT && error != EAFNOSUPPORT) {
        // Out of descriptors or memory: this attempt fails, the next may not.
        return {makeFailingEcho(EchoPath::Datagram, EchoFailure::SendFailed, error), false};
    }
    if (auto handle = RawEcho::open(&error)) {
        return {std::move(handle)};
    }
    if (error != EPERM && error != EACCES) {
        return {makeFailingEcho(EchoPath::Raw, EchoFailure::SendFailed, error), false};
    }
    if (auto handle = openHelperEcho(helperPath, &error)) {
        return {std::move(handle)};
    }
    return {makeFailingEcho(EchoPath::Unavailable, EchoFailure::NotPermitted, EPERM), false};
}

// The handle a worker keeps for its whole life: the path found when it was
// opened, or, while none could send, the path found afresh at each echo (the
// administrator may open the ICMP group range or grant the helper its
// capability while we run).
class SystemEcho final : public EchoHandle {
public:
    explicit SystemEcho(std::string helperPath) : m_helperPath(std::move(helperPath))
    {
        m_choice = choosePath(m_helperPath);
    }

    EchoResult echo(const EchoRequest& request, const Canceller* cancel) override
    {
        if (!m_choice.canSend && !m_justChosen) {
            m_choice = choosePath(m_helperPath);
        }
        m_justChosen = false;
        return m_choice.handle->echo(request, cancel);
    }
    EchoPath path() const override { return m_choice.handle->path(); }

private:
    const std::string m_helperPath;
    PathChoice m_choice;
    bool m_justChosen = true;
};

} // namespace

std::unique_ptr<EchoHandle> SystemEchoService::open()
{
    return std::make_unique<SystemEcho>(m_helperPath);
}

} // namespace tarnwick::net
