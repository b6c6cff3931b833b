#include "ui/Symbols.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <algorithm>

namespace verticora {

void paintSymbol(QPainter& painter, Symbol symbol, const QRectF& box, const QColor& color)
{
    const double side = std::min(box.width(), box.height());
    const QRectF square(box.center().x() - side / 2, box.center().y() - side / 2, side, side);
    const double line = std::max(1.2, side / 11);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(color, line, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const QRectF inner = square.adjusted(line, line, -line, -line);
    const QPointF c = square.center();
    switch (symbol) {
    case Symbol::refresh: {
        painter.drawArc(inner, 60 * 16, 300 * 16);
        // Arrow head at the arc's open end (top right).
        const double r = inner.width() / 2;
        const QPointF tip(c.x() + r * 0.5, c.y() - r * 0.866);
        QPainterPath head;
        head.moveTo(tip + QPointF(-r * 0.55, -r * 0.18));
        head.lineTo(tip);
        head.lineTo(tip + QPointF(-r * 0.12, r * 0.55));
        painter.drawPath(head);
        break;
    }
    case Symbol::power:
        painter.drawArc(inner, 120 * 16, 300 * 16);
        painter.drawLine(QPointF(c.x(), inner.top() - line * 0.3), QPointF(c.x(), c.y()));
        break;
    case Symbol::exclamationCircle:
        painter.drawEllipse(inner);
        painter.drawLine(QPointF(c.x(), inner.top() + inner.height() * 0.25),
                         QPointF(c.x(), inner.top() + inner.height() * 0.58));
        painter.setBrush(color);
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(QPointF(c.x(), inner.top() + inner.height() * 0.76), line * 0.7, line * 0.7);
        break;
    case Symbol::personInFrame: {
        painter.drawRoundedRect(inner, side * 0.12, side * 0.12);
        const double head = inner.width() * 0.16;
        painter.drawEllipse(QPointF(c.x(), inner.top() + inner.height() * 0.38), head, head);
        QPainterPath shoulders;
        const double w = inner.width() * 0.3;
        shoulders.moveTo(c.x() - w, inner.bottom());
        shoulders.cubicTo(c.x() - w, inner.top() + inner.height() * 0.6, c.x() + w,
                          inner.top() + inner.height() * 0.6, c.x() + w, inner.bottom());
        painter.drawPath(shoulders);
        break;
    }
    case Symbol::pauseCircle: {
        painter.drawEllipse(inner);
        const double dx = inner.width() * 0.12;
        const double dy = inner.height() * 0.2;
        painter.drawLine(QPointF(c.x() - dx, c.y() - dy), QPointF(c.x() - dx, c.y() + dy));
        painter.drawLine(QPointF(c.x() + dx, c.y() - dy), QPointF(c.x() + dx, c.y() + dy));
        break;
    }
    }
    painter.restore();
}

QIcon symbolIcon(Symbol symbol, const QColor& color, int size)
{
    QIcon icon;
    for (const int scale : {1, 2}) {
        QPixmap pixmap(size * scale, size * scale);
        pixmap.setDevicePixelRatio(scale);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paintSymbol(painter, symbol, QRectF(0, 0, size, size), color);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace verticora
