#pragma once

#include "store/SettingsEnums.h"
#include "visuals/Animation.h"
#include "visuals/OverlayView.h"

#include <QColor>
#include <QPainterPath>
#include <QRegion>

#include <array>
#include <vector>

namespace verticora {

// How an edge style draws: which of the four side gradients (top, bottom, left, right) and
// whether the outline show, how thick and how dark.
struct EdgeStyleConstants {
    double thicknessFactor = 1;
    double darkening = 0; // the edge colour's blend toward black
    double edgeAlpha = 0.66;
    std::array<bool, 4> gradientsShown{};
    bool outlineShown = false;
};

[[nodiscard]] EdgeStyleConstants edgeStyleConstants(EdgeEffectStyle style);

// The alert edge of one screen for every style but smoke: four gradients running inward
// from the screen sides and one stroked outline (a rounded rectangle or four corner
// brackets). Rises animate over 0.28 s, falls jump. Not opaque, top-left origin, never
// takes a click.
class PeripheralEffectView : public OverlayView {
    Q_OBJECT
public:
    static constexpr double changeDuration = 0.28;
    static constexpr std::array<double, 4> gradientLocations{0, 0.16, 0.46, 1};

    struct Gradient {
        AnimatedValue<QRectF> frame;                 // "zone.bounds" and "zone.position"
        AnimatedValue<std::array<QColor, 4>> colors; // "zone.color", from the edge inward
        bool hidden = true;
        bool radial = false;
        QPointF startPoint; // unit coordinates of the frame
        QPointF endPoint;
    };
    struct Outline {
        AnimatedValue<QPainterPath> path; // "zone.path"
        double lineWidth = 1.5;
        QColor strokeColor;
        bool hidden = true;
    };

    PeripheralEffectView(EdgeEffectStyle style, double severity, double depthScale, ReduceMotionSource reduceMotion = {},
                         QWidget* parent = nullptr);

    [[nodiscard]] EdgeEffectStyle style() const { return m_style; }
    [[nodiscard]] double severity() const { return m_severity; }
    // Clamped to 0...3 (non-finite gives 0); call update(animated) afterwards.
    void setSeverity(double severity);
    [[nodiscard]] double depthScale() const { return m_depthScale; }
    // Clamped to 0...10 (non-finite gives 0); call update(animated) afterwards.
    void setDepthScale(double depthScale);

    // Recomputes every layer from severity, depth, style and the current size. Not to be
    // confused with QWidget::update(), the repaint request, which stays available.
    using QWidget::update;
    void update(bool animated);

    [[nodiscard]] const std::array<Gradient, 4>& gradients() const { return m_gradients; }
    [[nodiscard]] const Outline& outline() const { return m_outline; }
    [[nodiscard]] QSizeF lastSize() const { return m_lastSize; }
    [[nodiscard]] bool animating(double now) const;

    [[nodiscard]] QRegion coverage() const override;
    // What the view draws when solid().
    [[nodiscard]] const std::vector<QRect>& solidStrips() const { return m_solidStrips; }

    // Four brackets of arm length `length` and corner radius `radius`, 3 points inside the
    // corners of a `size` rectangle.
    [[nodiscard]] static QPainterPath cornerBrackets(const QSizeF& size, double length, double radius);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void tick() override;
    void solidChanged() override;

private:
    [[nodiscard]] QRegion paintedArea(double now) const;
    [[nodiscard]] QRegion targetArea() const;

    EdgeEffectStyle m_style;
    double m_severity = 0;
    double m_depthScale = 0;
    std::array<Gradient, 4> m_gradients;
    Outline m_outline;
    QSizeF m_lastSize;
    QRegion m_animationArea;
    std::vector<QRect> m_solidStrips;
    QColor m_solidColor;
};

} // namespace verticora
