#pragma once

// The one test double for the echo service and the resolver. Answers come
// either from a table of named hosts (set and changed from the test) or from a
// script of (destination, time-to-live, nth probe), for traces. Every request
// is recorded and counted.

#include "engine/pacing_wait.h"
#include "platform/net/canceller.h"
#include "platform/net/echo.h"
#include "platform/net/resolver.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tarnwick::test {

struct EchoAnswer {
    // Reply: answered, by `from` when set (status then says whether the
    // destination or a hop answered), else with `status`. TimeOut waits the
    // request's time-out; NoReply times out at once; Block waits until the
    // attempt is cancelled.
    enum Kind { Reply, Status, TimeOut, NoReply, NotPermitted, Block } kind = Reply;
    std::uint32_t roundTripMs = 0;
    std::uint32_t status = 0;
    int delayMs = 0; // taken before answering (Reply, Status)
    const char* from = nullptr;
};

inline EchoAnswer replyFrom(const char* from, int delayMs = 0)
{
    EchoAnswer a;
    a.from = from;
    a.delayMs = delayMs;
    return a;
}
inline EchoAnswer noReply()
{
    return {EchoAnswer::NoReply};
}
inline EchoAnswer blockUntilCancelled()
{
    return {EchoAnswer::Block};
}

class ScriptedEchoService : public net::EchoService {
public:
    // (destination, ttl, nth probe with that ttl to that destination, from 0)
    using Script = std::function<EchoAnswer(const std::string& destination, int ttl, int nth)>;

    ScriptedEchoService() = default;
    explicit ScriptedEchoService(Script script, bool unavailable = false)
        : m_script(std::move(script)), m_unavailable(unavailable)
    {
    }

    // Named hosts resolve to 10.0.0.<n> in the order they are added.
    void addHost(const std::string& name, EchoAnswer answer)
    {
        std::lock_guard lock(m_mutex);
        const auto addr = static_cast<std::uint32_t>(m_hosts.size() + 1);
        m_hosts[name] = net::parseIPv4("10.0.0." + std::to_string(addr)).value_or(0);
        m_answers[m_hosts[name]] = answer;
    }
    void setBehaviour(const std::string& name, EchoAnswer answer)
    {
        std::lock_guard lock(m_mutex);
        m_answers[m_hosts.at(name)] = answer;
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

    // Answers are delayed on this clock instead of in real time (a manual one
    // lets the test hold an echo in flight as long as it likes).
    void useClock(const engine::WorkerClock* clock) { m_clock = clock; }

    int echoCount(const std::string& host)
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_hosts.find(host);
        return it == m_hosts.end() ? 0 : m_echoes[it->second];
    }
    int totalEchoes()
    {
        std::lock_guard lock(m_mutex);
        return static_cast<int>(m_requests.size());
    }
    std::vector<net::EchoRequest> requests()
    {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }
    int echoesInFlight() const { return m_inFlight.load(); }
    int cancelledEchoes() const { return m_cancelled.load(); }
    int lookups()
    {
        std::lock_guard lock(m_mutex);
        return m_lookups;
    }

private:
    EchoAnswer answerFor(const net::EchoRequest& request)
    {
        int nth = 0;
        const std::string destination = net::formatIPv4(request.destination);
        {
            std::lock_guard lock(m_mutex);
            m_requests.push_back(request);
            ++m_echoes[request.destination];
            nth = m_count[{destination, request.ttl}]++;
            if (!m_script)
                return m_answers[request.destination];
        }
        return m_script(destination, request.ttl, nth);
    }

    class Handle : public net::EchoHandle {
    public:
        explicit Handle(ScriptedEchoService& owner) : m_owner(owner) {}
        net::EchoPath path() const override
        {
            return m_owner.m_unavailable ? net::EchoPath::Unavailable : net::EchoPath::Datagram;
        }
        net::EchoResult echo(const net::EchoRequest& request, const net::Canceller* cancel) override
        {
            net::EchoResult result;
            if (m_owner.m_unavailable) {
                result.failure = net::EchoFailure::NotPermitted;
                return result;
            }
            const EchoAnswer a = m_owner.answerFor(request);
            if (a.kind == EchoAnswer::NotPermitted) {
                result.failure = net::EchoFailure::NotPermitted;
                return result;
            }
            int wait = a.delayMs;
            if (a.kind == EchoAnswer::TimeOut)
                wait = request.timeoutMs;
            else if (a.kind == EchoAnswer::NoReply)
                wait = 0;
            else if (a.kind == EchoAnswer::Block)
                wait = 60000;
            ++m_owner.m_inFlight;
            bool cancelled = false;
            if (wait > 0 && m_owner.m_clock) {
                const net::Canceller never;
                cancelled = m_owner.m_clock->waiterFor(cancel ? *cancel : never)->wait(wait);
            } else if (wait > 0 && cancel) {
                cancelled = cancel->waitFor(wait);
            } else if (wait > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(wait));
            }
            --m_owner.m_inFlight;
            if (cancelled) {
                ++m_owner.m_cancelled;
                result.failure = net::EchoFailure::Cancelled;
                return result;
            }
            if (a.kind == EchoAnswer::TimeOut || a.kind == EchoAnswer::NoReply ||
                a.kind == EchoAnswer::Block) {
                result.failure = net::EchoFailure::TimedOut;
                return result;
            }
            net::EchoReply reply;
            reply.roundTripMs = a.roundTripMs;
            reply.address = request.destination;
            reply.status = a.kind == EchoAnswer::Status ? a.status : 0;
            if (a.from) {
                reply.address = net::parseIPv4(a.from).value_or(0);
                reply.status = reply.address == request.destination ? net::StatusSuccess
                                                                    : net::StatusTtlExpiredTransit;
            }
            result.reply = reply;
            return result;
        }

    private:
        ScriptedEchoService& m_owner;
    };

    Script m_script;
    bool m_unavailable = false;
    const engine::WorkerClock* m_clock = nullptr;
    std::mutex m_mutex;
    std::map<std::string, std::uint32_t> m_hosts;
    std::map<std::uint32_t, EchoAnswer> m_answers;
    std::map<std::uint32_t, int> m_echoes;
    std::vector<net::EchoRequest> m_requests;
    std::map<std::pair<std::string, int>, int> m_count;
    int m_lookups = 0;
    std::atomic<int> m_inFlight{0};
    std::atomic<int> m_cancelled{0};
};

} // namespace tarnwick::test
