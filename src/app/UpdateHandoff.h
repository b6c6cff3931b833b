#pragma once

#include "store/UpdateResumeStore.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
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

// Where the controls window stands, for the update handoff: its page name and whether
// it is open.
struct UpdateWindowContext {
    QString page;
    bool visible = true;
};

// The update handoff on the application's side: answers an update request with a
// receipt of what the camera was doing as this build quits, and carries on in the new
// build what the receipt says. The model only offers the operations it needs.
class UpdateHandoff : public QObject {
    Q_OBJECT

public:
    // `build` is compared across the handoff ("development" when empty); `processID`
    // is this process's (tests play two instances in one process).
    UpdateHandoff(CameraModel& model, const QString& build, std::optional<qint32> processID = {},
                  QObject* parent = nullptr);
    ~UpdateHandoff() override;

    // The shell says where its controls window stands; without it the handoff records
    // the current page as open.
    void setWindowContext(std::function<UpdateWindowContext()> context);

    // The application is quitting (runs once, whoever calls first, the application's
    // aboutToQuit included): answers a pending update request with a receipt, then stops
    // the camera, which writes the daily progress.
    void prepareForTermination();
    // The user's own Quit: a pending request is withdrawn, not answered.
    void cancel();

    // Takes the receipt a previous build left for this launch and checks that its writer
    // is gone. Does not resume anything itself: the caller restores the window, then
    // calls resume with `state`.
    [[nodiscard]] LaunchHandoff take();
    // At launch: the receipt a previous build left, if it is genuine and fresh; otherwise
    // none, with the reason in the model's message when the user should know it.
    [[nodiscard]] std::optional<UpdateResumeReceipt> consume();
    // Continues what the previous build was doing. The two overrides stand in for the
    // permission and device queries, the action for the camera start (tests); the
    // application passes none.
    void resume(const UpdateSessionState& state, std::optional<bool> cameraAuthorized = {},
                std::optional<bool> cameraAvailable = {}, std::function<void()> startCameraAction = {});

private:
    [[nodiscard]] UpdateSessionState sessionState() const;

    CameraModel& m_model;
    std::unique_ptr<UpdateResumeStore> m_store;
    std::function<UpdateWindowContext()> m_windowContext;
    bool m_terminationHandled = false;
};

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
