#include "platform/FrameDrop.h"

#include <algorithm>

namespace verticora {

namespace {

constexpr std::uint64_t second = 1'000'000'000;

} // namespace

void FrameDrop::setRate(int rate, double nativeRate)
{
    const std::uint64_t period = rate > 0 ? second / static_cast<std::uint64_t>(rate) : 0;
    const std::uint64_t slack = nativeRate > 0 ? static_cast<std::uint64_t>(second / (2 * nativeRate)) : 0;
    m_slack.store(std::min(slack, period / 2));
    m_period.store(period);
    restart();
}

void FrameDrop::restart()
{
    m_next.store(none);
}

bool FrameDrop::keep(std::uint64_t time)
{
    const std::uint64_t period = m_period.load(std::memory_order_relaxed);
    if (period == 0)
        return true;
    const std::uint64_t slack = m_slack.load(std::memory_order_relaxed);
    const std::uint64_t next = m_next.load(std::memory_order_relaxed);
    const bool first = next == none;
    const bool wentBack = !first && next > time + period + slack; // a restarted clock
    if (!first && !wentBack && time + slack < next)
        return false;
    // Keep to the schedule while the frames do, so that jitter does not slow the rate.
    const bool onSchedule = !first && !wentBack && time < next + period;
    m_next.store(onSchedule ? next + period : time + period, std::memory_order_relaxed);
    return true;
}

} // namespace verticora
