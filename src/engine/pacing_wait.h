#pragma once

#include <functional>

namespace tarnwick::engine {

class TickClock;

// Blocks the calling thread for up to a number of milliseconds, or less when
// woken. Returns true when woken before the time was up.
class Waiter {
public:
    virtual ~Waiter() = default;
    virtual bool wait(int ms) = 0;
};

// Waits `ms` milliseconds measured from the start against the tick counter, so
// early wake-ups do not lengthen it. After each early wake-up `service` runs
// (it handles what woke the thread); when it returns false the wait ends at
// once and pacingWait returns false. A wait of zero or less returns at once.
bool pacingWait(int ms, const TickClock& ticks, Waiter& waiter,
                const std::function<bool()>& service);

} // namespace tarnwick::engine
