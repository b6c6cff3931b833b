#include "visuals/PeripheralEffect.h"

#include "visuals/SmokeGeometry.h"
#include "visuals/SolidShapes.h"

#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>

namespace verticora {

namespace {

constexpr int animationIntervalMs = 16;
constexpr double sideShare = 0.42;     // of the screen a gradient may span
constexpr double tideSideShare = 0.36; // of the width a tide band may span
constexpr double tideWidening = 1.45;
constexpr double outlineInset = 1;
constexpr double outlineRadius = 12;
constexpr double bracketInset = 3;

QRegion strokeArea(const QPainterPath& path, double lineWidth, const QSizeF& size, bool brackets)
{
    const int margin = static_cast<int>(std::ceil(lineWidth / 2 + 2));
    if (brackets) {
        QRegion region;
        for (const QPolygonF& polygon : path.toSubpathPolygons())
            region += polygon.boundingRect().toAlignedRect().adjusted(-margin, -margin, margin, margin);
        return region;
    }
    // A rounded rectangle along the bounds: only the ring it runs in.
    const QRect outer(QPoint(), size.toSize());
    const int ring = margin + static_cast<int>(std::ceil(outlineInset));
    return QRegion(outer) - QRegion(outer.adjusted(ring, ring, -ring, -ring));
}

} // namespace

EdgeStyleConstants edgeStyleConstants(EdgeEffectStyle style)
{
    switch (style) {
    case EdgeEffectStyle::vignette:
        return {1.0, 0.48, 0.66, {true, true, true, true}, false};
    case EdgeEffectStyle::glow:
        return {0.32, 0, 0.28, {true, true, true, true}, true};
    case EdgeEffectStyle::corners:
        return {1.0, 0.48, 0.66, {false, false, false, false}, true};
    case EdgeEffectStyle::tide:
        return {1.0, 0, 0.6, {false, false, true, true}, false};
    case EdgeEffectStyle::horizon:
        return {0.6, 0.48, 0.66, {true, false, false, false}, false};
    case EdgeEffectStyle::smoke:
        break;
    }
    return {1.0, 0, 0, {false, false, false, false}, false};
}

PeripheralEffectView::PeripheralEffectView(EdgeEffectStyle style, double severity, double depthScale,
                                           ReduceMotionSource reduceMotion, QWidget* parent)
    : OverlayView(std::move(reduceMotion), parent), m_style(style), m_severity(clampedSeverity(severity)),
      m_depthScale(clampedOr(depthScale, 0, 10, 0))
{
    const std::array<std::pair<QPointF, QPointF>, 4> directions{{
        {{0.5, 0}, {0.5, 1}},
        {{0.5, 1}, {0.5, 0}},
        {{0, 0.5}, {1, 0.5}},
        {{1, 0.5}, {0, 0.5}},
    }};
    for (std::size_t i = 0; i < m_gradients.size(); ++i) {
        m_gradients[i].startPoint = directions[i].first;
        m_gradients[i].endPoint = directions[i].second;
    }
    if (m_style == EdgeEffectStyle::tide) {
        // A lens of colour on each side, strongest at mid-height.
        m_gradients[2].radial = true;
        m_gradients[2].startPoint = {0, 0.5};
        m_gradients[2].endPoint = {1, 1};
        m_gradients[3].radial = true;
        m_gradients[3].startPoint = {1, 0.5};
        m_gradients[3].endPoint = {0, 1};
    }
    update(false);
}

void PeripheralEffectView::setSeverity(double severity)
{
    m_severity = clampedSeverity(severity);
}

void PeripheralEffectView::setDepthScale(double depthScale)
{
    m_depthScale = clampedOr(depthScale, 0, 10, 0);
}

void PeripheralEffectView::update(bool animated)
{
    const double now = mediaTime();
    const QRegion before = paintedArea(now);

    const double w = width();
    const double h = height();
    m_lastSize = QSizeF(w, h);
    const EdgeStyleConstants constants = edgeStyleConstants(m_style);
    const QColor color = SmokeGeometry::color(std::max(m_severity, 1.0));
    const double depth = SmokeGeometry::depth(m_severity, std::max(m_depthScale, 1.0));
    const double thickness = std::max(depth * constants.thicknessFactor * std::min(m_depthScale, 1.0), 1.0);
    const double th = std::min(sideShare * h, thickness);
    const double tv = m_style == EdgeEffectStyle::tide ? std::min(tideSideShare * w, tideWidening * thickness)
                                                       : std::min(sideShare * w, thickness);
    const std::array<QRectF, 4> frames{QRectF(0, 0, w, th), QRectF(0, h - th, w, th), QRectF(0, 0, tv, h),
                                       QRectF(w - tv, 0, tv, h)};
    const QColor deep = blendedTint(color, -constants.darkening);
    const double a = constants.edgeAlpha;
    const std::array<QColor, 4> colors{withAlpha(deep, a), withAlpha(color, 0.59 * a), withAlpha(color, 0.18 * a),
                                       withAlpha(color, 0)};
    const bool animate = animated && !reduceMotion() && !solid();

    for (std::size_t i = 0; i < m_gradients.size(); ++i) {
        Gradient& gradient = m_gradients[i];
        gradient.hidden = m_depthScale <= 0 || !constants.gradientsShown[i];
        if (animate) {
            if (colors != gradient.colors.value())
                gradient.colors.animateTo(colors, now, changeDuration, TimingFunction::easeOut);
            if (frames[i] != gradient.frame.value())
                gradient.frame.animateTo(frames[i], now, changeDuration, TimingFunction::easeOut);
        } else {
            gradient.colors.set(colors);
            gradient.frame.set(frames[i]);
        }
    }

    QPainterPath path;
    if (m_style == EdgeEffectStyle::corners) {
        const double shorter = std::min(w, h);
        const double length = std::min(std::max(0.75 * thickness, 16.0), 0.28 * shorter);
        const double radius = std::min(0.3 * length, 18.0);
        path = cornerBrackets(QSizeF(w, h), length, radius);
        m_outline.lineWidth = std::min(2 + 0.24 * m_depthScale + 1.4 * std::max(m_severity - 1, 0.0), 7.0);
    } else {
        path.addRoundedRect(QRectF(0, 0, w, h).adjusted(outlineInset, outlineInset, -outlineInset, -outlineInset),
                            outlineRadius, outlineRadius);
    }
    const bool hadPath = !m_outline.path.value().isEmpty();
    if (animate && m_style == EdgeEffectStyle::corners && hadPath && path != m_outline.path.value())
        m_outline.path.animateTo(path, now, changeDuration, TimingFunction::easeOut);
    else
        m_outline.path.set(path);
    m_outline.strokeColor = withAlpha(color, 0.88);
    m_outline.hidden = !constants.outlineShown || m_depthScale <= 0;

    const QRegion after = paintedArea(now) + targetArea();
    if (animating(now)) {
        m_animationArea += before + after;
        runTicks(animationIntervalMs);
    }
    const QRegion solidBefore = solid::regionOf(m_solidStrips);
    m_solidStrips = solid() ? solid::edgeStrips(m_style, m_severity, m_depthScale, *solidArea())
                            : std::vector<QRect>();
    m_solidColor = color;
    QWidget::update(solid() ? solidBefore + solid::regionOf(m_solidStrips) : before + after);
    coverageChanged();
}

bool PeripheralEffectView::animating(double now) const
{
    if (m_outline.path.animating(now))
        return true;
    return std::any_of(m_gradients.begin(), m_gradients.end(), [now](const Gradient& gradient) {
        return gradient.frame.animating(now) || gradient.colors.animating(now);
    });
}

QRegion PeripheralEffectView::coverage() const
{
    return solid() ? solid::regionOf(m_solidStrips) : targetArea() + m_animationArea;
}

QPainterPath PeripheralEffectView::cornerBrackets(const QSizeF& size, double length, double radius)
{
    QPainterPath bracket;
    bracket.moveTo(length, bracketInset);
    bracket.lineTo(bracketInset + radius, bracketInset);
    bracket.quadTo(bracketInset, bracketInset, bracketInset, bracketInset + radius);
    bracket.lineTo(bracketInset, length);

    const double w = size.width();
    const double h = size.height();
    QPainterPath path;
    path.addPath(bracket);
    path.addPath(QTransform(-1, 0, 0, 1, w, 0).map(bracket));
    path.addPath(QTransform(1, 0, 0, -1, 0, h).map(bracket));
    path.addPath(QTransform(-1, 0, 0, -1, w, h).map(bracket));
    return path;
}

void PeripheralEffectView::resizeEvent(QResizeEvent* event)
{
    OverlayView::resizeEvent(event);
    if (QSizeF(size()) != m_lastSize)
        update(false);
}

void PeripheralEffectView::solidChanged()
{
    update(false);
}

void PeripheralEffectView::paintEvent(QPaintEvent* event)
{
    const double now = mediaTime();
    QPainter painter(this);
    if (solid()) {
        if (entranceOpacity() > 0) {
            for (const QRect& strip : m_solidStrips)
                painter.fillRect(strip, m_solidColor);
        }
        return;
    }
    painter.setOpacity(entranceOpacity());
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    for (const Gradient& gradient : m_gradients) {
        const QRectF frame = gradient.frame.presentation(now);
        if (gradient.hidden || frame.isEmpty() || !frame.toAlignedRect().intersects(event->rect()))
            continue;
        const std::array<QColor, 4> colors = gradient.colors.presentation(now);
        const QPointF start(frame.x() + gradient.startPoint.x() * frame.width(),
                            frame.y() + gradient.startPoint.y() * frame.height());
        const QPointF end(frame.x() + gradient.endPoint.x() * frame.width(),
                          frame.y() + gradient.endPoint.y() * frame.height());
        if (gradient.radial) {
            // An ellipse centred on the start point whose radii reach the end point.
            QRadialGradient shape(QPointF(0, 0), 1);
            for (std::size_t i = 0; i < colors.size(); ++i)
                shape.setColorAt(gradientLocations[i], colors[i]);
            QBrush brush(shape);
            const double rx = std::max(std::abs(end.x() - start.x()), 0.001);
            const double ry = std::max(std::abs(end.y() - start.y()), 0.001);
            brush.setTransform(QTransform::fromScale(rx, ry) * QTransform::fromTranslate(start.x(), start.y()));
            painter.fillRect(frame, brush);
        } else {
            QLinearGradient shape(start, end);
            for (std::size_t i = 0; i < colors.size(); ++i)
                shape.setColorAt(gradientLocations[i], colors[i]);
            painter.fillRect(frame, shape);
        }
    }
    if (!m_outline.hidden) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(m_outline.strokeColor, m_outline.lineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(m_outline.path.presentation(now));
    }
}

void PeripheralEffectView::tick()
{
    const double now = mediaTime();
    QWidget::update(m_animationArea);
    if (!animating(now)) {
        stopTicks();
        m_animationArea = QRegion();
        coverageChanged();
    }
}

QRegion PeripheralEffectView::paintedArea(double now) const
{
    QRegion region;
    for (const Gradient& gradient : m_gradients) {
        if (!gradient.hidden)
            region += gradient.frame.presentation(now).toAlignedRect();
    }
    if (!m_outline.hidden) {
        region += strokeArea(m_outline.path.presentation(now), m_outline.lineWidth, m_lastSize,
                             m_style == EdgeEffectStyle::corners);
    }
    return region;
}

QRegion PeripheralEffectView::targetArea() const
{
    QRegion region;
    for (const Gradient& gradient : m_gradients) {
        if (!gradient.hidden)
            region += gradient.frame.value().toAlignedRect();
    }
    if (!m_outline.hidden)
        region += strokeArea(m_outline.path.value(), m_outline.lineWidth, m_lastSize, m_style == EdgeEffectStyle::corners);
    return region;
}

} // namespace verticora
