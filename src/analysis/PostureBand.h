#pragma once

#include <optional>

namespace verticora {

// The three zones; the raw values are stored in files and used as verification bands.
enum class PostureBand : int {
    green = 0,
    yellow = 1,
    red = 2,
};

// The band of a deviation against two boundaries, with no checks: a boundary belongs to
// the lower zone, so a deviation exactly at yellow is yellow and exactly at red is red.
[[nodiscard]] constexpr PostureBand bandOf(double deviation, double yellow, double red)
{
    if (deviation >= red)
        return PostureBand::red;
    if (deviation >= yellow)
        return PostureBand::yellow;
    return PostureBand::green;
}

// The band of a deviation against a boundary pair; none for a missing or non-finite
// score or an invalid pair. Negative scores count as 0.
[[nodiscard]] std::optional<PostureBand> classify(std::optional<double> score, double yellow, double red);

} // namespace verticora
