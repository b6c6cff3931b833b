#pragma once

#include <functional>
#include <optional>

namespace verticora {

struct AnalysisCadence {
    // Whether a camera frame arriving `elapsed` seconds after the last analysed one is due,
    // given the requested spacing: the spacing that makes it due, or none to skip it.
    // `motionInterval` (the motion gate's verdict) is asked only on the monitoring path,
    // where a still scene may stretch the spacing.
    [[nodiscard]] static std::optional<double> dueInterval(double elapsed, double requested, bool trackingRateDelivery,
                                                           const std::function<double()>& motionInterval);
};

} // namespace verticora
