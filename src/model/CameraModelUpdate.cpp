// What the model offers the update handoff: a session carried over paused with the
// camera off, and the messages and checks the handoff needs.

#include "model/CameraModel.h"

#include "model/ModelClock.h"
#include "model/ModelTexts.h"

#include <algorithm>

namespace verticora {

void CameraModel::setMessage(const QString& message)
{
    publish(m_message, message);
}

void CameraModel::showError(const QString& message)
{
    publish(m_state, ZoneState::error);
    publish(m_message, message);
}

void CameraModel::setPersistenceMessage(const QString& message)
{
    publish(m_persistenceMessage, std::optional(message));
}

void CameraModel::resumePausedAfterUpdate(const SavedCalibration& calibration, std::optional<double> pauseUntil,
                                          UpdatePause pause)
{
    if (!restoreEngine(calibration))
        return;

    // The session looks paused as it was before the update; the camera itself stays off
    // until the user (or the pause's end) resumes it.
    m_setup->setYellow(calibration.yellow);
    m_setup->setRed(calibration.red);
    m_session->setActive(true);
    m_session->setPaused(true);
    m_setup->setStage(SetupStage::monitoring);
    publish(m_state, ZoneState::paused);
    m_engine.setPaused(true);
    m_session->setPauseUntil(pauseUntil);
    m_updatePause = std::move(pause);
    publish(m_message, texts::text(texts::pausedAfterUpdate));
    pollPause(m_clock->wallTime());
}

void CameraModel::resumeFromUpdatePause(bool automatic)
{
    const UpdatePause pause = std::move(*m_updatePause);
    m_updatePause.reset();
    const bool authorized = pause.cameraAuthorized.value_or(m_session->cameraAuthorized());
    const bool available = pause.cameraAvailable.value_or(m_session->selectedAvailable());

    m_session->setActive(false);
    m_session->setPaused(false);
    m_session->setPauseUntil(std::optional<double>());
    m_engine.reset();
    publish(m_hasPose, false);
    publish(m_score, std::optional<double>());
    publish(m_state, ZoneState::idle);
    m_setup->setStage(SetupStage::idle);

    // The user asked for the camera: start it and let the start report what is wrong.
    // The pause's end alone starts it only when it can work.
    if (!automatic || (authorized && available)) {
        if (pause.resumeAction)
            pause.resumeAction();
        else
            startCamera(true);
        return;
    }
    publish(m_state, ZoneState::error);
    publish(m_message, texts::text(texts::couldNotResumeAfterPause));
}

} // namespace verticora
