#pragma once

#include <cmath>

namespace verticora {

inline constexpr double defaultYellowThreshold = 0.45;
inline constexpr double defaultRedThreshold = 0.85;
inline constexpr double minimumDelay = 1.0;
inline constexpr double maximumDelay = 5.0;
// The longest pause between two readings, in seconds, that still counts as unbroken
// tracking. Past it the day's history credits nothing, the live score marks a gap and the
// chart draws a dotted link, and a face seen again must be re-acquired.
inline constexpr double maximumTrackingGap = 1.5;

// The one rule for a usable pair of zone boundaries: red must sit clearly beyond
// yellow, both relatively and absolutely, so the yellow band never collapses.
[[nodiscard]] inline bool isValidThresholdPair(double yellow, double red)
{
    return std::isfinite(yellow) && std::isfinite(red) && yellow >= 0.15 && red >= 1.25 * yellow
        && red >= yellow + 0.15;
}

// The red reminder delay, in seconds; NaN fails both comparisons.
[[nodiscard]] inline bool isValidDelay(double delay)
{
    return std::isfinite(delay) && delay >= minimumDelay && delay <= maximumDelay;
}

} // namespace verticora
