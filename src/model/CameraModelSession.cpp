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
    const QList<CameraDevice> devices = m_session->discoverDevices();
    QList<CameraChoice> choices;
    for (const CameraDevice& device : devices)
        choices.append({device.uniqueID, device.localizedName});
    publish(m_cameras, choices, &CameraModel::camerasChanged);

    if (!m_selectedID.isEmpty() && !deviceAvailable(m_selectedID) && (m_active || m_loading))
        stop(texts::text(texts::cameraDisconnected));
    if (m_selectedID.isEmpty()) {
        for (const CameraDevice& device : devices) {
            if (device.localizedName.contains(QLatin1String("Studio Display"), Qt::CaseInsensitive)) {
                publish(m_selectedID, device.uniqueID, &CameraModel::selectedIDChanged);
                break;
            }
        }
    }
    if (!m_selectedID.isEmpty() && !deviceAvailable(m_selectedID)) {
        choices.append({m_selectedID, texts::text(texts::cameraUnavailableName)});
        publish(m_cameras, choices, &CameraModel::camerasChanged);
    }
}

bool CameraModel::deviceAvailable(const QString& id) const
{
    return std::any_of(m_cameras.begin(), m_cameras.end(), [&](const CameraChoice& c) {
        return c.id == id && c.name != texts::text(texts::cameraUnavailableName);
    });
}

void CameraModel::select(const QString& id)
{
    if (id == m_selectedID)
        return;
    stop(texts::text(texts::cameraChanged));
    publish(m_selectedID, id, &CameraModel::selectedIDChanged);
    setYellow(m_preferences.yellow);
    setRed(m_preferences.red);
    refreshSavedState(true);
    persistSettings(false);
}

void CameraModel::setCameraEnabled(bool on)
{
    if (!on) {
        if (m_active || m_loading)
            stop(texts::text(texts::cameraOff));
        return;
    }
    if (m_active && m_paused)
        togglePause();
    else if (!m_active && !m_loading)
        startCamera(true);
}

void CameraModel::startCamera(bool resumeSaved)
{
    if (m_active || m_loading)
        return;
    m_updatePause.reset();
    resetSubject();
    m_generation = m_runToken->increment();
    m_startResumesSaved = resumeSaved;
    publish(m_warningProgress, 0.0, &CameraModel::warningProgressChanged);
    publish(m_loading, true, &CameraModel::loadingChanged);
    publish(m_message, texts::text(texts::waitingForPermission), &CameraModel::messageChanged);

    continueStart(!m_session->accessDenied(m_selectedID));
}

void CameraModel::continueStart(bool authorized)
{
    if (!authorized) {
        publish(m_loading, false, &CameraModel::loadingChanged);
        publish(m_state, QStringLiteral("error"), &CameraModel::stateChanged);
        publish(m_message, texts::text(texts::permissionDenied), &CameraModel::messageChanged);
        return;
    }
    const QList<CameraDevice> devices = m_session->discoverDevices();
    const auto device = std::find_if(devices.begin(), devices.end(),
                                     [&](const CameraDevice& d) { return d.uniqueID == m_selectedID; });
    if (m_selectedID.isEmpty() || device == devices.end()) {
        publish(m_loading, false, &CameraModel::loadingChanged);
        publish(m_state, QStringLiteral("error"), &CameraModel::stateChanged);
        publish(m_message, texts::text(texts::chooseAvailableCamera), &CameraModel::messageChanged);
        return;
    }
    publish(m_message, texts::text(texts::openingPrefix) + device->localizedName + texts::text(texts::openingSuffix),
            &CameraModel::messageChanged);
    onCaptureQueue([generation = m_generation, id = m_selectedID](CaptureWorker& worker) {
        worker.startSession(generation, id);
    });
}

