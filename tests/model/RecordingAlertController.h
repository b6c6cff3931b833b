#pragma once

#include "model/AlertController.h"

#include <optional>

namespace verticora::testing {

// Remembers what the model asked the alert visuals to show.
class RecordingAlertController final : public AlertController {
public:
    struct Presentation {
        ZoneAppearance appearance;
        double severity;
    };

    void setAppearance(ZoneAppearance appearance) override { m_appearance = appearance; }
    void setSeverity(double severity) override { m_severity = severity; }
    void setProgress(double) override {}
    void presentCurrent() override
    {
        lastPresented = Presentation{m_appearance, m_severity};
        ++presentations;
    }
    [[nodiscard]] bool redAlertEnabled() const override { return m_redAlertEnabled; }
    void setRedAlertEnabled(bool enabled) override { m_redAlertEnabled = enabled; }
    void setSmokeDepthScale(double depth) override { smokeDepth = depth; }
    void setEdgeEffectStyle(EdgeEffectStyle style) override { edgeEffectStyle = style; }
    void setPauseAction(std::function<void()> action) override { pauseAction = std::move(action); }

    [[nodiscard]] ZoneAppearance shown() const
    {
        return lastPresented ? lastPresented->appearance : ZoneAppearance::hidden;
    }

    std::optional<Presentation> lastPresented; // only the latest, so a day of frames costs nothing
    int presentations = 0;
    double smokeDepth = -1;
    EdgeEffectStyle edgeEffectStyle = EdgeEffectStyle::smoke;
    std::function<void()> pauseAction;

private:
    ZoneAppearance m_appearance = ZoneAppearance::hidden;
    double m_severity = 0;
    bool m_redAlertEnabled = true;
};

} // namespace verticora::testing
