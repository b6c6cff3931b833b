#pragma once

#include "store/UpdateResumeStore.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace verticora {

class CameraModel;

// What a launch found of an update handoff.
struct LaunchHandoff {
    enum class Kind {
        none,         // no receipt: an ordinary launch
        refused,      // a receipt that resumes nothing; the model's message says why
        stillClosing, // the instance that wrote it has not exited yet
        resume,       // `state` is what the previous build was doing
    };
    Kind kind = Kind::none;
    UpdateSessionState state;

    // The launch follows the handoff rather than its own defaults (no camera of its own).
    [[nodiscard]] bool met() const { return kind != Kind::none; }
};

// Takes the receipt a previous build left for this launch and checks that its writer is
// gone. Does not resume anything itself: the caller restores the window, then calls the
// model's resumeAfterUpdate with `state`.
[[nodiscard]] LaunchHandoff takeUpdateHandoff(CameraModel& model);

// The single-instance request that asks a running instance who it is, and its answer:
// {"pid": ..., "build": "..."}.
inline constexpr char identifyRequest[] = "identify";
[[nodiscard]] QByteArray instanceIdentity(const QString& build);

// `verticora --hand-over-to BUILD`: the updater's side. Finds the instance running for
// `dataFolder`, writes an update request from its build to `build` addressed to its
// process, asks it to quit the way a session logout does (SIGTERM) and waits, at most
// `waitMilliseconds`, for it to exit. Returns the exit status: 0 once the instance has
// left a receipt for `build`; `nothingRunning` when no instance runs for the folder;
// `alreadyThatBuild` when the instance is `build` (nothing to hand over); 1 otherwise.
// Every status but 0 comes with a sentence on standard error.
inline constexpr int nothingRunning = 3;
inline constexpr int alreadyThatBuild = 4;
[[nodiscard]] int handOverTo(const QString& dataFolder, const QString& build, int waitMilliseconds = 30'000);

} // namespace verticora
