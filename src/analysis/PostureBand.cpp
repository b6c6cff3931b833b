#include "analysis/PostureBand.h"

#include "analysis/ThresholdRules.h"

#include <algorithm>
#include <cmath>

namespace verticora {

std::optional<PostureBand> classify(std::optional<double> score, double yellow, double red)
{
    if (!score || !std::isfinite(*score) || !isValidThresholdPair(yellow, red))
        return std::nullopt;
    const double s = std::max(*score, 0.0);
    if (s >= red)
        return PostureBand::red;
    if (s >= yellow)
        return PostureBand::yellow;
    return PostureBand::green;
}

} // namespace verticora
