#include "ModelScenario.h"

#include "store/ControlFile.h"
#include "store/DiagnosticVisualPolicy.h"
#include "store/ProgressStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>

using namespace verticora;
using namespace verticora::testing;

TEST_F(ModelScenario, setupGoesFromGreenThroughCaptureToMonitoringAndMovementRestartsTheCapture)
{
    makeModel();
    EXPECT_EQ(model->message(), "Choose your camera. Your video stays on this computer.");
    startCamera();
    ASSERT_TRUE(model->session().active());
    EXPECT_EQ(model->setup().stage(), SetupStage::heightSetup);
    EXPECT_EQ(model->state(), ZoneState::ready);
    EXPECT_EQ(model->message(), "Sit at a comfortable height. Set it once, then adjust the two levels on your meter.");

    showSteadyFace();
    EXPECT_EQ(model->message(), "Sit comfortably, then set your height. That’s the only capture.");
    model->capture();
    frames(1.0);
    EXPECT_TRUE(model->setup().capturing());
    EXPECT_GT(model->setup().progress(), 0.2);
    EXPECT_EQ(model->message(), "Hold your comfortable position for three seconds.");
    showFaceAt(0.56);
    frame();
    EXPECT_EQ(model->message(), "A little movement. Hold steady to restart the three seconds.");
    EXPECT_EQ(model->setup().progress(), 0.0);
    showFaceAt(0.5);
    for (int i = 0; i < 40 && model->setup().stage() != SetupStage::monitoring; ++i)
        frame();

    EXPECT_EQ(model->setup().stage(), SetupStage::monitoring);
    EXPECT_FALSE(model->setup().capturing());
    EXPECT_EQ(model->message(), "Your zones are set. Monitoring continues while you use other apps.");
    EXPECT_TRUE(model->hasSavedCalibration());
}

TEST_F(ModelScenario, sinkingGoesYellowThenRedThenAlertAfterTheDelay)
{
    startMonitoring();
    frames(1.0);
    EXPECT_EQ(model->state(), ZoneState::inside);
    EXPECT_EQ(model->message(), "At your comfortable height. Keep doing your thing.");
    EXPECT_EQ(alerts->shown(), ZoneAppearance::hidden);

    showFaceAt(0.55);
    frames(1.0);
    EXPECT_EQ(model->state(), ZoneState::yellow);
    EXPECT_EQ(model->message(), "A little lower. Come back toward your line.");
    EXPECT_EQ(alerts->shown(), ZoneAppearance::yellowHalo);

    showFaceAt(0.6);
    frames(1.0);
    EXPECT_EQ(model->state(), ZoneState::outside);
    EXPECT_EQ(model->message(), "You’ve sunk below your red level. Come back up when you’re ready.");
    EXPECT_GT(model->warningProgress(), 0.0);
    EXPECT_LT(model->warningProgress(), 1.0);
    frames(2.0);
    EXPECT_EQ(model->state(), ZoneState::alert);
    EXPECT_EQ(model->warningProgress(), 1.0);
    EXPECT_EQ(alerts->shown(), ZoneAppearance::redFocus);
    EXPECT_DOUBLE_EQ(alerts->lastPresented->severity, 3.0);

    showFaceAt(0.5);
    frames(1.0);
    EXPECT_EQ(model->state(), ZoneState::inside);
    EXPECT_EQ(alerts->shown(), ZoneAppearance::hidden);
}

TEST_F(ModelScenario, aShortLossHidesTheReminderALongerOneReportsLostAndAReturningFaceWaits)
{
    startMonitoring();
    showFaceAt(0.6);
    frames(1.0);
    ASSERT_EQ(alerts->shown(), ZoneAppearance::yellowHalo);

    faces->showNobody();
    frame(0.4); // the first frame without a face starts the loss
    frames(0.8);
    EXPECT_EQ(model->state(), ZoneState::outside) << "0.8 s without a face does not report a loss yet";
    EXPECT_FALSE(model->score());
    EXPECT_FALSE(model->hasPose());
    EXPECT_EQ(alerts->shown(), ZoneAppearance::hidden);
    frames(0.4);
    EXPECT_EQ(model->state(), ZoneState::lost);
    EXPECT_EQ(model->message(), "Tracking paused. Bring your face back into view.");

    showFaceAt(0.5);
    frame(0.4);
    EXPECT_FALSE(model->hasPose()) << "first sighting after a loss";
    EXPECT_EQ(model->state(), ZoneState::lost);
    frames(0.4);
    EXPECT_TRUE(model->hasPose());
    EXPECT_EQ(model->state(), ZoneState::inside);
}

