#include "ui/FaceHeightGuide.h"

#include <QPaintEvent>
#include <QPainter>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>

namespace verticora {

namespace {

constexpr double dotSide = 5;
constexpr double shadowRadius = 2;
constexpr int spriteSide = 11; // the dot and its shadow on every side

bool usableAspect(double aspect)
{
    return std::isfinite(aspect) && aspect > 0;
}

QPixmap renderDot(double ratio)
{
    QPixmap sprite(QSize(spriteSide, spriteSide) * ratio);
    sprite.setDevicePixelRatio(ratio);
    sprite.fill(Qt::transparent);
    QPainter painter(&sprite);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QPointF centre(spriteSide / 2.0, spriteSide / 2.0);
    const double outer = dotSide / 2 + shadowRadius;
    QRadialGradient shadow(centre, outer);
    shadow.setColorAt(0, QColor(0, 0, 0, 128));
    shadow.setColorAt(dotSide / 2 / outer, QColor(0, 0, 0, 100));
    shadow.setColorAt(1, QColor(0, 0, 0, 0));
    painter.setBrush(shadow);
    painter.drawEllipse(centre, outer, outer);
    painter.setBrush(QColor(255, 255, 255, 230));
    painter.drawEllipse(centre, dotSide / 2, dotSide / 2);
    return sprite;
}

} // namespace

FaceHeightGuide::FaceHeightGuide(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
}

QRectF FaceHeightGuide::pictureRect(QSizeF size, double aspect)
{
    if (!usableAspect(aspect) || size.isEmpty())
        return {};
    const double width = std::min(aspect * size.height(), size.width());
    const double height = width / aspect;
    return QRectF((size.width() - width) / 2, (size.height() - height) / 2, width, height);
}

QPointF FaceHeightGuide::viewPoint(QPointF imagePoint, const QRectF& picture)
{
    return QPointF(picture.left() + (1 - imagePoint.x()) * picture.width(),
                   picture.top() + (1 - imagePoint.y()) * picture.height());
}

QRect FaceHeightGuide::dotRect(QPointF imagePoint) const
{
    const QPointF centre = viewPoint(imagePoint, pictureRect(size(), m_aspect));
    return QRectF(centre.x() - spriteSide / 2.0, centre.y() - spriteSide / 2.0, spriteSide, spriteSide)
        .toAlignedRect()
        .adjusted(-1, -1, 1, 1);
}

QRect FaceHeightGuide::baselineRect() const
{
    if (!m_baseline || m_points.isEmpty())
        return {};
    const QRectF picture = pictureRect(size(), m_aspect);
    const double y = picture.top() + *m_baseline * picture.height();
    return QRectF(picture.left(), y - 2, picture.width(), 4).toAlignedRect();
}

void FaceHeightGuide::setPoints(const QList<QPointF>& points)
{
    if (points == m_points)
        return;
    // Only the old and new dots change, unless the line appears or disappears with them.
    QRegion dirty;
    for (const QPointF& point : std::as_const(m_points))
        dirty += dotRect(point);
    const QRect lineBefore = baselineRect();
    m_points = points;
    for (const QPointF& point : std::as_const(m_points))
        dirty += dotRect(point);
    if (lineBefore != baselineRect())
        dirty += lineBefore | baselineRect();
    update(dirty);
}

void FaceHeightGuide::setAspect(double aspect)
{
    if (aspect == m_aspect)
        return;
    m_aspect = aspect;
    update();
}

void FaceHeightGuide::setBaseline(std::optional<double> baseline)
{
    if (baseline && !std::isfinite(*baseline))
        baseline.reset();
    if (baseline == m_baseline)
        return;
    const QRect before = baselineRect();
    m_baseline = baseline;
    update(before | baselineRect());
}

void FaceHeightGuide::paintEvent(QPaintEvent*)
{
    const QRectF picture = pictureRect(size(), m_aspect);
    if (m_points.isEmpty() || picture.isEmpty())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (m_baseline) {
        const double y = picture.top() + *m_baseline * picture.height();
        QPen pen(QColor(255, 255, 255, 166), 1, Qt::CustomDashLine, Qt::FlatCap, Qt::MiterJoin);
        pen.setDashPattern({4, 5});
        painter.setPen(pen);
        painter.drawLine(QPointF(picture.left() + 0.15 * picture.width(), y),
                         QPointF(picture.left() + 0.85 * picture.width(), y));
    }
    const double ratio = devicePixelRatioF();
    if (m_dot.isNull() || m_dot.devicePixelRatio() != ratio)
        m_dot = renderDot(ratio);
    for (const QPointF& point : std::as_const(m_points)) {
        const QPointF centre = viewPoint(point, picture);
        painter.drawPixmap(QPointF(centre.x() - spriteSide / 2.0, centre.y() - spriteSide / 2.0), m_dot);
    }
}

} // namespace verticora
