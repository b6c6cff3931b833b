#pragma once

#include "visuals/Animation.h"

#include <QBasicTimer>
#include <QWidget>

#include <optional>

namespace verticora {

// A custom-painted view on an overlay panel: transparent, never takes a click, and faded
// in by its WarningEntranceView through the painter (an offscreen opacity effect would
// re-render a whole screen on every frame of the fade). Subclasses drive their motion
// with frame ticks that run only while something moves.
class OverlayView : public QWidget {
    Q_OBJECT
public:
    explicit OverlayView(ReduceMotionSource reduceMotion, QWidget* parent = nullptr);

    [[nodiscard]] double entranceOpacity() const { return m_entranceOpacity; }
    void setEntranceOpacity(double opacity);

    // In a shown window: drift and breathing run only then.
    [[nodiscard]] bool attached() const { return m_attached; }

    // The part of the view that paints, in its own coordinates.
    [[nodiscard]] virtual QRegion coverage() const { return rect(); }

    // Drawn without translucency, for a desktop without a compositing manager: only solid
    // shapes within `area` (own coordinates), no drift or breathing (see SolidShapes.h).
    // None: translucent, as usual.
    [[nodiscard]] bool solid() const { return m_solidArea.has_value(); }
    [[nodiscard]] const std::optional<QRect>& solidArea() const { return m_solidArea; }
    void setSolidArea(std::optional<QRect> area);

protected:
    [[nodiscard]] bool reduceMotion() const { return reduceMotionEnabled(m_reduceMotion); }
    // Tells a shaped panel (X11 without a compositing manager) that coverage() changed.
    void coverageChanged();

    // Calls tick() every `intervalMs` until stopTicks().
    void runTicks(int intervalMs);
    void stopTicks();
    [[nodiscard]] bool ticking() const { return m_ticks.isActive(); }
    virtual void tick() {}
    virtual void attachedChanged() {}
    virtual void solidChanged() {}

    void timerEvent(QTimerEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void setAttached(bool attached);

    ReduceMotionSource m_reduceMotion;
    double m_entranceOpacity = 1;
    bool m_attached = false;
    std::optional<QRect> m_solidArea;
    QBasicTimer m_ticks;
    int m_tickInterval = 0;
};

// Sets the geometry and, for a widget that is not shown yet (whose resize event Qt
// would hold back until it is), delivers the resize event now so that its layout is
// current at once.
void applyGeometryNow(QWidget& widget, const QRect& geometry);

} // namespace verticora
