#pragma once

#include "engine/tick_clock.h"

#include <functional>
#include <memory>

namespace tarnwick::net {
class Canceller;
}

namespace tarnwick::engine {

// Blocks the calling thread for up to a number of milliseconds, or less when
// woken. Returns true when woken before the time was up.
class Waiter {
public:
    virtual ~Waiter() = default;
    virtual bool wait(int ms) = 0;
};

// The time the workers live in: the tick counter they pace by and the waits
// that let it pass, so that tests can drive both. Safe to use from any thread.
class WorkerClock : public TickClock {
public:
    // A waiter for one worker thread, woken early once cancel fires. It lives
    // as long as the worker and is used on its thread only.
    virtual std::unique_ptr<Waiter> waiterFor(const net::Canceller& cancel) const = 0;
};

// The steady clock, and waits on the worker's canceller with a deadline timer.
class SteadyWorkerClock final : public WorkerClock {
public:
    std::uint32_t now() const override { return m_ticks.now(); }
    std::unique_ptr<Waiter> waiterFor(const net::Canceller& cancel) const override;

private:
    SteadyTickClock m_ticks;
};

// Waits `ms` milliseconds measured from the start against the tick counter, so
// early wake-ups do not lengthen it. After each early wake-up `service` runs
// (it handles what woke the thread); when it returns false the wait ends at
// once and pacingWait returns false. A wait of zero or less returns at once.
bool pacingWait(int ms, const TickClock& ticks, Waiter& waiter,
                const std::function<bool()>& service);

} // namespace tarnwick::engine
