#include "store/LiveScoreStore.h"

#include "analysis/ThresholdRules.h"

#include <algorithm>
#include <cmath>

namespace verticora {

std::optional<double> LiveScoreStore::value(std::optional<double> deviation, double yellow, double red)
{
    if (!deviation || !std::isfinite(*deviation) || !isValidThresholdPair(yellow, red))
        return std::nullopt;
    const double s = std::max(*deviation, 0.0);
    if (s < yellow)
        return 100 - 15 * s / yellow;
    if (s < red)
        return 85 - 35 * (s - yellow) / (red - yellow);
    return std::max(50 - 50 * (s - red) / std::max(red, 0.4), 0.0);
}

} // namespace verticora
