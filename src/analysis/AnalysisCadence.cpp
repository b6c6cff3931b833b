#include "analysis/AnalysisCadence.h"

#include <cmath>

namespace verticora {

namespace {
constexpr double monitoringInterval = 1.0 / 3.0;
constexpr double fastestMonitoringInterval = 0.2;
constexpr double earlyTolerance = 0.003; // camera timestamps jitter by a few milliseconds
} // namespace

std::optional<double> AnalysisCadence::dueInterval(double elapsed, double requested, bool trackingRateDelivery,
                                                   const std::function<double()>& motionInterval)
{
    if (!std::isfinite(elapsed) || !std::isfinite(requested) || !(requested > 0))
        return std::nullopt;
    if (trackingRateDelivery && requested >= fastestMonitoringInterval) {
        // The camera already runs at the tracking rate: every delivered frame is due.
        if (elapsed > 0)
            return monitoringInterval;
        return std::nullopt;
    }
    if (requested < fastestMonitoringInterval) {
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
