#include "engine/pacing_wait.h"

#include "engine/tick_clock.h"

namespace tarnwick::engine {

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
