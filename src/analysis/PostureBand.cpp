#include "analysis/PostureBand.h"

#include "analysis/ThresholdRules.h"

#include <algorithm>
#include <cmath>

namespace verticora {

std::optional<PostureBand> classify(std::optional<double> score, double yellow, double red)
{
    if (!score || !std::isfinite(*score) || !isValidThresholdPair(yellow, red))
        return std::nullopt;
    return bandOf(std::max(*score, 0.0), yellow, red);
}

} // namespace verticora
