#include "model/DisplaySettings.h"

#include "model/AlertController.h"
#include "model/ChangeBatch.h"
#include "model/ModelTexts.h"
#include "store/PosturePreferences.h"

#include <algorithm>
#include <cmath>

namespace verticora {

namespace {

constexpr double defaultSmokeDepth = 8;
constexpr double maximumSmokeDepth = 10;

} // namespace

DisplaySettings::DisplaySettings(AlertController& alerts, ChangeBatch& changes, std::function<void()> save,
                                 QObject* parent)
    : QObject(parent), m_alerts(alerts), m_changes(changes), m_save(std::move(save))
{
    connect(&m_changes, &ChangeBatch::changed, this, &DisplaySettings::changed);
}

void DisplaySettings::setReminderMode(ReminderMode mode)
{
    m_changes.publish(m_reminderMode, mode);
}

void DisplaySettings::setEdgeEffectStyle(EdgeEffectStyle style)
{
    if (style == m_edgeEffectStyle)
        return;
    m_changes.publish(m_edgeEffectStyle, style);
    m_alerts.setEdgeEffectStyle(style);
}

void DisplaySettings::setLiveChartMotion(LiveChartMotion motion)
{
    m_changes.publish(m_liveChartMotion, motion);
}

void DisplaySettings::setMenuBarStyle(MenuBarStyle style)
{
    m_changes.publish(m_menuBarStyle, style);
}

void DisplaySettings::setSmokeDepth(double depth)
{
    if (!std::isfinite(depth))
        return;
    const double clamped = std::clamp(depth, 0.0, maximumSmokeDepth);
    if (clamped == m_smokeDepth)
        return;
    m_changes.publish(m_smokeDepth, clamped);
    m_alerts.setSmokeDepthScale(clamped);
    m_save();
}

void DisplaySettings::setRedAlertEnabled(bool on)
{
    if (on == m_redAlertEnabled)
        return;
    m_changes.publish(m_redAlertEnabled, on);
    if (m_alerts.redAlertEnabled() != on) {
        m_alerts.setRedAlertEnabled(on);
        m_alerts.presentCurrent();
    }
    m_save();
}

void DisplaySettings::load(const PosturePreferences& p)
{
    m_redAlertEnabled = p.redAlertEnabled.value_or(true);
    m_liveChartMotion = LiveChartMotion::responsive;
    if (p.liveChartMotion) {
        m_liveChartMotion = fromRawName<LiveChartMotion>(p.liveChartMotion->toStdString()).value_or(
            LiveChartMotion::responsive);
    }
    m_menuBarStyle = MenuBarStyle::color;
    m_edgeEffectStyle = p.edgeEffectStyle.value_or(EdgeEffectStyle::tide);
    // Every smoke variant of older versions is shown as the one smoke reminder.
    m_reminderMode = p.reminderMode == ReminderMode::menuBar ? ReminderMode::menuBar : ReminderMode::smoke;
    m_smokeDepth = std::clamp(p.smokeDepth.value_or(defaultSmokeDepth), 0.0, maximumSmokeDepth);
    pushToAlerts();
}

void DisplaySettings::pushToAlerts()
{
    m_alerts.setSmokeDepthScale(m_smokeDepth);
    m_alerts.setEdgeEffectStyle(m_edgeEffectStyle);
    if (m_alerts.redAlertEnabled() != m_redAlertEnabled) {
        m_alerts.setRedAlertEnabled(m_redAlertEnabled);
        m_alerts.presentCurrent();
    }
}

void DisplaySettings::storeInto(PosturePreferences& p) const
{
    p.liveChartMotion = texts::text(rawName(m_liveChartMotion));
    p.menuBarStyle = texts::text(rawName(MenuBarStyle::color));
    p.redAlertEnabled = m_redAlertEnabled;
    p.edgeEffectStyle = m_edgeEffectStyle;
    p.reminderMode = m_reminderMode;
    p.smokeDepth = m_smokeDepth;
}

} // namespace verticora
