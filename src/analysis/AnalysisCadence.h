#pragma once

#include <functional>
#include <optional>

namespace verticora {

struct AnalysisCadence {
    static constexpr double monitoringInterval = 1.0 / 3.0;
    static constexpr double captureInterval = 0.1; // while the height is being captured
    static constexpr double relaxedInterval = 0.4; // comfortably inside green
    // Patch passes need frames at least this far apart.
    static constexpr double lightweightMinimumInterval = 0.2;

    // The spacing asked for after a monitoring result: relaxed while the face is inside
    // and well short of yellow (a missing score counts as at yellow), else the normal one.
    [[nodiscard]] static double monitoringSpacing(bool inside, std::optional<double> score, double yellow);

    // Whether a camera frame arriving `elapsed` seconds after the last analysed one is due,
    // given the requested spacing: the spacing that makes it due, or none to skip it.
    // `motionInterval` (the motion gate's verdict) is asked only on the monitoring path,
    // where a still scene may stretch the spacing.
    [[nodiscard]] static std::optional<double> dueInterval(double elapsed, double requested, bool trackingRateDelivery,
                                                           const std::function<double()>& motionInterval);
};

} // namespace verticora