void CameraModel::sessionStarted(std::int64_t generation, SessionOutcome outcome, bool running)
{
    if (generation != m_generation || outcome == SessionOutcome::abandoned)
        return;
    if (outcome == SessionOutcome::openFailed) {
        stop(texts::text(texts::couldNotOpen));
        publish(m_state, QStringLiteral("error"), &CameraModel::stateChanged);
        return;
    }
    // A camera busy in another app is no error: the session counts as started and waits,
    // paused, for the camera to be free.
    const bool busy = outcome == SessionOutcome::busy;
    if (!running && !busy) {
        stop(texts::text(texts::didNotStart));
        publish(m_state, QStringLiteral("error"), &CameraModel::stateChanged);
        return;
    }
    publish(m_loading, false, &CameraModel::loadingChanged);
    publish(m_active, true, &CameraModel::activeChanged);
    publish(m_stage, QStringLiteral("green"), &CameraModel::stageChanged);
    publish(m_state, QStringLiteral("ready"), &CameraModel::stateChanged);
    m_lastFrame = m_lastAnalysisTime = m_clock->uptime();

    if (m_startResumesSaved && restoreSavedCalibration()) {
        publish(m_stage, QStringLiteral("monitoring"), &CameraModel::stageChanged);
        publishPaused(false);
        publish(m_score, std::optional<double>(), &CameraModel::scoreChanged);
        hideAlerts();
        publish(m_message, texts::text(texts::resumedSavedZones), &CameraModel::messageChanged);
    } else {
        setYellow(defaultYellowThreshold);
        setRed(defaultRedThreshold);
        publish(m_message, texts::text(texts::sitComfortably), &CameraModel::messageChanged);
    }
    if (busy)
        pauseTracking(PauseReason::lent);
    if (m_screenLocked)
        restWhileLocked();
}

bool CameraModel::restoreSavedCalibration()
{
    const std::optional<SavedCalibration> saved = m_preferences.calibration(m_selectedID);
    if (!saved || !restoreEngine(*saved))
        return false;
    setYellow(saved->yellow);
    setRed(saved->red);
    return true;
}

bool CameraModel::restoreEngine(const SavedCalibration& calibration)
{
    std::optional<PoseFeatures> baseline = PoseFeatures::fromCoreVector(calibration.baseline);
    if (!baseline)
        return false;
    baseline->landmarkHeight = calibration.landmarkHeight;
    return m_engine.restoreValidated(*baseline, calibration.yellow, calibration.red, m_delay);
}

void CameraModel::stop(const QString& message)
{
    m_updatePause.reset();
    closeStoreIntervals(true);
    resetSubject();
    m_generation = m_runToken->increment();

    publish(m_active, false, &CameraModel::activeChanged);
    publish(m_loading, false, &CameraModel::loadingChanged);
    m_engine.reset();
    hideAlerts();
    publish(m_pauseUntil, std::optional<double>(), &CameraModel::pauseUntilChanged);

    m_lossSince.reset();
    m_reacquiredSince.reset();
    m_awaitingReacquisition = false;
    restartSetupCheck();
    m_previousCalibration.reset();
    publish(m_canUndoHeightReset, false, &CameraModel::canUndoHeightResetChanged);
    m_reviewThresholds.reset();
    refreshSavedState(true);

    m_pose.reset();
    publish(m_hasPose, false, &CameraModel::hasPoseChanged);
    publish(m_landmarks, QList<QPointF>(), &CameraModel::landmarksChanged);
    publish(m_score, std::optional<double>(), &CameraModel::scoreChanged);
    publish(m_warningProgress, 0.0, &CameraModel::warningProgressChanged);
    publishPaused(false);
    publish(m_capturing, false, &CameraModel::capturingChanged);
    publish(m_progress, 0.0, &CameraModel::progressChanged);
    publish(m_stage, QStringLiteral("idle"), &CameraModel::stageChanged);
    publish(m_state, QStringLiteral("idle"), &CameraModel::stateChanged);
    publish(m_message, message, &CameraModel::messageChanged);

    onCaptureQueue([](CaptureWorker& worker) { worker.stopSession(); });
}

void CameraModel::togglePause()
{
    // A lent camera or a locked screen may pause any stage; only tracking pauses by hand.
    if (!m_paused && m_stage != QLatin1String("monitoring") && m_stage != QLatin1String("review"))
        return;
    publish(m_pauseUntil, std::optional<double>(), &CameraModel::pauseUntilChanged);
    setPaused(!m_paused, false);
}

bool CameraModel::pauseFor(double seconds)
{
    if (!m_active || (m_stage != QLatin1String("monitoring") && m_stage != QLatin1String("review")) || !(seconds > 0))
        return false;
    publish(m_pauseUntil, std::optional(m_clock->wallTime() + seconds), &CameraModel::pauseUntilChanged);
    if (m_paused) {
        // The user's own pause from now on: an unlock or a free camera no longer ends it.
        publishPaused(true, PauseReason::user);
        publish(m_message, texts::text(texts::pausedForAWhile), &CameraModel::messageChanged);
    } else {
        setPaused(true, false);
    }
    return true;
}

