#pragma once

#include "rig/rig_hosts.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

// Test-side helpers for the private network built by tests/rig/rig.sh.
// Plain C++ (no Qt), so benchmarks and small test programs can use them too.
namespace tarnwick::rig {

// True only inside the rig: the environment says so and the client's rig
// interfaces exist. Tests that send packets must check this first, so that a
// test binary started by hand never probes a real network.
bool insideRig();

// A directory every user can reach, on a tmpfs private to the rig.
std::string scratchDir();

struct CommandResult {
    int exitCode = -1;  // -1: could not start, was killed or timed out
    std::string output; // stdout and stderr together
};

// Runs argv (looked up in PATH) and collects its output.
CommandResult runCommand(const std::vector<std::string>& argv, int timeoutMs = 30000,
                         const std::string& input = {});
// The same inside one of the rig's peer namespaces (rig_hosts.h kNs*).
CommandResult runInPeer(const std::string& ns, const std::vector<std::string>& argv,
                        int timeoutMs = 30000);

// net.ipv4.ping_group_range of the client namespace, set for as long as the
// object lives. "0 2147483647" lets everyone open ICMP datagram sockets;
// "1 0" (the rig's default) lets no one.
class PingGroupRange {
public:
    explicit PingGroupRange(const std::string& range);
    ~PingGroupRange();
    PingGroupRange(const PingGroupRange&) = delete;
    PingGroupRange& operator=(const PingGroupRange&) = delete;
    bool ok() const { return m_ok; }

private:
    std::string m_previous;
    bool m_ok = false;
};
std::string pingGroupRange();

// Puts a hosts file with the given content over /etc/hosts for as long as the
// object lives (a bind mount in the rig's own mount namespace).
class HostsFileOverride {
public:
    explicit HostsFileOverride(const std::string& content);
    ~HostsFileOverride();
    HostsFileOverride(const HostsFileOverride&) = delete;
    HostsFileOverride& operator=(const HostsFileOverride&) = delete;
    bool ok() const { return m_ok; }

private:
    std::string m_path;
    bool m_ok = false;
};

// ICMP echo requests this network namespace has sent so far (Icmp OutEchos of
// /proc/net/snmp); counts raw and datagram sockets alike.
std::uint64_t icmpEchoRequestsSent();

struct ResponderRequest {
    unsigned long index = 0;
    std::uint16_t id = 0;
    std::uint16_t seq = 0;
    std::string source;
    std::string destination;
    std::size_t icmpLength = 0; // header and data of the request
    bool zeroData = false;      // all data bytes zero
    std::string action;
};

// Our userspace responder on the rig's responder host (198.18.10.2), running
// a plan of per-request actions; see rig_responder.cpp for the plan's words.
// The constructor returns once the responder is ready to answer; the
// destructor stops it.
class RigResponder {
public:
    explicit RigResponder(const std::string& plan, int readyTimeoutMs = 5000);
    ~RigResponder();
    RigResponder(const RigResponder&) = delete;
    RigResponder& operator=(const RigResponder&) = delete;

    bool isReady() const;
    std::string error() const;

    std::size_t requestCount() const;
    std::vector<ResponderRequest> requests() const;
    // Waits until at least count requests have arrived; false on time-out.
    // (A request is logged before it is answered, but the log may be read
    // after the answer: wait for it rather than read the count at once.)
    bool waitForRequests(std::size_t count, int timeoutMs) const;
    // Delayed actions ("delay:MS", "ACTION@MS") carried out so far; once
    // counted, their packets have been delivered to the client's sockets.
    std::size_t delayedActionsDone() const;
    bool waitForDelayedActions(std::size_t count, int timeoutMs) const;
    void stop();
    // The responder's process, for tests that schedule it (it runs exec'd
    // in place of "ip netns exec").
    pid_t pid() const { return m_pid; }

private:
    void readLines();

    pid_t m_pid = -1;
    int m_input = -1;
    int m_output = -1;
    std::thread m_reader;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    bool m_ready = false;
    bool m_ended = false;
    std::string m_error;
    std::vector<ResponderRequest> m_requests;
    std::size_t m_delayedDone = 0;
};

} // namespace tarnwick::rig
