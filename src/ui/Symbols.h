#pragma once

#include <QColor>
#include <QIcon>
#include <QRectF>

class QPainter;

namespace verticora {

// The few pictograms the controls window shows, drawn with lines so that they look the
// same on every desktop, icon theme or none.
enum class Symbol {
    refresh,          // a circular arrow
    power,            // the power sign
    exclamationCircle,
    personInFrame,    // the camera is off
    pauseCircle,      // the camera is paused
};

void paintSymbol(QPainter& painter, Symbol symbol, const QRectF& box, const QColor& color);
[[nodiscard]] QIcon symbolIcon(Symbol symbol, const QColor& color, int size = 16);

} // namespace verticora