TEST_F(ModelScenario, aShortCameraSilenceIsNotALoss)
{
    startMonitoring();
    frames(0.5);
    clock->advance(0.7);
    model->housekeepingTick();
    EXPECT_FALSE(model->hasPose());
    frame(0.3);
    EXPECT_TRUE(model->hasPose()) << "a stale tick within 1.5 s needs no re-acquisition";

    clock->advance(1.6);
    model->housekeepingTick();
    frame(0.1);
    EXPECT_FALSE(model->hasPose()) << "after 1.5 s of silence the face must be seen steadily again";
    frames(0.4);
    EXPECT_TRUE(model->hasPose());
}

TEST_F(ModelScenario, theHousekeepingTickAnnouncesANewDayOnce)
{
    clock = std::make_shared<ManualClock>(1000.0, 1'780'372'790.0); // 23:59:50 in New York
    makeModel();
    QSignalSpy announcements(&model->progressStore(), &ProgressStore::daysChanged);
    model->housekeepingTick();
    EXPECT_EQ(announcements.count(), 0);
    clock->advance(10.0);
    model->housekeepingTick();
    model->housekeepingTick();
    EXPECT_EQ(announcements.count(), 1);
}

TEST_F(ModelScenario, leavingThroughTheBottomWhileRedKeepsCountingToTheAlert)
{
    startMonitoring();
    // Sink steadily towards the bottom edge of the picture.
    for (int step = 0; step <= 7; ++step) {
        showFaceAt(0.6 + 0.03 * step);
        frame(0.4);
    }
    ASSERT_GE(model->engine().score().value_or(0), model->setup().red());
    faces->showNobody();
    frames(0.4);
    EXPECT_TRUE(model->bottomExitHeld());
    EXPECT_EQ(model->message(), "You moved below the camera. Come back up to your comfortable height.");
    EXPECT_TRUE(model->score());
    frames(2.0);
    EXPECT_EQ(model->state(), ZoneState::alert);
    EXPECT_EQ(alerts->shown(), ZoneAppearance::redFocus);
}

TEST_F(ModelScenario, pauseStopsRemindersAndResumeWaitsForASteadyFace)
{
    startMonitoring();
    showFaceAt(0.6);
    frames(1.0);
    ASSERT_TRUE(alerts->pauseAction);
    alerts->pauseAction(); // the focus card's Pause button
    EXPECT_TRUE(model->session().paused());
    EXPECT_EQ(model->state(), ZoneState::paused);
    EXPECT_EQ(model->message(), "Camera and reminders paused. Resume whenever you’re ready.");
    EXPECT_FALSE(model->session().cameraEnabled());
    EXPECT_EQ(alerts->shown(), ZoneAppearance::hidden);
    const int requests = faces->requests();
    frames(1.0);
    EXPECT_EQ(faces->requests(), requests) << "no analysis while paused";

    model->setCameraEnabled(true);
    EXPECT_FALSE(model->session().paused());
    EXPECT_EQ(model->state(), ZoneState::ready);
    EXPECT_EQ(model->message(), "Resuming your zones…");
    showFaceAt(0.5);
    frame(0.4);
    EXPECT_FALSE(model->hasPose());
    frames(0.8);
    EXPECT_TRUE(model->hasPose());
    EXPECT_EQ(model->state(), ZoneState::inside);
}

// How a running camera can end, and the message each one leaves.
struct StopPath {
    const char* name;
    void (*stop)(CameraModel&, FakeCaptureService&);
    const char* message;
};

class EveryStopPath : public ModelScenario, public ::testing::WithParamInterface<StopPath> {};

TEST_P(EveryStopPath, endsIdleWithItsMessage)
{
    makeModel();
    startCamera();
    ASSERT_TRUE(model->session().active());
    showSteadyFace();
    GetParam().stop(*model, *camera);
    EXPECT_FALSE(model->session().active());
    EXPECT_EQ(model->state(), ZoneState::idle);
    EXPECT_EQ(model->setup().stage(), SetupStage::idle);
    EXPECT_FALSE(model->hasPose());
    EXPECT_EQ(model->message(), QString::fromUtf8(GetParam().message));
}

INSTANTIATE_TEST_SUITE_P(
    ModelScenario, EveryStopPath,
    ::testing::Values(
        StopPath{"switchedOff", [](CameraModel& m, FakeCaptureService&) { m.setCameraEnabled(false); },
                 "Camera off. Start whenever you’re ready."},
        StopPath{"interrupted", [](CameraModel&, FakeCaptureService& c) { c.fail(); },
                 "Camera interrupted. Check the connection, then start again."},
        StopPath{"systemSleep", [](CameraModel& m, FakeCaptureService&) { m.systemWillSleep(); },
                 "Camera stopped before sleep. Your saved zones are kept; start again when ready."}),
    [](const ::testing::TestParamInfo<StopPath>& info) { return std::string(info.param.name); });

TEST_F(ModelScenario, unpluggingTheSelectedCameraStopsAndKeepsAPlaceholder)
{
    startMonitoring();
    camera->unplug();
    EXPECT_FALSE(model->session().active());
    EXPECT_EQ(model->message(), "Selected camera disconnected. Choose a camera explicitly and start again.");
    ASSERT_EQ(model->session().cameras().size(), 1);
    EXPECT_EQ(model->session().cameras().front().id, "cam-1");
    EXPECT_EQ(model->session().cameras().front().name, "Selected camera unavailable");

    model->startCamera(true);
    EXPECT_EQ(model->state(), ZoneState::error);
    EXPECT_EQ(model->message(), "Choose an available camera, then start again.");
    EXPECT_FALSE(model->session().loading());
}

TEST_F(ModelScenario, aRefusedPermissionOrACameraThatFailsToOpenOrRunEndsInAnError)
{
    makeModel();
    camera->denied = true;
    startCamera();
    EXPECT_FALSE(model->session().active());
    EXPECT_FALSE(model->session().loading());
    EXPECT_EQ(model->state(), ZoneState::error);
    EXPECT_EQ(model->message(),
              "Allow Verticora to use the camera in your system’s privacy settings, then try again.");

    camera->denied = false;
    camera->failOpen = true;
    model->startCamera(true);
    model->drainCaptureQueue();
    EXPECT_EQ(model->state(), ZoneState::error);
    EXPECT_EQ(model->message(), "Could not open this camera. Close other camera apps and try again.");

    camera->failOpen = false;
    camera->refuseToRun = true;
    model->startCamera(true);
    model->drainCaptureQueue();
    EXPECT_EQ(model->state(), ZoneState::error);
    EXPECT_EQ(model->message(), "Camera did not start. Check the connection, then try again.");
}

TEST_F(ModelScenario, resultsForAFormerSubjectOrRunChangeNothing)
{
    startMonitoring();
    showFaceAt(0.6);
    frame(0.4);
    model->drainCaptureQueue(false);
    model->restartSetup();
    model->drainCaptureQueue();
    EXPECT_EQ(model->setup().stage(), SetupStage::heightSetup);
    EXPECT_FALSE(model->hasPose()) << "the frame analysed for the previous subject was dropped";
    EXPECT_FALSE(model->score());

    frames(0.5);
    ASSERT_TRUE(model->hasPose());
    frame(0.4);
    model->drainCaptureQueue(false);
    model->stop("Camera off. Start whenever you’re ready.");
    model->startCamera(true);
    model->drainCaptureQueue();
    EXPECT_FALSE(model->hasPose()) << "the frame analysed for the previous run was dropped";
}

TEST_F(ModelScenario, aSaveFailureDuringConfirmKeepsTheReview)
{
    // The data folder's place is taken by a file, so nothing can be saved there.
    writeDataFile("blocked", {});
    makeModel(dataFile("blocked/preferences.json"));
    startCamera();
    showSteadyFace();
    model->capture();
    frames(3.5);
    EXPECT_EQ(model->setup().stage(), SetupStage::review);
    EXPECT_EQ(model->message(), "Your height could not be saved. Try saving again to start.");
    ASSERT_TRUE(model->persistenceMessage());
    EXPECT_TRUE(model->persistenceMessage()->startsWith("Could not save settings on this computer. "));
    EXPECT_FALSE(model->hasSavedCalibration());
    showFaceAt(0.6);
    frames(1.0);
    EXPECT_EQ(alerts->shown(), ZoneAppearance::hidden) << "no reminders while the height is unsaved";
}

TEST_F(ModelScenario, undoRestoresThePreviousHeightOnlyForTheSameCamera)
{
    makeModel();
    camera->devices.append({"cam-2", "Other Camera", "external"});
    startCamera();
    calibrate();
    model->setHeightBoundary(0.3, false);
    ASSERT_EQ(model->setup().yellow(), 0.3);

    model->restartSetup();
    EXPECT_EQ(model->setup().stage(), SetupStage::heightSetup);
    EXPECT_TRUE(model->setup().canUndoHeightReset());
    EXPECT_EQ(model->message(), "Set your comfortable height again. Your saved height is kept until you finish.");
    EXPECT_EQ(model->setup().yellow(), 0.45);
    model->undoHeightReset();
    EXPECT_EQ(model->setup().stage(), SetupStage::monitoring);
    EXPECT_EQ(model->state(), ZoneState::ready);
    EXPECT_EQ(model->setup().yellow(), 0.3);
    EXPECT_FALSE(model->setup().canUndoHeightReset());
    EXPECT_EQ(model->message(), "Your previous height and levels are restored.");

    model->restartSetup();
    model->select("cam-2");
    model->undoHeightReset();
    EXPECT_EQ(model->setup().stage(), SetupStage::idle);
    EXPECT_EQ(model->message(), "Camera changed. Start again to use this camera’s zones.");
}

TEST_F(ModelScenario, levelsFollowTheMeterAndTheForgivenessSlider)
{
    makeModel();
    model->setHeightBoundary(2.0, false);
    EXPECT_DOUBLE_EQ(model->setup().yellow(), 0.45);
    model->setHeightBoundary(0.1, false);
    EXPECT_EQ(model->setup().yellow(), 0.15);
    model->setHeightBoundary(0.2, true);
    EXPECT_EQ(model->setup().red(), 0.55) << "at least 0.4 above yellow";
    model->setHeightBoundary(5, true);
    EXPECT_EQ(model->setup().red(), 3.0);
    model->setHeightBoundary(std::nan(""), true);
    EXPECT_EQ(model->setup().red(), 3.0);

    model->setForgiveness(0.5);
    EXPECT_DOUBLE_EQ(model->setup().yellow(), 0.45);
    EXPECT_DOUBLE_EQ(model->setup().red(), 0.85);
    model->setForgiveness(0);
    EXPECT_DOUBLE_EQ(model->setup().yellow(), 0.225);
    EXPECT_DOUBLE_EQ(model->setup().red(), 0.425);
    EXPECT_DOUBLE_EQ(model->engine().yellowThreshold(), 0.225);
}

TEST_F(ModelScenario, eachCameraKeepsItsOwnLevels)
{
    makeModel();
    camera->devices.append({"cam-2", "Other Camera", "external"});
    startCamera();
    calibrate();
    model->setForgiveness(1);
    ASSERT_DOUBLE_EQ(model->setup().yellow(), 0.9);

    model->select("cam-2");
    EXPECT_FALSE(model->hasSavedCalibration());
    EXPECT_DOUBLE_EQ(model->setup().yellow(), 0.9) << "the global levels follow the last change";
    model->setForgiveness(0.5);
    model->select("cam-1");
    EXPECT_TRUE(model->hasSavedCalibration());
    EXPECT_DOUBLE_EQ(model->setup().yellow(), 0.9);
    EXPECT_DOUBLE_EQ(model->setup().red(), 1.7);

    model->startCamera(true);
    model->drainCaptureQueue();
    EXPECT_EQ(model->setup().stage(), SetupStage::monitoring);
    EXPECT_EQ(model->message(), "Resumed your saved zones. Keep your camera and seating setup in the same position.");
}

TEST_F(ModelScenario, savedDisplaySettingsLoadWithinTheirLimits)
{
    writeDataFile("preferences.json",
                  R"({"version":1,"featureSchema":"seated-height-v2","delay":3,"yellow":0.5,"red":0.9,)"
                  R"("calibrations":{},"smokeDepth":25,"reminderMode":"smoke20","liveChartMotion":"jumpy",)"
                  R"("selectedCameraID":"cam-1"})");
    makeModel();
    EXPECT_EQ(model->display().smokeDepth(), 10.0);
    EXPECT_EQ(model->display().reminderMode(), ReminderMode::smoke);
    EXPECT_EQ(model->display().liveChartMotion(), LiveChartMotion::responsive);
    EXPECT_EQ(model->display().edgeEffectStyle(), EdgeEffectStyle::tide);
    EXPECT_EQ(alerts->edgeEffectStyle, EdgeEffectStyle::tide);
    EXPECT_EQ(alerts->smokeDepth, 10.0);
    EXPECT_EQ(model->setup().delay(), 3.0);
    EXPECT_EQ(model->setup().yellow(), 0.5);
    EXPECT_EQ(model->session().selectedID(), "cam-1");
    EXPECT_FALSE(model->persistenceMessage());
}

// A newer build's preferences must survive a start of this one: the camera selection
// saves at once, so the file is set aside first and the message stays until the user has
// set their zones again.
TEST_F(ModelScenario, anUnreadablePreferencesFileIsSetAsideReportedAndDefaultsApply)
{
    writeDataFile("preferences.json", R"({"version":2,"featureSchema":"seated-height-v3","calibrations":{}})");
    makeModel();
    const QString loadFailure =
        "Could not load saved settings. Saved settings were invalid or from an incompatible tracking version. "
        "Set your zones again.";
    EXPECT_EQ(model->persistenceMessage(), loadFailure);
    EXPECT_EQ(model->setup().yellow(), 0.45);
    EXPECT_EQ(model->setup().delay(), 2.0);

    startCamera(); // selecting the camera saves the settings
    EXPECT_EQ(model->persistenceMessage(), loadFailure);

    calibrate();
    EXPECT_FALSE(model->persistenceMessage()) << "the zones are set again";
}

TEST_F(ModelScenario, aFailingDetectorExplainsItselfAndTheLoopGoesOn)
{
    makeModel();
    startCamera();
    showSteadyFace();
    ASSERT_TRUE(model->hasPose());
    faces->failRequests(true);
    frame(0.4);
    EXPECT_FALSE(model->hasPose());
    EXPECT_EQ(model->trackingGuidance(), "Camera analysis interrupted. Keep your face visible and try again.");
    faces->failRequests(false);
    frames(1.0);
    EXPECT_TRUE(model->hasPose());
}

TEST_F(ModelScenario, aCameraBusyAtStartOrBorrowedLaterIsLentAndTakenBackWhenFree)
{
    const QString lent = "Camera lent to another app. Tracking resumes when it’s free.";
    startMonitoring();
    model->stop("Camera off. Start whenever you’re ready.");

    camera->heldElsewhere = true;
    startCamera();
    EXPECT_TRUE(model->session().active());
    EXPECT_EQ(model->state(), ZoneState::paused);
    EXPECT_EQ(model->session().pauseReason(), PauseReason::lent);
    EXPECT_EQ(model->message(), lent);

    camera->giveBack();
    model->drainCaptureQueue(); // the news reaches the model,
    model->drainCaptureQueue(); // which has the capture thread start the camera
    EXPECT_FALSE(model->session().paused());
    EXPECT_TRUE(camera->isRunning());
    frames(1.2);
    EXPECT_EQ(model->setup().stage(), SetupStage::monitoring) << "no new setup";
    ASSERT_EQ(model->state(), ZoneState::inside);

    camera->lend();
    model->drainCaptureQueue();
    EXPECT_TRUE(model->session().paused());
    EXPECT_EQ(model->session().pauseReason(), PauseReason::lent);
    EXPECT_EQ(model->state(), ZoneState::paused);
    EXPECT_EQ(model->message(), lent);

    // Resume by hand while the other app still has it: tried once, and still lent.
    model->setCameraEnabled(true);
    model->drainCaptureQueue();
    EXPECT_TRUE(model->session().paused());
    EXPECT_EQ(model->message(), lent);

    camera->giveBack();
    model->drainCaptureQueue();
    model->drainCaptureQueue();
    EXPECT_FALSE(model->session().paused());
    frame(0.4);
    EXPECT_FALSE(model->hasPose()) << "the face must be seen steadily again";
    frames(0.8);
    EXPECT_EQ(model->state(), ZoneState::inside);
}

TEST_F(ModelScenario, aDiagnosticLeaseSteersTheTrackerAndTheRemindersAndWritesSamples)
{
    startMonitoring();
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
