#pragma once

#include "platform/net/echo_types.h"

#include <memory>
#include <string>

namespace tarnwick::net {

class Canceller;

enum class EchoPath {
    Datagram,    // unprivileged ICMP datagram socket with IP_RECVERR
    Raw,         // in-process raw socket (the process already has CAP_NET_RAW)
    Helper,      // raw socket inside our helper program, the only file with cap_net_raw
    Unavailable, // nothing can send echo requests: every echo fails with NotPermitted
};

const char* echoPathName(EchoPath path);

// One echo handle, kept by one user (a ping worker, a trace) for all its
// echoes and used from one thread only. Late, duplicate and stale replies
// never complete a later echo.
class EchoHandle {
public:
    virtual ~EchoHandle() = default;
    virtual EchoResult echo(const EchoRequest& request, const Canceller* cancel = nullptr) = 0;
    virtual EchoPath path() const = 0;
};

// Opens echo handles. Implementations are thread-safe; open() never returns null.
class EchoService {
public:
    virtual ~EchoService() = default;
    virtual std::unique_ptr<EchoHandle> open() = 0;
};

// The real thing: datagram socket where the system allows it, else an
// in-process raw socket when the process may open one, else the helper
// program at helperPath (one helper process per handle), else a handle whose
// echoes fail with NotPermitted until one of the others becomes possible.
class SystemEchoService : public EchoService {
public:
    explicit SystemEchoService(std::string helperPath);
    std::unique_ptr<EchoHandle> open() override;
    const std::string& helperPath() const { return m_helperPath; }

    // Opens a handle on exactly one path; null (with errno-style *error) when
    // that path is not usable here. For tests and benchmarks.
    static std::unique_ptr<EchoHandle> openPath(EchoPath path, const std::string& helperPath,
                                                int* error = nullptr);

private:
    std::string m_helperPath;
};

} // namespace tarnwick::net
