#pragma once

#include "model/ZoneAppearance.h"
#include "store/SettingsEnums.h"

#include <functional>

namespace verticora {

// What the camera model drives to show reminders outside the controls window. The
// desktop implementation is ZoneAlertController (visuals); tests record the calls.
// Main thread only.
class AlertController {
public:
    virtual ~AlertController() = default;

    // The model writes appearance, and for a zone result severity and progress, then
    // presents.
    virtual void setAppearance(ZoneAppearance appearance) = 0;
    virtual void setSeverity(double severity) = 0;
    virtual void setProgress(double progress) = 0;
    virtual void presentCurrent() = 0;

    // The user's switch for the red focus card.
    [[nodiscard]] virtual bool redAlertEnabled() const = 0;
    virtual void setRedAlertEnabled(bool enabled) = 0;

    // The smoke depth, 0 to 10; 0 or less removes the halo panels.
    virtual void setSmokeDepthScale(double depth) = 0;
    // A different style tears the halo panels down and rebuilds them in the new style
    // when they are showing.
    virtual void setEdgeEffectStyle(EdgeEffectStyle style) = 0;
    // Run by the focus card's "Pause reminder" button.
    virtual void setPauseAction(std::function<void()> action) = 0;

    // The diagnostic visual mode the reminders follow; full until one is given.
    virtual void setVisualModeProvider(std::function<DiagnosticVisualMode()> mode) { (void)mode; }
    // The diagnostic visual mode changed: present again under the new mode.
    virtual void diagnosticVisualPolicyChanged() { presentCurrent(); }
};

} // namespace verticora
