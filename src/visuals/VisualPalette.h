#pragma once

#include "analysis/PostureBand.h"

#include <QColor>
#include <QString>

#include <algorithm>

namespace verticora {

// The application's named colours (sRGB, opaque), for the controls window and the alert
// visuals alike.
struct VisualPalette {
    // Text, buttons and selections: the focus card, the pages and the progress page.
    static QColor ink() { return QColor::fromRgbF(0.13f, 0.25f, 0.19f); }
    // The controls window's background.
    static QColor paper() { return QColor(247, 246, 242); }
    static QColor mint() { return QColor::fromRgbF(0.88f, 0.93f, 0.86f); }

    // The three zones wherever the controls window draws them: the height meter, the live
    // score chart, the progress page.
    static QColor greenZone() { return QColor::fromRgbF(0.25f, 0.56f, 0.40f); }
    static QColor yellowZone() { return QColor::fromRgbF(0.80f, 0.53f, 0.16f); }
    static QColor redZone() { return QColor::fromRgbF(0.78f, 0.28f, 0.24f); }
    static QColor zone(PostureBand band)
    {
        switch (band) {
        case PostureBand::green:
            return greenZone();
        case PostureBand::yellow:
            return yellowZone();
        case PostureBand::red:
            break;
        }
        return redZone();
    }
    // Text in the yellow zone's colour, dark enough to read on the window's background.
    static QColor ochreText() { return QColor::fromRgbF(0.52f, 0.31f, 0.04f); }

    // The tray icon's zones: brighter, to stand out at icon size on light and dark panels.
    static QColor greenStatus() { return QColor::fromRgbF(0.12f, 0.70f, 0.36f); }
    static QColor yellowStatus() { return QColor::fromRgbF(0.96f, 0.66f, 0.08f); }
    static QColor redStatus() { return QColor::fromRgbF(0.94f, 0.23f, 0.24f); }

    // The alert edge's colours at severities 0, 1 and 2 (SmokeGeometry::color blends
    // them): luminous, to read as light over any desktop.
    static QColor greenAlert() { return QColor::fromRgbF(0.21f, 0.65f, 0.43f); }
    static QColor amberAlert() { return QColor::fromRgbF(0.96f, 0.70f, 0.17f); }
    static QColor redAlert() { return QColor::fromRgbF(0.90f, 0.22f, 0.20f); }
};

// `color` with its alpha set (clamped to 0...1).
[[nodiscard]] inline QColor withAlpha(const QColor& color, double alpha)
{
    QColor result = color;
    result.setAlphaF(static_cast<float>(std::clamp(alpha, 0.0, 1.0)));
    return result;
}

// `color` as a style sheet writes it: "rgba(33, 64, 48, 1)".
[[nodiscard]] inline QString styleSheetColor(const QColor& color)
{
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(color.alphaF(), 0, 'g', 3);
}

} // namespace verticora
