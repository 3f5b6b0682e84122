#pragma once

// Test doubles for the echo service and the resolver: hosts and their
// behaviour are set from the test, and every echo is counted.

#include "platform/net/canceller.h"
#include "platform/net/echo.h"
#include "platform/net/resolver.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace tarnwick::test {

struct FakeBehaviour {
    enum Kind { Reply, Status, TimeOut, NotPermitted } kind = Reply;
    std::uint32_t roundTripMs = 0;
    std::uint32_t status = 0;
    int delayMs = 0; // how long the echo takes (Reply/Status); TimeOut waits the time-out
};

class FakeEchoService : public net::EchoService {
public:
    // Hosts resolve to 10.0.0.<n> in the order they are added.
    void addHost(const std::string& name, FakeBehaviour behaviour)
    {
        std::lock_guard lock(m_mutex);
        const std::uint32_t addr =
            htonlLocal(0x0A000000u + static_cast<std::uint32_t>(m_hosts.size() + 1));
        m_hosts[name] = addr;
        m_behaviour[addr] = behaviour;
    }
    void setBehaviour(const std::string& name, FakeBehaviour behaviour)
    {
        std::lock_guard lock(m_mutex);
        m_behaviour[m_hosts.at(name)] = behaviour;
    }

    net::LookupResult resolve(const std::string& host, const net::Canceller*)
    {
        std::lock_guard lock(m_mutex);
        ++m_lookups;
        net::LookupResult result;
        const auto it = m_hosts.find(host);
        if (it != m_hosts.end())
            result.address = it->second;
        else
            result.errorText = "Unknown host";
        return result;
    }

    std::unique_ptr<net::EchoHandle> open() override { return std::make_unique<Handle>(*this); }

    int echoCount(const std::string& host)
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_hosts.find(host);
        return it == m_hosts.end() ? 0 : m_echoes[it->second];
    }
    int totalEchoes()
    {
        std::lock_guard lock(m_mutex);
        int n = 0;
        for (const auto& [addr, count] : m_echoes)
            n += count;
        return n;
    }
    int echoesInFlight() const { return m_inFlight.load(); }
    int cancelledEchoes() const { return m_cancelled.load(); }
    int lookups()
    {
        std::lock_guard lock(m_mutex);
        return m_lookups;
    }

private:
    static std::uint32_t htonlLocal(std::uint32_t v)
    {
        return ((v & 0xFFu) << 24) | ((v & 0xFF00u) << 8) | ((v >> 8) & 0xFF00u) | (v >> 24);
    }

    class Handle : public net::EchoHandle {
    public:
        explicit Handle(FakeEchoService& owner) : m_owner(owner) {}
        net::EchoResult echo(const net::EchoRequest& request, const net::Canceller* cancel) override
        {
            FakeBehaviour b;
            {
                std::lock_guard lock(m_owner.m_mutex);
                ++m_owner.m_echoes[request.destination];
                b = m_owner.m_behaviour[request.destination];
            }
            net::EchoResult result;
            if (b.kind == FakeBehaviour::NotPermitted) {
                result.failure = net::EchoFailure::NotPermitted;
                return result;
            }
            const int wait = b.kind == FakeBehaviour::TimeOut ? request.timeoutMs : b.delayMs;
            ++m_owner.m_inFlight;
            const bool cancelled = wait > 0 && cancel && cancel->waitFor(wait);
            if (!cancelled && wait > 0 && !cancel)
                std::this_thread::sleep_for(std::chrono::milliseconds(wait));
            --m_owner.m_inFlight;
            if (cancelled) {
                ++m_owner.m_cancelled;
                result.failure = net::EchoFailure::Cancelled;
                return result;
            }
            if (b.kind == FakeBehaviour::TimeOut) {
                result.failure = net::EchoFailure::TimedOut;
                return result;
            }
            net::EchoReply reply;
            reply.status = b.kind == FakeBehaviour::Status ? b.status : 0;
            reply.roundTripMs = b.roundTripMs;
            reply.address = request.destination;
            result.reply = reply;
            return result;
        }
        net::EchoPath path() const override { return net::EchoPath::Datagram; }

    private:
        FakeEchoService& m_owner;
    };

    std::mutex m_mutex;
    std::map<std::string, std::uint32_t> m_hosts;
    std::map<std::uint32_t, FakeBehaviour> m_behaviour;
    std::map<std::uint32_t, int> m_echoes;
    int m_lookups = 0;
    std::atomic<int> m_inFlight{0};
    std::atomic<int> m_cancelled{0};
};

} // namespace tarnwick::test
