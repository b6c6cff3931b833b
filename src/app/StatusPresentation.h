#pragma once

#include "model/CameraModel.h"

#include <QString>

#include <optional>

namespace verticora {

// The model's published values the tray icon shows.
struct StatusInputs {
    bool loading = false;
    bool active = false;
    bool paused = false;
    std::optional<PauseReason> pauseReason; // set while paused
    ZoneState state = ZoneState::idle;
    SetupStage stage = SetupStage::idle;
    bool hasPersistenceMessage = false;
    bool hasPose = false;
    bool bottomExitHeld = false;
    std::optional<double> score; // the engine's smoothed deviation
    double yellow = 0;
    double red = 0;

    [[nodiscard]] static StatusInputs of(const CameraModel& model);
};

// The short status of the tooltip and the accessible label ("Camera off", "Green: in
// your zone", …).
[[nodiscard]] QString statusText(const StatusInputs& inputs);

// "green", "yellow" or "red" while a zone is being measured, else "neutral".
[[nodiscard]] QString statusColorKey(const StatusInputs& inputs);

// The texts the tray icon carries for a status text.
[[nodiscard]] QString statusToolTip(const QString& status);
[[nodiscard]] QString statusAccessibleLabel(const QString& status);
[[nodiscard]] QString statusAccessibleHelp();

} // namespace verticora
