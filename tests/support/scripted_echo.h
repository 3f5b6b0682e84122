#pragma once

// An echo service whose answers depend on the probe's time-to-live, for
// traces without a network. Every request is recorded.

#include "platform/net/canceller.h"
#include "platform/net/echo.h"
#include "platform/net/resolver.h"

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace tarnwick::test {

struct ScriptedAnswer {
    enum Kind { Reply, NoReply, Block } kind = NoReply;
    const char* from = nullptr; // answering node (Reply)
    int delayMs = 0;            // Reply: taken before answering; Block: waits until cancelled
};

inline ScriptedAnswer replyFrom(const char* from, int delayMs = 0)
{
    return {ScriptedAnswer::Reply, from, delayMs};
}
inline ScriptedAnswer noReply()
{
    return {ScriptedAnswer::NoReply, nullptr, 0};
}
inline ScriptedAnswer blockUntilCancelled()
{
    return {ScriptedAnswer::Block, nullptr, 0};
}

class ScriptedEchoService : public net::EchoService {
public:
    // (destination, ttl, nth probe with that ttl to that destination, from 0)
    using Script = std::function<ScriptedAnswer(const std::string& destination, int ttl, int nth)>;

    explicit ScriptedEchoService(Script script, bool unavailable = false)
        : m_script(std::move(script)), m_unavailable(unavailable)
    {
    }

    std::unique_ptr<net::EchoHandle> open() override { return std::make_unique<Handle>(*this); }

    std::vector<net::EchoRequest> requests()
    {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }
    int inFlight() const { return m_inFlight.load(); }
    int cancelled() const { return m_cancelled.load(); }

private:
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
            const std::string destination = net::formatIPv4(request.destination);
            int nth = 0;
            {
                std::lock_guard lock(m_owner.m_mutex);
                m_owner.m_requests.push_back(request);
                nth = m_owner.m_count[{destination, request.ttl}]++;
            }
            const ScriptedAnswer answer = m_owner.m_script(destination, request.ttl, nth);
            int wait = answer.delayMs;
            if (answer.kind == ScriptedAnswer::Block)
                wait = 60000;
            ++m_owner.m_inFlight;
            const bool cut = wait > 0 && cancel && cancel->waitFor(wait);
            --m_owner.m_inFlight;
            if (cut) {
                ++m_owner.m_cancelled;
                result.failure = net::EchoFailure::Cancelled;
                return result;
            }
            if (answer.kind != ScriptedAnswer::Reply) {
                result.failure = net::EchoFailure::TimedOut;
                return result;
            }
            net::EchoReply reply;
            reply.status =
                answer.from == destination ? net::StatusSuccess : net::StatusTtlExpiredTransit;
            reply.address = net::parseIPv4(answer.from).value_or(0);
            result.reply = reply;
            return result;
        }

    private:
        ScriptedEchoService& m_owner;
    };

    Script m_script;
    bool m_unavailable;
    std::mutex m_mutex;
    std::vector<net::EchoRequest> m_requests;
    std::map<std::pair<std::string, int>, int> m_count;
    std::atomic<int> m_inFlight{0};
    std::atomic<int> m_cancelled{0};
};

} // namespace tarnwick::test
