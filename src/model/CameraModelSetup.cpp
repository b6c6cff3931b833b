// Height setup and the two zone levels.

#include "model/CameraModel.h"

#include "analysis/AnalysisCadence.h"
#include "analysis/ThresholdRules.h"
#include "model/AlertController.h"
#include "model/CaptureWorker.h"
#include "model/ModelTexts.h"

#include <algorithm>
#include <cmath>

namespace verticora {

namespace {

constexpr double meterMinimumGap = 0.4; // the meter keeps the levels wider apart than validity needs
constexpr double meterMaximumRed = 3.0;
constexpr double minimumYellow = 0.15;

} // namespace

void CameraModel::capture()
{
    if (!m_active || !m_hasPose || m_stage != SetupStage::heightSetup)
        return;
    resetSubject();
    m_engine.reset();
    m_engine.setCalibrating(true);
    onCaptureQueue([](CaptureWorker& worker) {
        worker.setAnalysisInterval(AnalysisCadence::captureInterval);
        worker.configureCaptureRate(true);
    });
    publish(m_capturing, true);
    publish(m_progress, 0.0);
}

void CameraModel::confirm()
{
    refreshSetupCheckThresholds();
    const std::optional<PoseFeatures>& baseline = m_engine.baseline();
    if (!m_active || !m_hasPose || m_awaitingReacquisition || m_stage != SetupStage::review || m_paused
        || !baseline || !baseline->valid() || !isValidThresholdPair(m_yellow, m_red) || !isValidDelay(m_delay)
        || m_selectedID.isEmpty())
        return;

    const PosturePreferences kept = m_preferences;
    applyThresholds();
    m_engine.setPaused(false);
    m_engine.clearTiming();
    publish(m_warningProgress, 0.0);
    publish(m_stage, SetupStage::monitoring);
    publishPaused(false);
    persistSettings(true);

    if (!m_persistenceMessage) {
        m_previousCalibration.reset();
        publish(m_canUndoHeightReset, false);
        m_reviewThresholds.reset();
        publish(m_message, texts::text(texts::zonesSet));
        return;
    }
    m_preferences = kept;
    refreshSavedState(false);
    publish(m_stage, SetupStage::review);
    publish(m_message, texts::text(texts::heightNotSaved));
}

void CameraModel::applyThresholds()
{
    closeStoreIntervals(false);
    refreshSetupCheckThresholds();
    if (!isValidDelay(m_delay))
        return;
    m_engine.setDelay(m_delay);
    if (isValidThresholdPair(m_yellow, m_red)) {
        m_engine.setYellowThreshold(m_yellow);
        m_engine.setRedThreshold(m_red);
    }
    m_engine.clearRedEpisode();
    publish(m_warningProgress, 0.0);
    hideAlerts();
    onCaptureQueue([baseline = m_engine.baseline(), yellow = m_yellow, red = m_red](CaptureWorker& worker) {
        worker.setReference(baseline, yellow, red);
    });
    persistSettings(false);
}

void CameraModel::setHeightBoundary(double value, bool isRed)
{
    if (!std::isfinite(value))
        return;
    if (isRed) {
        const double lowest = std::max(m_yellow * 1.25, m_yellow + meterMinimumGap);
        setRed(std::min(std::max(value, lowest), meterMaximumRed));
    } else {
        const double highest = std::min(m_red / 1.25, m_red - meterMinimumGap);
        setYellow(std::max(std::min(value, highest), minimumYellow));
    }
    applyThresholds();
}

double CameraModel::forgiveness() const
{
    return std::clamp(0.5 + 0.5 * std::log2(m_yellow / defaultYellowThreshold), 0.0, 1.0);
}

void CameraModel::setForgiveness(double position)
{
    if (std::isnan(position))
        return;
    // Both levels move together and keep their ratio; the chosen height is untouched.
    const double factor = position < 0 ? 0.5 : std::exp2(2 * (std::min(position, 1.0) - 0.5));
    setYellow(defaultYellowThreshold * factor);
    setRed(defaultRedThreshold * factor);
    applyThresholds();
}

void CameraModel::restartSetup()
{
    // A session paused over an update has no camera running: the setup starts it.
    std::optional<std::function<void()>> startAfterwards;
    if (m_updatePause) {
        startAfterwards = std::move(m_updatePause->resumeAction);
        m_updatePause.reset();
        publish(m_active, false);
    }
    closeStoreIntervals(true);
    setCapturePaused(false);
    if (!m_previousCalibration)
        m_previousCalibration = m_preferences.calibration(m_selectedID);
    publish(m_canUndoHeightReset, m_previousCalibration.has_value());

    resetSubject();
    setYellow(defaultYellowThreshold);
    setRed(defaultRedThreshold);
    m_pose.reset();
    publish(m_hasPose, false);
    m_lossSince.reset();
    m_reacquiredSince.reset();
    m_awaitingReacquisition = false;

    m_engine.reset();
    hideAlerts();
    publish(m_warningProgress, 0.0);
    publish(m_stage, SetupStage::heightSetup);
    publish(m_capturing, false);
    publishPaused(false);
    publish(m_pauseUntil, std::optional<double>());
    publish(m_progress, 0.0);
    publish(m_score, std::optional<double>());
    restartSetupCheck();
    m_reviewThresholds.reset();
    publish(m_message, texts::text(texts::setHeightAgain));

    if (!startAfterwards)
        return;
    if (*startAfterwards)
        (*startAfterwards)();
    else
        startCamera(false);
}

void CameraModel::undoHeightReset()
{
    if (!m_previousCalibration || m_previousCalibration->cameraID != m_selectedID)
        return;
    const SavedCalibration previous = *m_previousCalibration;
    if (!restoreEngine(previous))
        return;

    resetSubject();
    publish(m_hasPose, false);
    m_pose.reset();
    setYellow(previous.yellow);
    setRed(previous.red);
    publish(m_capturing, false);
    publish(m_progress, 0.0);
    publish(m_score, std::optional<double>());
    publish(m_warningProgress, 0.0);
    publishPaused(false);
    publish(m_pauseUntil, std::optional<double>());
    publish(m_stage, m_active ? SetupStage::monitoring : SetupStage::idle);
    publish(m_state, m_active ? ZoneState::ready : ZoneState::idle);
    m_previousCalibration.reset();
    publish(m_canUndoHeightReset, false);
    restartSetupCheck();
    m_reviewThresholds.reset();
    setCapturePaused(false);
    hideAlerts();
    publish(m_message, texts::text(texts::previousRestored));
    persistSettings(false);
}

void CameraModel::refreshSetupCheckThresholds()
{
    if (m_stage != SetupStage::review)
        return;
    const std::pair<double, double> levels{m_yellow, m_red};
    if (m_reviewThresholds == levels)
        return;
    restartSetupCheck();
    m_reviewThresholds = levels;
}

void CameraModel::restartSetupCheck()
{
    m_setupCheck.restart();
    publish(m_setupCheckPhase, m_setupCheck.phase);
}

} // namespace verticora
