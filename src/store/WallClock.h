#pragma once

#include <chrono>
#include <functional>

namespace verticora {

// Wall-clock time as seconds since 1970-01-01 00:00 UTC. The stores date readings and
// calendar days with it; analysis times are on the monotonic clock instead.
using WallTime = double;
using WallClock = std::function<WallTime()>;

[[nodiscard]] inline WallTime systemWallTime()
{
    using Seconds = std::chrono::duration<double>;
    return std::chrono::duration_cast<Seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

} // namespace verticora
