#pragma once

#include "model/ZoneAppearance.h"
#include "store/SettingsEnums.h"
#include "visuals/MenuBarGlow.h"
#include "visuals/OverlayPanel.h"

#include <QObject>

#include <functional>
#include <memory>
#include <vector>

namespace verticora {

class PeripheralEffectView;
class SmokeHaloView;

// Owns the alert panels: the halo (smoke or another edge effect) on every screen, the
// focus card on the main screen and, through its MenuBarGlowController, the glow under
// the top panel. Rebuilds them when the screens change or a compositing manager starts or
// stops, and hides everything when the application quits. The factory must outlive it. Main thread only.
class LiveZoneVisualsController : public QObject {
    Q_OBJECT
public:
    explicit LiveZoneVisualsController(OverlayPanelFactory& factory, QObject* parent = nullptr);
    ~LiveZoneVisualsController() override;

    void present(ZoneAppearance appearance, double severity, double progress);

    void createSmoke();
    void clearSmoke();
    void createFocus();
    void clearFocus();

    // Run by the focus card's "Pause reminder" button; nothing when unset.
    [[nodiscard]] const std::function<void()>& pauseAction() const { return m_pauseAction; }
    void setPauseAction(std::function<void()> action) { m_pauseAction = std::move(action); }

    [[nodiscard]] MenuBarGlowController& menuGlow() { return m_menuGlow; }
    [[nodiscard]] const MenuBarGlowController& menuGlow() const { return m_menuGlow; }
    [[nodiscard]] bool showsMenuGlow() const { return m_showsMenuGlow; }
    void setShowsMenuGlow(bool shows) { m_showsMenuGlow = shows; }
    // The user's smoke depth, 0 to 10: 0 or less removes the halo panels, a change re-sizes
    // the effect views or brings the panels back.
    [[nodiscard]] double smokeDepthScale() const { return m_smokeDepthScale; }
    void setSmokeDepthScale(double depth);
    [[nodiscard]] EdgeEffectStyle edgeEffectStyle() const { return m_edgeEffectStyle; }
    // Only stored: the caller rebuilds the halo panels (clearSmoke, createSmoke).
    void setEdgeEffectStyle(EdgeEffectStyle style) { m_edgeEffectStyle = style; }
    [[nodiscard]] double warningProgress() const { return m_warningProgress; }
    [[nodiscard]] bool showsSmoke() const { return m_showsSmoke; }
    void setShowsSmoke(bool shows) { m_showsSmoke = shows; }
    // The effective appearance last presented; never greenHalo.
    [[nodiscard]] ZoneAppearance appearance() const { return m_appearance; }
    [[nodiscard]] double severity() const { return m_severity; }

    [[nodiscard]] const std::vector<std::unique_ptr<OverlayPanel>>& haloPanels() const { return m_haloPanels; }
    [[nodiscard]] const std::vector<SmokeHaloView*>& haloViews() const { return m_haloViews; }
    [[nodiscard]] const std::vector<PeripheralEffectView*>& edgeViews() const { return m_edgeViews; }
    [[nodiscard]] OverlayPanel* focusPanel() const { return m_focusPanel.get(); }

private:
    struct DeferredDelete {
        void operator()(OverlayPanel* panel) const;
    };

    void smokeDepthChanged(double old, double depth);
    void rebuildPanels();
    void runPauseAction();
    static void tearDown(OverlayPanel& panel, bool dropContent);

    OverlayPanelFactory& m_factory;
    std::function<void()> m_pauseAction;
    MenuBarGlowController m_menuGlow;
    bool m_showsMenuGlow = false;
    double m_smokeDepthScale = 1.0;
    EdgeEffectStyle m_edgeEffectStyle = EdgeEffectStyle::smoke;
    double m_warningProgress = 0;
    bool m_showsSmoke = true;
    ZoneAppearance m_appearance = ZoneAppearance::hidden;
    std::vector<std::unique_ptr<OverlayPanel>> m_haloPanels;
    std::vector<SmokeHaloView*> m_haloViews;          // owned by the halo panels
    std::vector<PeripheralEffectView*> m_edgeViews;   // owned by the halo panels
    // Deleted from the event loop: its button's click may be what tears it down.
    std::unique_ptr<OverlayPanel, DeferredDelete> m_focusPanel;
    double m_severity = 0;
};

} // namespace verticora
