#include "visuals/ZoneAlertController.h"

namespace verticora {

ZoneAlertController::ZoneAlertController(OverlayPanelFactory& factory, VisualModeProvider mode, QObject* parent)
    : QObject(parent), m_live(factory), m_mode(std::move(mode))
{
    presentCurrent();
}

ZoneAlertController::~ZoneAlertController() = default;

void ZoneAlertController::presentCurrent()
{
    const DiagnosticVisualMode mode = currentMode();
    if (mode == DiagnosticVisualMode::noVisuals)
        m_live.present(ZoneAppearance::hidden, 0, 0);

    if (m_appliedMode != mode) {
        m_appliedMode = mode;
        if (showsSmoke(mode) != m_live.showsSmoke()) {
            m_live.setShowsSmoke(showsSmoke(mode));
            if (!m_live.showsSmoke())
                m_live.clearSmoke();
            else if (m_live.appearance() != ZoneAppearance::hidden && m_live.haloPanels().empty())
                m_live.createSmoke();
        }
        m_live.setShowsMenuGlow(showsMenuGlow(mode));
        m_live.menuGlow().present(m_live.showsMenuGlow() && m_live.appearance() != ZoneAppearance::hidden,
                                  m_live.severity(), m_live.warningProgress());
    }
    if (mode == DiagnosticVisualMode::noVisuals)
        return;

    ZoneAppearance effective = m_appearance;
    if (effective == ZoneAppearance::redFocus && !m_redAlertEnabled)
        effective = ZoneAppearance::yellowHalo;
    m_live.present(effective, m_severity, m_progress);
}

void ZoneAlertController::setSmokeDepthScale(double depth)
{
    m_live.setSmokeDepthScale(depth);
}

void ZoneAlertController::setEdgeEffectStyle(EdgeEffectStyle style)
{
    const EdgeEffectStyle old = m_live.edgeEffectStyle();
    m_live.setEdgeEffectStyle(style);
    if (style == old)
        return;
    m_live.clearSmoke();
    if (m_live.showsSmoke() && m_live.appearance() != ZoneAppearance::hidden)
        m_live.createSmoke();
}

void ZoneAlertController::setPauseAction(std::function<void()> action)
{
    m_pauseAction = action;
    m_live.setPauseAction(std::move(action));
}

void ZoneAlertController::diagnosticVisualPolicyChanged()
{
    presentCurrent();
}

DiagnosticVisualMode ZoneAlertController::currentMode() const
{
    return m_mode ? m_mode() : DiagnosticVisualMode::full;
}

} // namespace verticora
