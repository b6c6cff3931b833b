#include "ModelScenario.h"

#include "store/ControlFile.h"
#include "store/DiagnosticVisualPolicy.h"
#include "store/UpdateResumeStore.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonArray>

using namespace verticora;
using namespace verticora::testing;

namespace {

constexpr qint32 oldPID = 5100;
constexpr qint32 newPID = 5200;

// Two builds of the application on one data folder, one after the other, in one process.
class UpdateHandoff : public ModelScenario {
protected:
    void makeBuild(const QString& build, qint32 pid)
    {
        model.reset();
        playBuild(build, pid);
        makeModel();
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
        model->prepareForApplicationTermination();
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
};

} // namespace

TEST_F(UpdateHandoff, theNextBuildResumesTrackingWithTheSavedHeightAndNoFileRemains)
{
    quitBuild41WhileMonitoring();
    EXPECT_FALSE(model->active());
    EXPECT_EQ(model->message(), "Camera off. Start whenever you’re ready.");

    makeBuild(QStringLiteral("42"), newPID);
    const std::optional<UpdateResumeReceipt> receipt = model->consumeUpdateResume();
    ASSERT_TRUE(receipt);
    EXPECT_EQ(receipt->state.mode, UpdateSessionMode::tracking);
    EXPECT_EQ(receipt->state.page, "Posture");
    EXPECT_FALSE(dataFileExists("update-resume.json"));
    EXPECT_FALSE(dataFileExists("update-request.json"));

    model->resumeAfterUpdate(receipt->state);
    model->drainCaptureQueue();
    EXPECT_TRUE(model->active());
    EXPECT_EQ(model->stage(), "monitoring") << "no new height setup";
    EXPECT_EQ(model->message(), "Resumed your saved zones. Keep your camera and seating setup in the same position.");
}

TEST_F(UpdateHandoff, terminationIsHandledOnceAndAQuitTheUserAskedForCancelsTheHandoff)
{
    makeBuild(QStringLiteral("41"), oldPID);
    requestUpdate(oldPID);
    model->updateResumeStore().cancel(); // the application's own Quit
    model->prepareForApplicationTermination();
    EXPECT_FALSE(dataFileExists("update-resume.json"));
    EXPECT_FALSE(dataFileExists("update-request.json"));

    requestUpdate(oldPID);
    model->prepareForApplicationTermination(); // the will-terminate notification after the shell's handler
    EXPECT_FALSE(dataFileExists("update-resume.json"));
    EXPECT_TRUE(dataFileExists("update-request.json"));
}

TEST_F(UpdateHandoff, settingsEditedBetweenTheBuildsLeaveTheNewOneOffWithTheReason)
{
    quitBuild41WhileMonitoring();
    QFile preferences(dataFile("preferences.json"));
    ASSERT_TRUE(preferences.open(QIODevice::Append));
    preferences.write("\n");
    preferences.close();

    makeBuild(QStringLiteral("42"), newPID);
    EXPECT_FALSE(model->consumeUpdateResume());
    EXPECT_EQ(model->message(),
              "Update installed. Your settings changed after the update was prepared. Turn Camera on when ready.");
    EXPECT_FALSE(model->active());
}

TEST_F(UpdateHandoff, aReceiptThatCannotBeWrittenIsReportedAndTheCameraStillStops)
{
    makeBuild(QStringLiteral("41"), oldPID);
    startCamera();
    ASSERT_TRUE(QDir(dataFile("")).mkdir("update-resume.json"));
    requestUpdate(oldPID);
    model->prepareForApplicationTermination();
    ASSERT_TRUE(model->persistenceMessage());
    EXPECT_TRUE(model->persistenceMessage()->startsWith("Could not prepare tracking to resume after update. "));
    EXPECT_FALSE(model->active());
}

TEST_F(UpdateHandoff, aPausedSessionComesBackPausedAndTheUsersResumeStartsTheCamera)
{
    quitBuild41WhileMonitoring(true);
    makeBuild(QStringLiteral("42"), newPID);
    std::optional<UpdateResumeReceipt> receipt = model->consumeUpdateResume();
    ASSERT_TRUE(receipt);
    ASSERT_EQ(receipt->state.mode, UpdateSessionMode::paused);

    model->resumeAfterUpdate(receipt->state);
    EXPECT_TRUE(model->active());
    EXPECT_TRUE(model->paused());
    EXPECT_EQ(model->state(), "paused");
    EXPECT_EQ(model->message(), "Camera paused. Resume when you’re ready.");
    EXPECT_FALSE(model->cameraEnabled());
    model->drainCaptureQueue();
    EXPECT_FALSE(camera->isRunning()) << "the camera stays off while paused";

    model->setCameraEnabled(true);
    model->drainCaptureQueue();
    EXPECT_TRUE(camera->isRunning());
    EXPECT_EQ(model->stage(), "monitoring");
    EXPECT_FALSE(model->paused());
    EXPECT_FALSE(model->pausedForUpdate());
}

TEST_F(UpdateHandoff, aPauseWhoseEndHasPassedEndsAtOnceOnlyWhenTheCameraCanWork)
{
    quitBuild41WhileMonitoring();
    makeBuild(QStringLiteral("42"), newPID);
    int starts = 0;
    model->resumeAfterUpdate(pausedState(clock->wallTime() - 1), std::nullopt, std::nullopt, [&] { ++starts; });
    EXPECT_EQ(starts, 1) << "the pause ended at once";
    EXPECT_FALSE(model->paused());

    model->resumeAfterUpdate(pausedState(clock->wallTime() + 60), true, false, [&] { ++starts; });
    EXPECT_TRUE(model->paused());
    clock->advance(61);
    model->housekeepingTick();
    EXPECT_EQ(starts, 1) << "the camera is gone: the pause's end does not start it";
    EXPECT_EQ(model->state(), "error");
    EXPECT_EQ(model->message(), "Camera could not resume after the pause. Check your selected camera and permission.");
}

TEST_F(UpdateHandoff, restartingTheSetupFromAnUpdatePauseStartsTheCameraInSetup)
{
    quitBuild41WhileMonitoring();
    makeBuild(QStringLiteral("42"), newPID);
    model->resumeAfterUpdate(pausedState(clock->wallTime() + 600));
    model->restartSetup();
    model->drainCaptureQueue();
    EXPECT_TRUE(camera->isRunning());
    EXPECT_EQ(model->stage(), "green");
    EXPECT_TRUE(model->canUndoHeightReset());
}

TEST_F(UpdateHandoff, eachSessionModeIsRestoredOrExplained)
{
    quitBuild41WhileMonitoring();
    makeBuild(QStringLiteral("42"), newPID);
    UpdateSessionState state;

    state.mode = UpdateSessionMode::off;
    const QString before = model->message();
    model->resumeAfterUpdate(state);
    EXPECT_EQ(model->message(), before);

    state.mode = UpdateSessionMode::setup;
    model->resumeAfterUpdate(state);
    EXPECT_EQ(model->message(), "Your saved setup is kept. Turn Camera on to finish setting your height.");

    state.mode = UpdateSessionMode::tracking;
    state.cameraID = "cam-2";
    model->resumeAfterUpdate(state);
    EXPECT_EQ(model->message(),
              "Update installed. Your saved camera setup could not be restored. Choose your camera and set your height.");

    state.cameraID = "cam-1";
    camera->denied = true;
    model->resumeAfterUpdate(state);
    EXPECT_EQ(model->message(),
              "Update installed. Allow camera access in your system’s privacy settings, then turn Camera on.");

    camera->denied = false;
    camera->devices.clear();
    model->resumeAfterUpdate(state);
    EXPECT_EQ(model->state(), "error");
    EXPECT_EQ(model->message(), "Update installed. Your selected camera is unavailable; reconnect it and turn Camera on.");
    EXPECT_FALSE(model->active());
}

TEST_F(UpdateHandoff, aDiagnosticLeaseSteersTheTrackerAndTheRemindersAndWritesSamples)
{
    makeModel();
    std::optional<FrameDiagnostics> lastFrame;
    QObject::connect(model.get(), &CameraModel::frameHandled, [&](const FrameDiagnostics& frame) { lastFrame = frame; });
    startCamera();
    calibrate();
    frames(1.0);
    model->housekeepingTick();
    ASSERT_TRUE(lastFrame);
    EXPECT_EQ(lastFrame->trackerRadius, 7);
    EXPECT_EQ(lastFrame->trackerAblationFull, false);
    EXPECT_FALSE(dataFileExists("performance-samples.json")) << "without a request nothing is written";

    const int presented = alerts->presentations;
    writeDataFile("performance-request.json",
              QStringLiteral("{\"expires\":%1,\"visual_mode\":\"no-visuals\",\"tracker_mode\":\"full\","
                             "\"tracker_radius\":10}")
                  .arg(clock->wallTime() + 600, 0, 'f', 3)
                  .toUtf8());
    model->diagnostics().refresh();
    EXPECT_EQ(alerts->presentations, presented + 1) << "the reminders present again under the new mode";
    frames(1.0);

    model->housekeepingTick();
    const QJsonArray rows =
        QJsonDocument::fromJson(readControlFile(dataFile("performance-samples.json")).value_or(QByteArray())).array();
    ASSERT_EQ(rows.size(), 1);
    const QJsonObject row = rows.first().toObject();
    EXPECT_EQ(row.value("visual_mode").toString(), "no-visuals");
    EXPECT_GT(row.value("tracked_seconds").toDouble(), 0.3) << "readings under 0.65 s apart add up";
    EXPECT_GE(row.value("valid_samples").toInt(), 2);
    const QJsonObject capture = row.value("capture").toObject();
    EXPECT_EQ(capture.value("stage").toString(), "monitoring");
    EXPECT_EQ(capture.value("tracker_radius").toInt(), 10);
    EXPECT_TRUE(capture.value("tracker_ablation_full").toBool());
}
