#pragma once

#include "visuals/Animation.h"
#include "visuals/OverlayPanel.h"

#include <QTimer>

class QScreen;

namespace verticora {

// Panels on the real desktop: Qt's screens in their order, the primary screen as the main
// screen, screen changes coalesced into one screensChanged, aboutToQuit as
// aboutToTerminate, and shaped panels on X11 without a compositing manager.
class DesktopPanelFactory : public OverlayPanelFactory {
    Q_OBJECT
public:
    explicit DesktopPanelFactory(QObject* parent = nullptr);

    [[nodiscard]] std::vector<ScreenGeometry> screens() const override;
    [[nodiscard]] std::optional<std::size_t> mainScreenIndex() const override;
    [[nodiscard]] bool reduceMotion() const override;

    // The desktop's reduce-motion setting; off until a source is given.
    void setReduceMotionSource(ReduceMotionSource source) { m_reduceMotion = std::move(source); }

protected:
    [[nodiscard]] bool needsShapedPanels() const override;

private:
    void watchScreen(QScreen* screen);

    ReduceMotionSource m_reduceMotion;
    QTimer m_screenChange;
};

} // namespace verticora
