// The update handoff: what the camera was doing when an update replaced this build, and
// carrying it on in the new one.

#include "model/CameraModel.h"

#include "model/ModelClock.h"
#include "model/ModelTexts.h"

#include <algorithm>

namespace verticora {

void CameraModel::setUpdateWindowContext(std::function<UpdateWindowContext()> context)
{
    m_updateWindowContext = std::move(context);
}

void CameraModel::setMessage(const QString& message)
{
    publish(m_message, message, &CameraModel::messageChanged);
}

UpdateSessionState CameraModel::sessionStateForUpdate() const
{
    UpdateSessionState state;
    if (m_updateWindowContext) {
        const UpdateWindowContext context = m_updateWindowContext();
        state.page = context.page;
        state.controlsVisible = context.visible;
    } else {
        state.page = texts::text(rawName(m_controlsPage));
        state.controlsVisible = true;
    }
    if (m_stage == QLatin1String("monitoring") && m_active)
        // A borrowed camera or a locked screen is no pause of the user's: the new build
        // starts tracking and finds the camera or the screen as they are then.
        state.mode = m_pauseReason == PauseReason::user ? UpdateSessionMode::paused : UpdateSessionMode::tracking;
    else
        state.mode = m_active || m_loading ? UpdateSessionMode::setup : UpdateSessionMode::off;
    state.cameraID = m_selectedID;
    state.pauseUntilUnix = m_pauseUntil;
    state.preferencesDigest = UpdateResumeStore::preferencesDigest(m_dataDirectory);
    return state;
}

void CameraModel::prepareForApplicationTermination()
{
    if (m_terminationHandled)
        return;
    m_terminationHandled = true;
    const UpdateResumeStore::Preparation prepared = m_updateResumeStore->prepareForTermination(sessionStateForUpdate());
    if (prepared.error) {
        publish(m_persistenceMessage, std::optional(texts::text(texts::couldNotPrepareResume) + *prepared.error),
                &CameraModel::persistenceMessageChanged);
    }
    stop(texts::text(texts::cameraOff));
}

std::optional<UpdateResumeReceipt> CameraModel::consumeUpdateResume()
{
    UpdateResumeStore::Consumption consumed = m_updateResumeStore->consume();
    if (consumed.claimError) {
        publish(m_message, texts::text(texts::updateNotRestored), &CameraModel::messageChanged);
        return std::nullopt;
    }
    if (!consumed.receipt) {
        if (const std::optional<QString>& rejection = m_updateResumeStore->rejection()) {
            publish(m_message,
                    texts::text(texts::updateInstalled) + *rejection + texts::text(texts::turnCameraOnWhenReady),
                    &CameraModel::messageChanged);
        }
        return std::nullopt;
    }
    return std::move(consumed.receipt);
}

void CameraModel::resumeAfterUpdate(const UpdateSessionState& state, std::optional<bool> cameraAuthorized,
                                    std::optional<bool> cameraAvailable, std::function<void()> startCameraAction)
{
    if (!state.valid() || state.mode == UpdateSessionMode::off)
        return;
    if (state.mode == UpdateSessionMode::setup) {
        publish(m_message, texts::text(texts::setupKept), &CameraModel::messageChanged);
        return;
    }

    const std::optional<SavedCalibration> calibration = m_preferences.calibration(m_selectedID);
    if (state.cameraID != m_selectedID || !calibration) {
        publish(m_state, QStringLiteral("error"), &CameraModel::stateChanged);
        publish(m_message, texts::text(texts::cameraSetupNotRestored), &CameraModel::messageChanged);
        return;
    }
    if (state.mode == UpdateSessionMode::paused) {
        resumePausedAfterUpdate(state, *calibration, cameraAuthorized, cameraAvailable, std::move(startCameraAction));
        return;
    }

    const bool authorized = cameraAuthorized.value_or(!m_session->accessDenied(m_selectedID));
    const bool available = cameraAvailable.value_or(std::ranges::any_of(
        m_session->discoverDevices(), [&](const CameraDevice& device) { return device.uniqueID == m_selectedID; }));
    if (!authorized || !available) {
        publish(m_state, QStringLiteral("error"), &CameraModel::stateChanged);
        publish(m_message, texts::text(authorized ? texts::updateCameraUnavailable : texts::updateNeedsCameraAccess),
                &CameraModel::messageChanged);
        return;
    }
    if (startCameraAction)
        startCameraAction();
    else
        startCamera(true);
}

void CameraModel::resumePausedAfterUpdate(const UpdateSessionState& state, const SavedCalibration& calibration,
                                          std::optional<bool> cameraAuthorized, std::optional<bool> cameraAvailable,
                                          std::function<void()> startCameraAction)
{
    if (!restoreEngine(calibration))
        return;

    // The session looks paused as it was before the update; the camera itself stays off
    // until the user (or the pause's end) resumes it.
    setYellow(calibration.yellow);
    setRed(calibration.red);
    publish(m_active, true, &CameraModel::activeChanged);
    publishPaused(true);
    publish(m_stage, QStringLiteral("monitoring"), &CameraModel::stageChanged);
    publish(m_state, QStringLiteral("paused"), &CameraModel::stateChanged);
    m_engine.setPaused(true);
    publish(m_pauseUntil, state.pauseUntilUnix, &CameraModel::pauseUntilChanged);
    m_updatePause = UpdatePause{std::move(startCameraAction), cameraAuthorized, cameraAvailable};
    publish(m_message, texts::text(texts::pausedAfterUpdate), &CameraModel::messageChanged);
    pollPause(m_clock->wallTime());
}

void CameraModel::resumeFromUpdatePause(bool automatic)
{
    const UpdatePause pause = std::move(*m_updatePause);
    m_updatePause.reset();
    const bool authorized = pause.cameraAuthorized.value_or(!m_session->accessDenied(m_selectedID));
    const bool available = pause.cameraAvailable.value_or(deviceAvailable(m_selectedID));

    publish(m_active, false, &CameraModel::activeChanged);
    publishPaused(false);
    publish(m_pauseUntil, std::optional<double>(), &CameraModel::pauseUntilChanged);
    m_engine.reset();
    publish(m_hasPose, false, &CameraModel::hasPoseChanged);
    publish(m_score, std::optional<double>(), &CameraModel::scoreChanged);
    publish(m_state, QStringLiteral("idle"), &CameraModel::stateChanged);
    publish(m_stage, QStringLiteral("idle"), &CameraModel::stageChanged);

    // The user asked for the camera: start it and let the start report what is wrong.
    // The pause's end alone starts it only when it can work.
    if (!automatic || (authorized && available)) {
        if (pause.resumeAction)
            pause.resumeAction();
        else
            startCamera(true);
        return;
    }
    publish(m_state, QStringLiteral("error"), &CameraModel::stateChanged);
    publish(m_message, texts::text(texts::couldNotResumeAfterPause), &CameraModel::messageChanged);
}

} // namespace verticora
