#include "visuals/SolidShapes.h"

#include "visuals/PeripheralEffect.h"
#include "visuals/SmokeGeometry.h"

#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace verticora::solid {

namespace {

constexpr int glowLineThickness = 3;
constexpr double cornerShare = 0.28; // of the shorter side a corner bracket may span

// The depth of the translucent edge the strips stand in for.
double translucentDepth(EdgeEffectStyle style, double severity, double depthScale)
{
    if (style == EdgeEffectStyle::smoke)
        return SmokeGeometry::depth(severity, clampedOr(depthScale, 1, 50, 1)) + 2;
    const double depth = SmokeGeometry::depth(severity, std::max(depthScale, 1.0));
    return std::max(depth * edgeStyleConstants(style).thicknessFactor * std::min(depthScale, 1.0), 1.0);
}

} // namespace

int edgeThickness(double depth, double severity)
{
    const double s = clampedOr(severity, 1, 3, 1);
    const int most = static_cast<int>(std::lround(6 + 3 * (s - 1)));
    const long tenth = std::isfinite(depth) ? std::lround(depth / 10) : 0;
    return static_cast<int>(std::clamp<long>(tenth, 2, most));
}

std::vector<QRect> edgeStrips(EdgeEffectStyle style, double severity, double depthScale, const QRect& area)
{
    const int w = area.width();
    const int h = area.height();
    if (!(depthScale > 0) || w <= 0 || h <= 0)
        return {};
    const double depth = translucentDepth(style, severity, depthScale);
    const int t = std::min({edgeThickness(depth, severity), w / 2, h / 2});
    std::vector<QRect> strips;
    switch (style) {
    case EdgeEffectStyle::smoke:
    case EdgeEffectStyle::vignette:
    case EdgeEffectStyle::glow:
        strips = {{0, 0, w, t}, {0, h - t, w, t}, {0, 0, t, h}, {w - t, 0, t, h}};
        break;
    case EdgeEffectStyle::tide:
        strips = {{0, 0, t, h}, {w - t, 0, t, h}};
        break;
    case EdgeEffectStyle::horizon:
        strips = {{0, 0, w, t}};
        break;
    case EdgeEffectStyle::corners: {
        const double longest = cornerShare * std::min(w, h);
        const int arm = static_cast<int>(std::lround(std::min(std::max(0.75 * depth, 16.0), longest)));
        strips = {{0, 0, arm, t},         {0, 0, t, arm},         {w - arm, 0, arm, t},     {w - t, 0, t, arm},
                  {0, h - t, arm, t},     {0, h - arm, t, arm},   {w - arm, h - t, arm, t}, {w - t, h - arm, t, arm}};
        break;
    }
    }
    for (QRect& strip : strips)
        strip.translate(area.topLeft());
    return strips;
}

QRect workArea(const ScreenGeometry& screen)
{
    return screen.availableFrame.isValid() ? screen.availableFrame : screen.frame;
}

QRect glowLine(const ScreenGeometry& screen)
{
    const QRect area = workArea(screen);
    return {area.left(), area.top(), area.width(), glowLineThickness};
}

QRegion regionOf(const std::vector<QRect>& strips)
{
    QRegion region;
    for (const QRect& strip : strips)
        region += strip;
    return region;
}

QRegion roundedShape(const QRectF& rect, double radius)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return QRegion(path.toFillPolygon().toPolygon());
}

} // namespace verticora::solid
