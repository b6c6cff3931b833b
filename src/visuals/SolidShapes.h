#pragma once

#include "store/SettingsEnums.h"
#include "visuals/OverlayPanel.h"

#include <QRect>
#include <QRegion>

#include <vector>

// Without a compositing manager an X11 window cannot be translucent: whatever it does
// not paint opaque shows as black over the user's work. The reminders then draw only
// what can be shown opaque and cut their windows to it: thin solid strips along the
// edges of the screen's work area (never over a panel or dock), a thin line under the
// top panel instead of the glow over it, and a focus card without its soft shadow.
//
// A window cut to less than its rectangle covers the whole screen: X servers have been
// seen to show such a window unshaped, black beyond its shape, unless it covers the whole
// screen (xfwm4 without its compositor, under Xvfb).
namespace verticora::solid {

// Pixels of a solid strip standing in for a translucent edge `depth` pixels deep: a
// tenth of it, at least 2, at most 6 in yellow (severity 1 or less) growing to 12 in deep
// red (3 and beyond).
[[nodiscard]] int edgeThickness(double depth, double severity);

// The strips an edge style draws along the inner edges of `area`: the sides the style
// shows (smoke all four, tide left and right, horizon the top, corners four brackets),
// none when `depthScale` is 0 or less. `severity` and `depthScale` as the style's view
// keeps them.
[[nodiscard]] std::vector<QRect> edgeStrips(EdgeEffectStyle style, double severity, double depthScale,
                                            const QRect& area);

// The screen's available geometry, or its whole frame when that is unknown: where the
// strips run, so that they leave panels and docks alone.
[[nodiscard]] QRect workArea(const ScreenGeometry& screen);

// Where the glow goes: a line along the top of the available geometry, under the top
// panel instead of over it.
[[nodiscard]] QRect glowLine(const ScreenGeometry& screen);

// The strips as one region, for a window shape or a repaint.
[[nodiscard]] QRegion regionOf(const std::vector<QRect>& strips);

// A rounded rectangle as a window shape.
[[nodiscard]] QRegion roundedShape(const QRectF& rect, double radius);

} // namespace verticora::solid
