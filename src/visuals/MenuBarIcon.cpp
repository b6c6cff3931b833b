#include "visuals/MenuBarIcon.h"

#include "visuals/VisualPalette.h"

#include <QPainter>
#include <QPainterPath>

#include <numbers>

namespace verticora {

namespace {

const QString neutralKey = QStringLiteral("neutral");
constexpr double rimWidth = 1.6; // points; 0.8 of it shows around each bar

QString statusKey(const QString& zone)
{
    if (zone == QLatin1String("green") || zone == QLatin1String("yellow") || zone == QLatin1String("red"))
        return zone;
    return neutralKey;
}

// Light around dark bars, dark around light ones.
QColor contrastingRim(const QColor& fill)
{
    return fill.lightnessF() < 0.5 ? QColor(255, 255, 255, 235) : QColor(0, 0, 0, 200);
}

QColor zoneColor(const QString& key)
{
    if (key == QLatin1String("green"))
        return VisualPalette::greenStatus();
    if (key == QLatin1String("yellow"))
        return VisualPalette::yellowStatus();
    return VisualPalette::redStatus();
}

} // namespace

MenuBarIcon::MenuBarIcon()
{
    // QCache limits the total cost only; at 6400 bytes an image, 25600 also holds the count to four.
    m_statusCache.setMaxCost(cacheCostLimit);
}

bool MenuBarIcon::isTemplate(const QString& zone)
{
    return statusKey(zone) == neutralKey;
}

QImage MenuBarIcon::statusImage(const QString& zone, const QColor& neutralColor)
{
    const QString key = statusKey(zone);
    // The neutral picture follows the desktop's colours: a new text colour draws it anew.
    if (key == neutralKey && neutralColor != m_cachedNeutralColor)
        m_statusCache.remove(neutralKey);
    if (const QImage* cached = m_statusCache.object(key))
        return *cached;

    QImage image = key == neutralKey ? draw(neutralColor, contrastingRim(neutralColor)) : draw(zoneColor(key));
    if (image.isNull()) {
        QImage empty(colorStatusSize, colorStatusSize, QImage::Format_ARGB32_Premultiplied);
        empty.fill(Qt::transparent);
        return empty;
    }
    const int cost = int(image.sizeInBytes());
    m_statusCache.insert(key, new QImage(image), cost);
    if (key == neutralKey)
        m_cachedNeutralColor = neutralColor;
    return image;
}

QImage MenuBarIcon::draw(const QColor& fill, const QColor& rim)
{
    const int pixels = colorStatusSize * scale;
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return image;
    image.fill(Qt::transparent);
    QPainter painter(&image);
    if (!painter.isActive())
        return {};
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(scale, scale);
    painter.translate(colorStatusSize / 2.0, colorStatusSize / 2.0);
    QPainterPath bar;
    bar.addRoundedRect(QRectF(5.0, -0.9, 3.4, 1.8), 0.4, 0.4);
    QPainterPath ring;
    for (int i = 0; i < 12; ++i)
        ring.addPath(QTransform().rotate(360.0 * i / 12).map(bar));
    if (rim.isValid()) {
        // Half of the stroke lies outside the bars; the fill covers the inner half.
        painter.strokePath(ring, QPen(rim, rimWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    }
    painter.fillPath(ring, fill);
    painter.end();
    image.setDevicePixelRatio(scale);
    return image;
}

} // namespace verticora
