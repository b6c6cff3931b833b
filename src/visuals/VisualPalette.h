#pragma once

#include <QColor>

namespace verticora {

// The application's named colours (sRGB, opaque).
struct VisualPalette {
    // Focus card text and button.
    static QColor ink() { return QColor::fromRgbF(0.13f, 0.25f, 0.20f); }
    static QColor forest() { return QColor::fromRgbF(0.13f, 0.25f, 0.19f); }
    static QColor paper() { return QColor::fromRgbF(0.965f, 0.955f, 0.925f); }
    static QColor mint() { return QColor::fromRgbF(0.88f, 0.93f, 0.86f); }
    static QColor greenZone() { return QColor::fromRgbF(0.29f, 0.55f, 0.40f); }
    static QColor yellowZone() { return QColor::fromRgbF(0.80f, 0.53f, 0.16f); }
    static QColor redZone() { return QColor::fromRgbF(0.76f, 0.29f, 0.25f); }
};

} // namespace verticora
