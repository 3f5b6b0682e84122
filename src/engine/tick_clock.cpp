#include "engine/tick_clock.h"

#include <chrono>

namespace tarnwick::engine {

std::uint32_t SteadyTickClock::now() const
{
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<std::uint32_t>(ms);
}

} // namespace tarnwick::engine
