#pragma once

#include "visuals/Animation.h"
#include "visuals/OverlayPanel.h"
#include "visuals/OverlayPlatform.h"

#include <QTimer>

class QScreen;

namespace verticora {

// Panels on the real desktop: Qt's screens in their order, the primary screen as the main
// screen, screen changes coalesced into one screensChanged, aboutToQuit as
// aboutToTerminate, and on X11 whether a compositing manager runs, followed while the
// application runs.
class DesktopPanelFactory : public OverlayPanelFactory {
    Q_OBJECT
public:
    explicit DesktopPanelFactory(QObject* parent = nullptr);

    [[nodiscard]] std::vector<ScreenGeometry> screens() const override;
    [[nodiscard]] std::optional<std::size_t> mainScreenIndex() const override;
    [[nodiscard]] bool reduceMotion() const override;
    [[nodiscard]] bool composites() const override { return m_compositing.composites(); }

    // The desktop's reduce-motion setting; off until a source is given.
    void setReduceMotionSource(ReduceMotionSource source) { m_reduceMotion = std::move(source); }

private:
    void watchScreen(QScreen* screen);

    ReduceMotionSource m_reduceMotion;
    QTimer m_screenChange;
    CompositingWatch m_compositing;
};

} // namespace verticora
