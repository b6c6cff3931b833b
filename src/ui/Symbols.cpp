#include "ui/Symbols.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace verticora {

namespace {

// Symbols are designed on a 20 x 20 grid and scaled to their box.
constexpr double grid = 20;

void drawOnGrid(QPainter& painter, Symbol symbol, const QColor& color)
{
    QPen pen(color, 1.7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    switch (symbol) {
    case Symbol::exclamationCircle:
        painter.drawEllipse(QPointF(10, 10), 8, 8);
        painter.drawLine(QPointF(10, 5.6), QPointF(10, 11));
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(QPointF(10, 14.2), 1.2, 1.2);
        break;
    case Symbol::chevronLeft:
        painter.drawPolyline(QPolygonF{{12.5, 4}, {6.5, 10}, {12.5, 16}});
        break;
    case Symbol::chevronRight:
        painter.drawPolyline(QPolygonF{{7.5, 4}, {13.5, 10}, {7.5, 16}});
        break;
    case Symbol::grip:
        for (const double y : {5.5, 10.0, 14.5})
            painter.drawLine(QPointF(4, y), QPointF(16, y));
        break;
    case Symbol::arrowClockwise: {
        QPainterPath arc;
        arc.arcMoveTo(QRectF(3.5, 3.5, 13, 13), 60);
        arc.arcTo(QRectF(3.5, 3.5, 13, 13), 60, 290);
        painter.drawPath(arc);
        // Arrow head at the start of the arc, pointing along it.
        const double angle = 60 * std::numbers::pi / 180;
        const QPointF tip(10 + 6.5 * std::cos(angle), 10 - 6.5 * std::sin(angle));
        painter.drawPolyline(QPolygonF{tip + QPointF(-3.6, -1.2), tip, tip + QPointF(-0.6, 3.6)});
        break;
    }
    case Symbol::power: {
        QPainterPath arc;
        arc.arcMoveTo(QRectF(3.5, 4, 13, 13), 55);
        arc.arcTo(QRectF(3.5, 4, 13, 13), 55, -290);
        painter.drawPath(arc);
        painter.drawLine(QPointF(10, 2.5), QPointF(10, 9.5));
        break;
    }
    case Symbol::personCropRectangle:
        painter.drawRoundedRect(QRectF(2, 3.5, 16, 13), 2.5, 2.5);
        painter.drawEllipse(QPointF(10, 8.5), 2.5, 2.5);
        painter.drawArc(QRectF(5.5, 12, 9, 7), 20 * 16, 140 * 16);
        break;
    case Symbol::pauseCircle:
        painter.drawEllipse(QPointF(10, 10), 8, 8);
        painter.drawLine(QPointF(8, 7), QPointF(8, 13));
        painter.drawLine(QPointF(12, 7), QPointF(12, 13));
        break;
    }
}

} // namespace

void drawSymbol(QPainter& painter, Symbol symbol, const QRectF& box, const QColor& color)
{
    const double side = std::min(box.width(), box.height());
    if (side <= 0)
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(box.center().x() - side / 2, box.center().y() - side / 2);
    painter.scale(side / grid, side / grid);
    drawOnGrid(painter, symbol, color);
    painter.restore();
}

QPixmap symbolPixmap(Symbol symbol, int size, const QColor& color, double devicePixelRatio)
{
    const int pixels = static_cast<int>(std::ceil(size * devicePixelRatio));
    QPixmap pixmap(pixels, pixels);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    drawSymbol(painter, symbol, QRectF(0, 0, size, size), color);
    return pixmap;
}

QIcon symbolIcon(Symbol symbol, int size, const QColor& color)
{
    QIcon icon;
    QColor dimmed = color;
    dimmed.setAlphaF(color.alphaF() * 0.35f);
    for (const double ratio : {1.0, 2.0}) {
        icon.addPixmap(symbolPixmap(symbol, size, color, ratio), QIcon::Normal);
        icon.addPixmap(symbolPixmap(symbol, size, dimmed, ratio), QIcon::Disabled);
    }
    return icon;
}

} // namespace verticora
