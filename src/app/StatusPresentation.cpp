#include "app/StatusPresentation.h"

#include <cmath>

namespace verticora {

StatusInputs StatusInputs::of(const CameraModel& model)
{
    StatusInputs inputs;
    inputs.loading = model.session().loading();
    inputs.active = model.session().active();
    inputs.paused = model.session().paused();
    inputs.pauseReason = model.session().pauseReason();
    inputs.state = model.state();
    inputs.stage = model.setup().stage();
    inputs.hasPersistenceMessage = model.persistenceMessage().has_value();
    inputs.hasPose = model.hasPose();
    inputs.bottomExitHeld = model.bottomExitHeld();
    inputs.score = model.score();
    inputs.yellow = model.setup().yellow();
    inputs.red = model.setup().red();
    return inputs;
}

QString statusText(const StatusInputs& in)
{
    if (in.loading)
        return QStringLiteral("Starting camera");
    if (!in.active)
        return QStringLiteral("Camera off");
    if (in.paused && in.pauseReason == PauseReason::lent)
        return QStringLiteral("Camera lent to another app");
    if (in.paused && in.pauseReason == PauseReason::locked)
        return QStringLiteral("Paused while the screen is locked");
    if (in.paused)
        return QStringLiteral("Reminders paused");
    if (in.state == ZoneState::lost)
        return QStringLiteral("Tracking paused");
    if (in.stage == SetupStage::heightSetup)
        return QStringLiteral("Setup: comfortable height");
    if (in.stage == SetupStage::review)
        return in.hasPersistenceMessage ? QStringLiteral("Height not saved") : QStringLiteral("Finishing height setup");
    if (in.stage != SetupStage::monitoring)
        return QStringLiteral("Setting up your zones");
    if (!in.hasPose && !in.bottomExitHeld)
        return QStringLiteral("Tracking paused");
    if (in.state == ZoneState::inside)
        return QStringLiteral("Green: in your zone");
    if (in.state == ZoneState::yellow)
        return QStringLiteral("Yellow: near your edge");
    if (in.state == ZoneState::outside || in.state == ZoneState::alert)
        return QStringLiteral("Red: outside your zone");
    return QStringLiteral("Finding your position");
}

QString statusColorKey(const StatusInputs& in)
{
    const bool zoneState = in.state == ZoneState::inside || in.state == ZoneState::yellow
        || in.state == ZoneState::outside || in.state == ZoneState::alert;
    const bool measuring = in.active && !in.loading && !in.paused && in.stage == SetupStage::monitoring
        && (in.hasPose || in.bottomExitHeld) && zoneState;
    if (!measuring || !in.score || !std::isfinite(*in.score))
        return QStringLiteral("neutral");
    if (*in.score < in.yellow)
        return QStringLiteral("green");
    if (*in.score < in.red)
        return QStringLiteral("yellow");
    return QStringLiteral("red");
}

QString statusToolTip(const QString& status)
{
    return QStringLiteral("Verticora · ") + status + QStringLiteral("\nClick to open Verticora. Right-click to quit.");
}

QString statusAccessibleLabel(const QString& status)
{
    return QStringLiteral("Verticora: ") + status;
}

QString statusAccessibleHelp()
{
    return QStringLiteral("Click to open Posture, Progress and Settings. Right-click for Quit app.");
}

} // namespace verticora
