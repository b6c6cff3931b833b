#pragma once

#include "visuals/VisualPalette.h"

#include <QColor>

#include <array>

namespace verticora {

// Colour and depth of the alert edge for a halo severity (0 at the chosen height,
// 1 yellow, 2 red, 3 beyond); shared by the smoke, the edge effects and the glow.
struct SmokeGeometry {
    // Edge depth in points: 5 at severity 0, 15 at 1, 30 at 2, 40 at 3 and beyond, times
    // the scale clamped to 1...50. A negative or non-finite severity counts as 0, a
    // non-finite scale as 1.
    [[nodiscard]] static double depth(double severity, double scale);
    // Green at 0, amber at 1, red from 2 on; opaque sRGB. Negative or non-finite gives green.
    [[nodiscard]] static QColor color(double severity);
};

// `value` clamped to low...high; `fallback` when it is not finite.
[[nodiscard]] double clampedOr(double value, double low, double high, double fallback);

// A halo severity as every view keeps it: 0...3, a non-finite one counting as 0.
[[nodiscard]] inline double clampedSeverity(double severity)
{
    return clampedOr(severity, 0, 3, 0);
}

// `color` moved toward white by `fraction` when it is positive, toward black by
// -`fraction` when negative; alpha unchanged.
[[nodiscard]] QColor blendedTint(const QColor& color, double fraction);

// How much each of the three smoke inks (amber-weighted, red-weighted, deep red) shows
// at a severity: only ink 0 at 1 or below, only ink 1 at 2, only ink 2 from 3 on.
[[nodiscard]] std::array<double, 3> smokeInkWeights(double severity);

} // namespace verticora
