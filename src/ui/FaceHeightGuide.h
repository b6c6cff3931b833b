#pragma once

#include <QList>
#include <QPixmap>
#include <QPointF>
#include <QRectF>
#include <QWidget>

#include <optional>

namespace verticora {

// Laid over the camera preview: the tracked landmark points as white dots and, when the
// owner gives one, a dotted line at the chosen height. The preview is mirrored and
// letterboxed, so the guide fits the camera picture into its own size the same way.
// Transparent to the mouse; draws nothing but what its owner supplies.
class FaceHeightGuide : public QWidget {
    Q_OBJECT
public:
    explicit FaceHeightGuide(QWidget* parent = nullptr);

    // Image coordinates: 0 to 1, origin at the lower-left corner of the camera picture.
    void setPoints(const QList<QPointF>& points);
    // Camera width / height.
    void setAspect(double aspect);
    // The dotted line's height as a fraction of the picture from its top; none: no line.
    void setBaseline(std::optional<double> baseline);

    [[nodiscard]] const QList<QPointF>& points() const { return m_points; }
    [[nodiscard]] double aspect() const { return m_aspect; }
    [[nodiscard]] std::optional<double> baseline() const { return m_baseline; }

    // Where the camera picture sits in a view of `size`, fitted and centred.
    [[nodiscard]] static QRectF pictureRect(QSizeF size, double aspect);
    // Where an image point is drawn: mirrored horizontally and flipped to top-down.
    [[nodiscard]] static QPointF viewPoint(QPointF imagePoint, const QRectF& picture);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    [[nodiscard]] QRect dotRect(QPointF imagePoint) const;
    [[nodiscard]] QRect baselineRect() const;

    QList<QPointF> m_points;
    double m_aspect = 16.0 / 9.0;
    std::optional<double> m_baseline;
    QPixmap m_dot; // one dot with its shadow, drawn once
};

} // namespace verticora
