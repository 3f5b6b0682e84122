#include "engine/pacing_wait.h"

#include "platform/net/canceller.h"

namespace tarnwick::engine {

namespace {

class CancellerWaiter final : public Waiter {
public:
    explicit CancellerWaiter(const net::Canceller& cancel) : m_cancel(cancel) {}
    bool wait(int ms) override { return m_cancel.waitFor(ms); }

private:
    const net::Canceller& m_cancel;
};

} // namespace

std::unique_ptr<Waiter> SteadyWorkerClock::waiterFor(const net::Canceller& cancel) const
{
    return std::make_unique<CancellerWaiter>(cancel);
}

bool pacingWait(int ms, const TickClock& ticks, Waiter& waiter,
                const std::function<bool()>& service)
{
    if (ms <= 0)
        return true;
    const std::uint32_t deadline = ticks.now() + static_cast<std::uint32_t>(ms);
    std::int32_t remaining = ms;
    while (remaining > 0) {
        if (!waiter.wait(remaining))
            break;
        if (service && !service())
            return false;
        remaining = tickDistance(ticks.now(), deadline);
    }
    return true;
}

} // namespace tarnwick::engine
