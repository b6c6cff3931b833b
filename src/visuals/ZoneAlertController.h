#pragma once

#include "model/AlertController.h"
#include "visuals/LiveZoneVisualsController.h"

#include <QObject>

#include <functional>
#include <optional>

namespace verticora {

// The one entry through which the posture model turns its state into what the user sees
// outside the controls window. The model writes appearance, severity and progress and
// presents; the controller combines them with the diagnostic visual mode and the red-alert
// switch and hands the result to its LiveZoneVisualsController. Main thread only; the
// factory must outlive it.
class ZoneAlertController : public QObject, public AlertController {
    Q_OBJECT
public:
    using VisualModeProvider = std::function<DiagnosticVisualMode()>;

    // `mode` gives the diagnostic visual mode; without one the mode is always full.
    explicit ZoneAlertController(OverlayPanelFactory& factory, VisualModeProvider mode = {}, QObject* parent = nullptr);
    ~ZoneAlertController() override;

    void setAppearance(ZoneAppearance appearance) override { m_appearance = appearance; }
    void setSeverity(double severity) override { m_severity = severity; }
    void setProgress(double progress) override { m_progress = progress; }
    void presentCurrent() override;

    [[nodiscard]] bool redAlertEnabled() const override { return m_redAlertEnabled; }
    // Written like appearance: the model presents afterwards.
    void setRedAlertEnabled(bool enabled) override { m_redAlertEnabled = enabled; }
    void setSmokeDepthScale(double depth) override;
    void setEdgeEffectStyle(EdgeEffectStyle style) override;
    void setPauseAction(std::function<void()> action) override;

    void setVisualModeProvider(VisualModeProvider mode) override { m_mode = std::move(mode); }

    [[nodiscard]] ZoneAppearance appearance() const { return m_appearance; }
    [[nodiscard]] double severity() const { return m_severity; }
    [[nodiscard]] double progress() const { return m_progress; }
    [[nodiscard]] std::optional<DiagnosticVisualMode> appliedMode() const { return m_appliedMode; }
    [[nodiscard]] const std::function<void()>& pauseAction() const { return m_pauseAction; }
    [[nodiscard]] LiveZoneVisualsController& live() { return m_live; }
    [[nodiscard]] const LiveZoneVisualsController& live() const { return m_live; }

public slots:
    // The diagnostic visual policy changed: present again under the new mode.
    void diagnosticVisualPolicyChanged() override;

private:
    [[nodiscard]] DiagnosticVisualMode currentMode() const;

    LiveZoneVisualsController m_live;
    VisualModeProvider m_mode;
    ZoneAppearance m_appearance = ZoneAppearance::hidden;
    double m_severity = 0;
    double m_progress = 0;
    std::optional<DiagnosticVisualMode> m_appliedMode;
    bool m_redAlertEnabled = true;
    std::function<void()> m_pauseAction;
};

} // namespace verticora