void CameraModel::pollPause(double wallTime)
{
    if (m_paused && m_pauseUntil && wallTime >= *m_pauseUntil)
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

void CameraModel::publishPaused(bool paused, PauseReason reason)
{
    publish(m_paused, paused, &CameraModel::pausedChanged);
    publish(m_pauseReason, paused ? std::optional(reason) : std::nullopt, &CameraModel::pauseReasonChanged);
}

void CameraModel::pauseTracking(PauseReason reason)
{
    closeStoreIntervals(true);
    publish(m_bottomExitHeld, false, &CameraModel::bottomExitHeldChanged);
    publishPaused(true, reason);
    publish(m_hasPose, false, &CameraModel::hasPoseChanged);
    m_pose.reset();
    publish(m_warningProgress, 0.0, &CameraModel::warningProgressChanged);
    hideAlerts();
    if (m_capturing) {
        // A height capture cannot go on without the camera; it starts again afterwards.
        m_engine.reset();
        publish(m_capturing, false, &CameraModel::capturingChanged);
        publish(m_progress, 0.0, &CameraModel::progressChanged);
    }

    // A lent camera was halted by the service, which keeps watching for it to be free.
    setCapturePaused(true, reason != PauseReason::lent);
    m_engine.setPaused(true);
    m_engine.clearTiming();
    publish(m_score, std::optional<double>(), &CameraModel::scoreChanged);
    publish(m_state, QStringLiteral("paused"), &CameraModel::stateChanged);
    std::string_view message = m_pauseUntil ? texts::pausedForAWhile : texts::paused;
    if (reason == PauseReason::lent)
        message = texts::cameraLent;
    else if (reason == PauseReason::locked)
        message = texts::screenLocked;
    publish(m_message, texts::text(message), &CameraModel::messageChanged);
}

void CameraModel::resumeTracking()
{
    closeStoreIntervals(true);
    publish(m_bottomExitHeld, false, &CameraModel::bottomExitHeldChanged);
    publishPaused(false);
    publish(m_hasPose, false, &CameraModel::hasPoseChanged);
    m_pose.reset();
    publish(m_warningProgress, 0.0, &CameraModel::warningProgressChanged);
    hideAlerts();

    setCapturePaused(false);
    publish(m_pauseUntil, std::optional<double>(), &CameraModel::pauseUntilChanged);
    m_engine.setPaused(false);
    m_engine.clearTiming();
    m_lossSince.reset();
    m_reacquiredSince.reset();
    m_awaitingReacquisition = true;
    publish(m_state, QStringLiteral("ready"), &CameraModel::stateChanged);
    publish(m_message, texts::text(texts::resuming), &CameraModel::messageChanged);
}

void CameraModel::setCapturePaused(bool paused, bool halt)
{
    onCaptureQueue([generation = m_generation, paused, halt](CaptureWorker& worker) {
        worker.setCapturePaused(generation, paused, halt);
    });
}

void CameraModel::cameraAvailabilityChanged(std::int64_t generation, CameraAvailability availability)
{
    if (generation != m_generation || !m_active || m_updatePause)
        return;
    if (availability == CameraAvailability::lent) {
        // Already paused (by the user, or a resume that found the camera taken): the
        // camera is closed either way, and a manual resume tries it again.
        if (!m_paused)
            pauseTracking(PauseReason::lent);
        return;
    }
    if (m_paused && m_pauseReason == PauseReason::lent)
        resumeTracking();
}

void CameraModel::setScreenLocked(bool locked)
{
    if (locked == m_screenLocked)
        return;
    m_screenLocked = locked;
    if (locked) {
        restWhileLocked();
        return;
    }
    if (m_active && m_paused && m_pauseReason == PauseReason::locked && !m_updatePause)
        resumeTracking();
}

void CameraModel::restWhileLocked()
{
    if (!m_active || m_loading || m_updatePause)
        return;
    if (!m_paused) {
        pauseTracking(PauseReason::locked);
    } else if (m_pauseReason == PauseReason::lent) {
        // The camera is closed already; the unlock, not the other app's end, resumes.
        publishPaused(true, PauseReason::locked);
        publish(m_message, texts::text(texts::screenLocked), &CameraModel::messageChanged);
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
