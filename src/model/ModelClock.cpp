#include "model/ModelClock.h"

#include <ctime>

namespace verticora {

namespace {

double clockSeconds(clockid_t clock)
{
    timespec ts{};
    if (clock_gettime(clock, &ts) != 0)
        return 0;
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

} // namespace

double SystemClock::uptime() const
{
    return clockSeconds(CLOCK_MONOTONIC);
}

double SystemClock::wallTime() const
{
    return clockSeconds(CLOCK_REALTIME);
}

ManualClock::ManualClock(double uptime, double wallTime) : m_uptime(uptime), m_wallTime(wallTime) {}

void ManualClock::advance(double seconds)
{
    m_uptime.store(m_uptime.load() + seconds);
    m_wallTime.store(m_wallTime.load() + seconds);
}

double threadCpuSeconds()
{
    return clockSeconds(CLOCK_THREAD_CPUTIME_ID);
}

} // namespace verticora
