#pragma once

#include "visuals/Animation.h"
#include "visuals/OverlayPanel.h"
#include "visuals/OverlayView.h"

#include <QColor>
#include <QObject>

#include <array>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace verticora {

// A band along the top panel of a screen, coloured like the smoke for the same severity
// and, from severity 2 on, breathing at 0.85 Hz. Not opaque, never takes a click.
class MenuBarGlowView : public OverlayView {
    Q_OBJECT
public:
    static constexpr double breathDuration = 20.0 / 17.0;
    // The breathing changes the band by at most a few alpha steps per frame at this rate.
    static constexpr int breathIntervalMs = 50;

    MenuBarGlowView(double severity, double progress, ReduceMotionSource reduceMotion = {}, QWidget* parent = nullptr);

    [[nodiscard]] double severity() const { return m_severity; }
    [[nodiscard]] double progress() const { return m_progress; }
    // Stores both (severity clamped to 0...3, non-finite gives 0) and refreshes.
    void setValues(double severity, double progress);
    [[nodiscard]] double origin() const { return m_origin; }

    // The gradient from the band's bottom edge (first) to its top edge.
    [[nodiscard]] const std::array<QColor, 2>& glowColors() const { return m_colors; }
    [[nodiscard]] double glowOpacity() const { return m_opacity; }
    // The breathing ("breath") while it runs.
    [[nodiscard]] const std::optional<RepeatingKeyframes>& breath() const { return m_breath; }
    [[nodiscard]] const std::optional<std::pair<double, double>>& pulseSignature() const { return m_pulseSignature; }
    [[nodiscard]] double presentationOpacity(double now) const;

    void refreshLayer();

    // The band's opacity: 0.18 at rest, 0.255 at severity 1, 0.33 to 0.38 from 2 on
    // rising with the warning progress, with a pulse of up to 0.045 from 2 on.
    [[nodiscard]] static double opacity(double severity, double progress, double time, bool reduceMotion);

protected:
    void paintEvent(QPaintEvent* event) override;
    void tick() override;
    void attachedChanged() override;
    void solidChanged() override;

private:
    [[nodiscard]] int opacityLevel(double now) const;

    double m_severity = 0;
    double m_progress = 0;
    double m_origin = 0;
    std::array<QColor, 2> m_colors;
    double m_opacity = 0;
    std::optional<RepeatingKeyframes> m_breath;
    std::optional<std::pair<double, double>> m_pulseSignature;
    int m_paintedLevel = -1;
};

// The glow bands of every screen, shown while a yellow or red alert is presented.
// Rebuilt when the screens change. Main thread only.
class MenuBarGlowController : public QObject {
    Q_OBJECT
public:
    // Band height where the desktop has no top panel.
    static constexpr int statusBarThickness = 24;

    explicit MenuBarGlowController(OverlayPanelFactory& factory, QObject* parent = nullptr);
    ~MenuBarGlowController() override;

    void present(bool visible, double severity, double progress);

    [[nodiscard]] bool visible() const { return m_visible; }
    [[nodiscard]] double severity() const { return m_severity; }
    [[nodiscard]] double progress() const { return m_progress; }
    [[nodiscard]] const std::vector<std::unique_ptr<OverlayPanel>>& panels() const { return m_panels; }
    [[nodiscard]] const std::vector<MenuBarGlowView*>& views() const { return m_views; }

    // The screen's top area outside its available geometry, at least statusBarThickness
    // and never more than a quarter of the screen.
    [[nodiscard]] static QRect bandRect(const ScreenGeometry& screen);

private:
    void create();
    void clear();

    OverlayPanelFactory& m_factory;
    std::vector<std::unique_ptr<OverlayPanel>> m_panels;
    std::vector<MenuBarGlowView*> m_views; // owned by the panels
    bool m_visible = false;
    double m_severity = 0;
    double m_progress = 0;
};

} // namespace verticora
