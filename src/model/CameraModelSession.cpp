// Camera discovery, start and stop, pausing and the platform's lifecycle events.

#include "model/CameraModel.h"

#include "model/AlertController.h"
#include "model/CameraRunToken.h"
#include "model/CaptureWorker.h"
#include "model/ModelClock.h"
#include "model/ModelTexts.h"

namespace verticora {

void CameraModel::refreshCameras()
{
    m_session->refreshCameras();
    const CameraSession& camera = *m_session;
    if (!camera.selectedID().isEmpty() && !camera.selectedAvailable() && (camera.active() || camera.loading()))
        stop(texts::text(texts::cameraDisconnected));
}

void CameraModel::select(const QString& id)
{
    if (id == m_session->selectedID())
        return;
    stop(texts::text(texts::cameraChanged));
    m_session->setSelectedID(id);
    m_setup->setYellow(m_preferences.yellow);
    m_setup->setRed(m_preferences.red);
    refreshSavedState(true);
    persistSettings(false);
}

void CameraModel::setCameraEnabled(bool on)
{
    if (!on) {
        if (m_session->active() || m_session->loading())
            stop(texts::text(texts::cameraOff));
        return;
    }
    if (m_session->active() && m_session->paused())
        togglePause();
    else if (!m_session->active() && !m_session->loading())
        startCamera(true);
}

void CameraModel::startCamera(bool resumeSaved)
{
    if (m_session->active() || m_session->loading())
        return;
    m_updatePause.reset();
    resetSubject();
    m_generation = m_runToken->increment();
    m_startResumesSaved = resumeSaved;
    publish(m_warningProgress, 0.0);
    m_session->setLoading(true);
    publish(m_message, texts::text(texts::waitingForPermission));

    continueStart(m_session->cameraAuthorized());
}

void CameraModel::continueStart(bool authorized)
{
    if (!authorized) {
        m_session->setLoading(false);
        publish(m_state, ZoneState::error);
        publish(m_message, texts::text(texts::permissionDenied));
        return;
    }
    const std::optional<QString> name = m_session->selectedCameraName();
    if (!name) {
        m_session->setLoading(false);
        publish(m_state, ZoneState::error);
        publish(m_message, texts::text(texts::chooseAvailableCamera));
        return;
    }
    publish(m_message, texts::text(texts::openingPrefix) + *name + texts::text(texts::openingSuffix));
    onCaptureQueue([generation = m_generation, id = m_session->selectedID()](CaptureWorker& worker) {
        worker.startSession(generation, id);
    });
}

void CameraModel::sessionStarted(std::int64_t generation, SessionOutcome outcome, bool running)
{
    if (generation != m_generation || outcome == SessionOutcome::abandoned)
        return;
    if (outcome == SessionOutcome::openFailed) {
        stop(texts::text(texts::couldNotOpen));
        publish(m_state, ZoneState::error);
        return;
    }
    // A camera busy in another app is no error: the session counts as started and waits,
    // paused, for the camera to be free.
    const bool busy = outcome == SessionOutcome::busy;
    if (!running && !busy) {
        stop(texts::text(texts::didNotStart));
        publish(m_state, ZoneState::error);
        return;
    }
    m_session->setLoading(false);
    m_session->setActive(true);
    m_setup->setStage(SetupStage::heightSetup);
    publish(m_state, ZoneState::ready);
    m_lastFrame = m_lastAnalysisTime = m_clock->uptime();

    if (m_startResumesSaved && restoreSavedCalibration()) {
        m_setup->setStage(SetupStage::monitoring);
        m_session->setPaused(false);
        publish(m_score, std::optional<double>());
        hideAlerts();
        publish(m_message, texts::text(texts::resumedSavedZones));
    } else {
        m_setup->setYellow(defaultYellowThreshold);
        m_setup->setRed(defaultRedThreshold);
        publish(m_message, texts::text(texts::sitComfortably));
    }
    if (busy)
        pauseTracking(PauseReason::lent);
    if (m_session->screenLocked())
        restWhileLocked();
}

bool CameraModel::restoreSavedCalibration()
{
    const std::optional<SavedCalibration> saved = m_preferences.calibration(m_session->selectedID());
    if (!saved || !restoreEngine(*saved))
        return false;
    m_setup->setYellow(saved->yellow);
    m_setup->setRed(saved->red);
    return true;
}

bool CameraModel::restoreEngine(const SavedCalibration& calibration)
{
    std::optional<PoseFeatures> baseline = PoseFeatures::fromCoreVector(calibration.baseline);
    if (!baseline)
        return false;
    baseline->landmarkHeight = calibration.landmarkHeight;
    return m_engine.restoreValidated(*baseline, calibration.yellow, calibration.red, m_setup->delay());
}

void CameraModel::stop(const QString& message)
{
    m_updatePause.reset();
    closeStoreIntervals(true);
    resetSubject();
    m_generation = m_runToken->increment();

    m_session->setActive(false);
    m_session->setLoading(false);
    m_engine.reset();
    hideAlerts();
    m_session->setPauseUntil(std::optional<double>());

    m_lossSince.reset();
    m_reacquiredSince.reset();
    m_awaitingReacquisition = false;
    m_setup->resetCheck();
    m_setup->forgetPreviousCalibration();
    refreshSavedState(true);

    m_pose.reset();
    publish(m_hasPose, false);
    publish(m_landmarks, QList<QPointF>());
    publish(m_score, std::optional<double>());
    publish(m_warningProgress, 0.0);
    m_session->setPaused(false);
    m_setup->setCapturing(false);
    m_setup->setProgress(0.0);
    m_setup->setStage(SetupStage::idle);
    publish(m_state, ZoneState::idle);
    publish(m_message, message);

    onCaptureQueue([](CaptureWorker& worker) { worker.stopSession(); });
}

void CameraModel::togglePause()
{
    // A lent camera or a locked screen may pause any stage; only tracking pauses by hand.
    if (!m_session->paused() && !m_setup->heightCaptured())
        return;
    m_session->setPauseUntil(std::optional<double>());
    setPaused(!m_session->paused(), false);
}

bool CameraModel::pauseFor(double seconds)
{
    if (!m_session->active() || !m_setup->heightCaptured() || !(seconds > 0))
        return false;
    m_session->setPauseUntil(std::optional(m_clock->wallTime() + seconds));
    if (m_session->paused()) {
        // The user's own pause from now on: an unlock or a free camera no longer ends it.
        m_session->setPaused(true, PauseReason::user);
        publish(m_message, texts::text(texts::pausedForAWhile));
    } else {
        setPaused(true, false);
    }
    return true;
}

void CameraModel::pollPause(double wallTime)
{
    if (m_session->paused() && m_session->pauseUntil() && wallTime >= *m_session->pauseUntil())
        setPaused(false, true);
}

void CameraModel::setPaused(bool paused, bool automatic)
{
    if (!paused && m_updatePause) {
        resumeFromUpdatePause(automatic);
        return;
    }
    if (paused)
        pauseTracking(PauseReason::user);
    else
        resumeTracking();
}

void CameraModel::pauseTracking(PauseReason reason)
{
    closeStoreIntervals(true);
    publish(m_bottomExitHeld, false);
    m_session->setPaused(true, reason);
    publish(m_hasPose, false);
    m_pose.reset();
    publish(m_warningProgress, 0.0);
    hideAlerts();
    if (m_setup->capturing()) {
        // A height capture cannot go on without the camera; it starts again afterwards.
        m_engine.reset();
        m_setup->setCapturing(false);
        m_setup->setProgress(0.0);
    }

    // A lent camera was halted by the service, which keeps watching for it to be free.
    setCapturePaused(true, reason != PauseReason::lent);
    m_engine.setPaused(true);
    m_engine.clearTiming();
    publish(m_score, std::optional<double>());
    publish(m_state, ZoneState::paused);
    std::string_view message = m_session->pauseUntil() ? texts::pausedForAWhile : texts::paused;
    if (reason == PauseReason::lent)
        message = texts::cameraLent;
    else if (reason == PauseReason::locked)
        message = texts::screenLocked;
    publish(m_message, texts::text(message));
}

void CameraModel::resumeTracking()
{
    closeStoreIntervals(true);
    publish(m_bottomExitHeld, false);
    m_session->setPaused(false);
    publish(m_hasPose, false);
    m_pose.reset();
    publish(m_warningProgress, 0.0);
    hideAlerts();

    setCapturePaused(false);
    m_session->setPauseUntil(std::optional<double>());
    m_engine.setPaused(false);
    m_engine.clearTiming();
    m_lossSince.reset();
    m_reacquiredSince.reset();
    m_awaitingReacquisition = true;
    publish(m_state, ZoneState::ready);
    publish(m_message, texts::text(texts::resuming));
}

void CameraModel::setCapturePaused(bool paused, bool halt)
{
    onCaptureQueue([generation = m_generation, paused, halt](CaptureWorker& worker) {
        worker.setCapturePaused(generation, paused, halt);
    });
}

void CameraModel::cameraAvailabilityChanged(std::int64_t generation, CameraAvailability availability)
{
    if (generation != m_generation || !m_session->active() || m_updatePause)
        return;
    if (availability == CameraAvailability::lent) {
        // Already paused (by the user, or a resume that found the camera taken): the
        // camera is closed either way, and a manual resume tries it again.
        if (!m_session->paused())
            pauseTracking(PauseReason::lent);
        return;
    }
    if (m_session->paused() && m_session->pauseReason() == PauseReason::lent)
        resumeTracking();
}

void CameraModel::setScreenLocked(bool locked)
{
    if (locked == m_session->screenLocked())
        return;
    m_session->setScreenLocked(locked);
    if (locked) {
        restWhileLocked();
        return;
    }
    if (m_session->active() && m_session->paused() && m_session->pauseReason() == PauseReason::locked && !m_updatePause)
        resumeTracking();
}

void CameraModel::restWhileLocked()
{
    if (!m_session->active() || m_session->loading() || m_updatePause)
        return;
    if (!m_session->paused()) {
        pauseTracking(PauseReason::locked);
    } else if (m_session->pauseReason() == PauseReason::lent) {
        // The camera is closed already; the unlock, not the other app's end, resumes.
        m_session->setPaused(true, PauseReason::locked);
        publish(m_message, texts::text(texts::screenLocked));
    }
}

void CameraModel::setPreviewLayer(std::weak_ptr<PreviewSink> preview)
{
    onCaptureQueue([preview = std::move(preview)](CaptureWorker& worker) { worker.setPreview(preview); });
}

void CameraModel::systemWillSleep()
{
    stop(texts::text(texts::stoppedBeforeSleep));
}

} // namespace verticora
