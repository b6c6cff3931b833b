#include "model/SetupCheck.h"

#include <cmath>

namespace verticora {

namespace {
constexpr double maximumSampleGap = 0.65;
constexpr double lowerHoldSeconds = 0.4;
} // namespace

void SetupCheck::update(double score, double yellow, double red, double time)
{
    if (!std::isfinite(score) || !std::isfinite(time)) {
        lowerSince.reset();
        lastTime.reset();
        return;
    }
    if (lastTime && (*lastTime > time || time - *lastTime > maximumSampleGap))
        lowerSince.reset();
    lastTime = time;

    switch (phase) {
    case Phase::lower:
        if (score >= red) {
            if (!lowerSince)
                lowerSince = time;
            if (time - *lowerSince >= lowerHoldSeconds) {
                phase = Phase::returning;
                lowerSince.reset();
            }
        } else {
            lowerSince.reset();
        }
        break;
    case Phase::returning:
        if (score < yellow)
            phase = Phase::done;
        break;
    case Phase::done:
        break;
    }
}

} // namespace verticora
