// Height setup and the two zone levels.

#include "model/CameraModel.h"

#include "analysis/AnalysisCadence.h"
#include "analysis/ThresholdRules.h"
#include "model/AlertController.h"
#include "model/CaptureWorker.h"
#include "model/ModelTexts.h"

#include <cmath>

namespace verticora {

void CameraModel::capture()
{
    if (!m_session->active() || !m_hasPose || m_setup->stage() != SetupStage::heightSetup)
        return;
    resetSubject();
    m_engine.reset();
    m_engine.setCalibrating(true);
    onCaptureQueue([](CaptureWorker& worker) {
        worker.setAnalysisInterval(AnalysisCadence::captureInterval);
        worker.configureCaptureRate(true);
    });
    m_setup->setCapturing(true);
    m_setup->setProgress(0.0);
}

void CameraModel::confirm()
{
    m_setup->followLevels();
    const std::optional<PoseFeatures>& baseline = m_engine.baseline();
    const HeightSetup& setup = *m_setup;
    if (!m_session->active() || !m_hasPose || m_awaitingReacquisition || setup.stage() != SetupStage::review
        || m_session->paused() || !baseline || !baseline->valid() || !isValidThresholdPair(setup.yellow(), setup.red())
        || !isValidDelay(setup.delay()) || m_session->selectedID().isEmpty())
        return;

    const PosturePreferences kept = m_preferences;
    applyThresholds();
    m_engine.setPaused(false);
    m_engine.clearTiming();
    publish(m_warningProgress, 0.0);
    m_setup->setStage(SetupStage::monitoring);
    m_session->setPaused(false);
    persistSettings(true);

    if (!m_persistenceMessage) {
        m_setup->forgetPreviousCalibration();
        m_setup->forgetCheckLevels();
        publish(m_message, texts::text(texts::zonesSet));
        return;
    }
    m_preferences = kept;
    refreshSavedState(false);
    m_setup->setStage(SetupStage::review);
    publish(m_message, texts::text(texts::heightNotSaved));
}

void CameraModel::applyThresholds()
{
    closeStoreIntervals(false);
    m_setup->followLevels();
    if (!isValidDelay(m_setup->delay()))
        return;
    m_engine.setDelay(m_setup->delay());
    if (isValidThresholdPair(m_setup->yellow(), m_setup->red())) {
        m_engine.setYellowThreshold(m_setup->yellow());
        m_engine.setRedThreshold(m_setup->red());
    }
    m_engine.clearRedEpisode();
    publish(m_warningProgress, 0.0);
    hideAlerts();
    onCaptureQueue([baseline = m_engine.baseline(), yellow = m_setup->yellow(),
                    red = m_setup->red()](CaptureWorker& worker) { worker.setReference(baseline, yellow, red); });
    persistSettings(false);
}

void CameraModel::setHeightBoundary(double value, bool isRed)
{
    if (!std::isfinite(value))
        return;
    m_setup->moveBoundary(value, isRed);
    applyThresholds();
}

void CameraModel::setForgiveness(double position)
{
    if (std::isnan(position))
        return;
    m_setup->setForgiveness(position);
    applyThresholds();
}

void CameraModel::restartSetup()
{
    // A session paused over an update has no camera running: the setup starts it.
    std::optional<std::function<void()>> startAfterwards;
    if (m_updatePause) {
        startAfterwards = std::move(m_updatePause->resumeAction);
        m_updatePause.reset();
        m_session->setActive(false);
    }
    closeStoreIntervals(true);
    setCapturePaused(false);
    m_setup->keepPreviousCalibration(m_preferences.calibration(m_session->selectedID()));

    resetSubject();
    m_setup->setYellow(defaultYellowThreshold);
    m_setup->setRed(defaultRedThreshold);
    m_pose.reset();
    publish(m_hasPose, false);
    m_lossSince.reset();
    m_reacquiredSince.reset();
    m_awaitingReacquisition = false;

    m_engine.reset();
    hideAlerts();
    publish(m_warningProgress, 0.0);
    m_setup->setStage(SetupStage::heightSetup);
    m_setup->setCapturing(false);
    m_session->setPaused(false);
    m_session->setPauseUntil(std::optional<double>());
    m_setup->setProgress(0.0);
    publish(m_score, std::optional<double>());
    m_setup->resetCheck();
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
    if (!m_setup->previousCalibration() || m_setup->previousCalibration()->cameraID != m_session->selectedID())
        return;
    const SavedCalibration previous = *m_setup->previousCalibration();
    if (!restoreEngine(previous))
        return;

    resetSubject();
    publish(m_hasPose, false);
    m_pose.reset();
    m_setup->setYellow(previous.yellow);
    m_setup->setRed(previous.red);
    m_setup->setCapturing(false);
    m_setup->setProgress(0.0);
    publish(m_score, std::optional<double>());
    publish(m_warningProgress, 0.0);
    m_session->setPaused(false);
    m_session->setPauseUntil(std::optional<double>());
    m_setup->setStage(m_session->active() ? SetupStage::monitoring : SetupStage::idle);
    publish(m_state, m_session->active() ? ZoneState::ready : ZoneState::idle);
    m_setup->forgetPreviousCalibration();
    m_setup->resetCheck();
    setCapturePaused(false);
    hideAlerts();
    publish(m_message, texts::text(texts::previousRestored));
    persistSettings(false);
}

} // namespace verticora
