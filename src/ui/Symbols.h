#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>

class QPainter;
class QRectF;

namespace verticora {

// The small line symbols of the controls window, drawn here so they look the same
// whatever icon theme the desktop has (or none, as in tests).
enum class Symbol {
    exclamationCircle, // a storage problem
    chevronLeft,
    chevronRight,
    grip,              // three horizontal lines: something to drag
    arrowClockwise,    // refresh
    power,             // quit
    personCropRectangle, // camera off
    pauseCircle,       // camera paused
};

// Draws `symbol` into `box` (square or not; it is centred) with lines of `color`.
void drawSymbol(QPainter& painter, Symbol symbol, const QRectF& box, const QColor& color);

// `symbol` as a pixmap `size` logical pixels square, for the device pixel ratio given.
[[nodiscard]] QPixmap symbolPixmap(Symbol symbol, int size, const QColor& color, double devicePixelRatio = 1);

// `symbol` as an icon for buttons, drawn at 1x and 2x, with a dimmed disabled state.
[[nodiscard]] QIcon symbolIcon(Symbol symbol, int size, const QColor& color);

} // namespace verticora
