#include "visuals/SmokeGeometry.h"

#include <algorithm>
#include <cmath>

namespace verticora {

namespace {

double severityOrZero(double severity)
{
    return std::isfinite(severity) && severity > 0 ? severity : 0.0;
}

QColor mix(const QColor& from, const QColor& to, double t)
{
    return QColor::fromRgbF(static_cast<float>(from.redF() + (to.redF() - from.redF()) * t),
                            static_cast<float>(from.greenF() + (to.greenF() - from.greenF()) * t),
                            static_cast<float>(from.blueF() + (to.blueF() - from.blueF()) * t),
                            static_cast<float>(from.alphaF()));
}

} // namespace

double SmokeGeometry::depth(double severity, double scale)
{
    const double s = severityOrZero(severity);
    double base = 0;
    if (s <= 1)
        base = 5 + 10 * s;
    else if (s <= 2)
        base = 15 + 15 * (s - 1);
    else
        base = 30 + 10 * (std::min(s, 3.0) - 2);
    const double k = std::isfinite(scale) ? std::clamp(scale, 1.0, 50.0) : 1.0;
    return base * k;
}

QColor SmokeGeometry::color(double severity)
{
    const double s = std::min(severityOrZero(severity), 3.0);
    if (s <= 1)
        return mix(VisualPalette::greenAlert(), VisualPalette::amberAlert(), s);
    return mix(VisualPalette::amberAlert(), VisualPalette::redAlert(), std::min(s - 1, 1.0));
}

double clampedOr(double value, double low, double high, double fallback)
{
    return std::isfinite(value) ? std::clamp(value, low, high) : fallback;
}

QColor blendedTint(const QColor& color, double fraction)
{
    const QColor target = fraction >= 0 ? QColor::fromRgbF(1, 1, 1, color.alphaF()) : QColor::fromRgbF(0, 0, 0, color.alphaF());
    return mix(color, target, std::clamp(std::abs(fraction), 0.0, 1.0));
}

std::array<double, 3> smokeInkWeights(double severity)
{
    const double s = std::isfinite(severity) ? severity : 0.0;
    if (s <= 2) {
        const double s1 = std::max(s, 1.0);
        return {2 - s1, s1 - 1, 0};
    }
    const double s3 = std::min(s, 3.0);
    return {0, 3 - s3, s3 - 2};
}

} // namespace verticora
