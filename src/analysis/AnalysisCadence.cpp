#include "analysis/AnalysisCadence.h"

#include <cmath>

namespace verticora {

namespace {
constexpr double earlyTolerance = 0.003; // camera timestamps jitter by a few milliseconds
constexpr double relaxedShareOfYellow = 0.65;
} // namespace

double AnalysisCadence::monitoringSpacing(bool inside, std::optional<double> score, double yellow)
{
    return inside && score.value_or(yellow) < relaxedShareOfYellow * yellow ? relaxedInterval : monitoringInterval;
}

std::optional<double> AnalysisCadence::dueInterval(double elapsed, double requested, bool trackingRateDelivery,
                                                   const std::function<double()>& motionInterval)
{
    if (!std::isfinite(elapsed) || !std::isfinite(requested) || !(requested > 0))
        return std::nullopt;
    if (trackingRateDelivery && requested >= lightweightMinimumInterval) {
        // The camera already runs at the tracking rate: every delivered frame is due.
        if (elapsed > 0)
            return monitoringInterval;
        return std::nullopt;
    }
    if (requested < lightweightMinimumInterval) {
        if (elapsed >= requested - earlyTolerance)
            return requested;
        return std::nullopt;
    }
    if (elapsed < monitoringInterval - earlyTolerance)
        return std::nullopt;
    const double interval = motionInterval();
    if (std::isfinite(interval) && interval > 0 && elapsed >= interval - earlyTolerance)
        return interval;
    return std::nullopt;
}

} // namespace verticora
