#pragma once

#include <cstdint>

namespace tarnwick::engine {

// A 32-bit millisecond tick counter. It wraps after about 49.7 days, which a
// program that runs for weeks will see, so every user subtracts modulo 2^32.
class TickClock {
public:
    virtual ~TickClock() = default;
    virtual std::uint32_t now() const = 0;
};

class SteadyTickClock final : public TickClock {
public:
    std::uint32_t now() const override;
};

// Milliseconds from `from` to `to`, correct across one wrap of the counter.
inline std::int32_t tickDistance(std::uint32_t from, std::uint32_t to)
{
    return static_cast<std::int32_t>(to - from);
}

} // namespace tarnwick::engine
