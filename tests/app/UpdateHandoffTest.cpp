#include "ShellScenario.h"

#include "app/UpdateHandoff.h"

#include "store/UpdateResumeStore.h"

#include <QDir>

using namespace verticora;
using namespace verticora::testing;

namespace {

constexpr qint32 oldPID = 5100;
constexpr qint32 newPID = 5200;

// Two builds of the application on one data folder, one after the other, in one process.
class UpdateHandoffScenario : public ModelScenario {
protected:
    void TearDown() override
    {
        handoff.reset();
        ModelScenario::TearDown();
    }

    void makeBuild(const QString& build, qint32 pid)
    {
        handoff.reset();
        model.reset();
        makeModel();
        handoff = std::make_unique<UpdateHandoff>(*model, build, pid);
    }

    // Build 41 calibrates and then quits for the update in `mode`.
    void quitBuild41WhileMonitoring(bool paused = false)
    {
        makeBuild(QStringLiteral("41"), oldPID);
        startCamera();
        calibrate();
        if (paused)
            model->togglePause();
        requestUpdate(oldPID);
        handoff->prepareForTermination();
        ASSERT_TRUE(dataFileExists("update-resume.json"));
    }

    [[nodiscard]] UpdateSessionState pausedState(double pauseUntil) const
    {
        UpdateSessionState state;
        state.mode = UpdateSessionMode::paused;
        state.cameraID = QStringLiteral("cam-1");
        state.pauseUntilUnix = pauseUntil;
        return state;
    }

    std::unique_ptr<UpdateHandoff> handoff;
};

} // namespace

TEST_F(UpdateHandoffScenario, terminationIsHandledOnce)
{
    makeBuild(QStringLiteral("41"), oldPID);
    handoff->prepareForTermination();
    requestUpdate(oldPID);
    handoff->prepareForTermination(); // the will-terminate notification after the shell's handler
    EXPECT_FALSE(dataFileExists("update-resume.json"));
    EXPECT_TRUE(dataFileExists("update-request.json"));
}

TEST_F(UpdateHandoffScenario, aReceiptThatCannotBeWrittenIsReportedAndTheCameraStillStops)
{
    makeBuild(QStringLiteral("41"), oldPID);
    startCamera();
    ASSERT_TRUE(QDir(dataFile("")).mkdir("update-resume.json"));
    requestUpdate(oldPID);
    handoff->prepareForTermination();
    ASSERT_TRUE(model->persistenceMessage());
    EXPECT_TRUE(model->persistenceMessage()->startsWith("Could not prepare tracking to resume after update. "));
    EXPECT_FALSE(model->session().active());
}

TEST_F(UpdateHandoffScenario, aPausedSessionComesBackPausedAndTheUsersResumeStartsTheCamera)
{
    quitBuild41WhileMonitoring(true);
    makeBuild(QStringLiteral("42"), newPID);
    std::optional<UpdateResumeReceipt> receipt = handoff->consume();
    ASSERT_TRUE(receipt);
    ASSERT_EQ(receipt->state.mode, UpdateSessionMode::paused);

    handoff->resume(receipt->state);
    EXPECT_TRUE(model->session().active());
    EXPECT_TRUE(model->session().paused());
    EXPECT_EQ(model->state(), ZoneState::paused);
    EXPECT_EQ(model->message(), "Camera paused. Resume when you’re ready.");
    EXPECT_FALSE(model->session().cameraEnabled());
    model->drainCaptureQueue();
    EXPECT_FALSE(camera->isRunning()) << "the camera stays off while paused";

    model->setCameraEnabled(true);
    model->drainCaptureQueue();
    EXPECT_TRUE(camera->isRunning());
    EXPECT_EQ(model->setup().stage(), SetupStage::monitoring);
    EXPECT_FALSE(model->session().paused());
    EXPECT_FALSE(model->pausedForUpdate());
}

TEST_F(UpdateHandoffScenario, aPauseWhoseEndHasPassedEndsAtOnceOnlyWhenTheCameraCanWork)
{
    quitBuild41WhileMonitoring();
    makeBuild(QStringLiteral("42"), newPID);
    int starts = 0;
    handoff->resume(pausedState(clock->wallTime() - 1), std::nullopt, std::nullopt, [&] { ++starts; });
    EXPECT_EQ(starts, 1) << "the pause ended at once";
    EXPECT_FALSE(model->session().paused());

    handoff->resume(pausedState(clock->wallTime() + 60), true, false, [&] { ++starts; });
    EXPECT_TRUE(model->session().paused());
    clock->advance(61);
    model->housekeepingTick();
    EXPECT_EQ(starts, 1) << "the camera is gone: the pause's end does not start it";
    EXPECT_EQ(model->state(), ZoneState::error);
    EXPECT_EQ(model->message(), "Camera could not resume after the pause. Check your selected camera and permission.");
}

TEST_F(UpdateHandoffScenario, restartingTheSetupFromAnUpdatePauseStartsTheCameraInSetup)
{
    quitBuild41WhileMonitoring();
    makeBuild(QStringLiteral("42"), newPID);
    handoff->resume(pausedState(clock->wallTime() + 600));
    model->restartSetup();
    model->drainCaptureQueue();
    EXPECT_TRUE(camera->isRunning());
    EXPECT_EQ(model->setup().stage(), SetupStage::heightSetup);
    EXPECT_TRUE(model->setup().canUndoHeightReset());
}

TEST_F(UpdateHandoffScenario, eachSessionModeIsRestoredOrExplained)
{
    quitBuild41WhileMonitoring();
    makeBuild(QStringLiteral("42"), newPID);
    UpdateSessionState state;

    state.mode = UpdateSessionMode::off;
    const QString before = model->message();
    handoff->resume(state);
    EXPECT_EQ(model->message(), before);

    state.mode = UpdateSessionMode::setup;
    handoff->resume(state);
    EXPECT_EQ(model->message(), "Your saved setup is kept. Turn Camera on to finish setting your height.");

    state.mode = UpdateSessionMode::tracking;
    state.cameraID = "cam-2";
    handoff->resume(state);
    EXPECT_EQ(model->message(),
              "Update installed. Your saved camera setup could not be restored. Choose your camera and set your height.");

    state.cameraID = "cam-1";
    camera->denied = true;
    handoff->resume(state);
    EXPECT_EQ(model->message(),
              "Update installed. Allow camera access in your system’s privacy settings, then turn Camera on.");

    camera->denied = false;
    camera->devices.clear();
    handoff->resume(state);
    EXPECT_EQ(model->state(), ZoneState::error);
    EXPECT_EQ(model->message(), "Update installed. Your selected camera is unavailable; reconnect it and turn Camera on.");
    EXPECT_FALSE(model->session().active());
}
