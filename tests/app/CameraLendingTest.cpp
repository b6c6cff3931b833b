// The camera lent to another program, end to end: the real capture pipeline (a test
// source in place of the camera), its node watched, the model and the tray icon.

#include "../platform/NodeHolder.h"
#include "../model/RecordingAlertController.h"
#include "ShellScenario.h"

#include "app/StatusItem.h"
#include "platform/GstCameraCapture.h"
#include "store/ProgressStore.h"
#include "ui/PosturePage.h"

#include <QElapsedTimer>
#include <QFile>

using namespace verticora;
using namespace verticora::testing;

TEST_F(ShellScenario, anotherAppOpeningTheCameraBorrowsItAndTrackingResumesThreeSecondsAfterItsClose)
{
    // The height is set once, on the scripted camera; the real pipeline takes over its identity.
    makeModel();
    startCamera();
    calibrate();
    model.reset();

    const QString node = dataFile("video0");
    QFile file(node);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    GstCameraCapture::StandIn standIn;
    standIn.device = {"cam-1", "Desk Camera", "external"};
    standIn.source = "videotestsrc is-live=true ! capsfilter caps=\"video/x-raw,format=YUY2,width=320,height=180,"
                     "framerate=30/1\"";
    standIn.node = node.toStdString();
    auto capture = std::make_unique<GstCameraCapture>(standIn);
    GstCameraCapture& pipeline = *capture;
    CameraModelServices services;
    services.capture = std::move(capture);
    services.alerts = std::make_unique<RecordingAlertController>();
    services.makeLandmarkRequest = [script = faces] { return std::make_unique<ScriptedLandmarkRequest>(script); };
    services.clock = std::make_shared<SystemClock>();
    model = std::make_unique<CameraModel>(PreferencesStore(dataFile("preferences.json")), std::move(services));
    StatusItem item(*model, {[] {}, [] {}});
    PosturePage page(*model);

    showFaceAt(0.5);
    model->startCamera(true);
    ASSERT_TRUE(eventually([&] { return model->state() == ZoneState::inside; }, 10'000)) << model->message().toStdString();

    auto call = std::make_unique<NodeHolder>(node);
    ASSERT_TRUE(call->started());
    ASSERT_TRUE(eventually([&] { return model->session().paused(); }, 5000));
    EXPECT_FALSE(pipeline.isRunning()) << "the pipeline went to NULL";
    EXPECT_EQ(pipeline.statistics().releases, 1u);
    const QString lent = "Camera lent to another app. Tracking resumes when it’s free.";
    EXPECT_EQ(model->message(), lent);
    EXPECT_TRUE(eventually([&] { return item.lastStatus() == "Camera lent to another app"; }));
    EXPECT_EQ(item.toolTip(), "Verticora · Camera lent to another app\nClick to open Verticora. Right-click to quit.");
    page.refresh();
    EXPECT_TRUE(shownTexts(page).contains(lent));
    const double credited = model->progressStore().days().front().greenSeconds;

    QElapsedTimer sinceClose;
    call.reset();
    sinceClose.start();
    ASSERT_TRUE(eventually([&] { return !model->session().paused(); }, 8000));
    EXPECT_GE(sinceClose.elapsed(), 2900) << "taken back only after three quiet seconds";
    EXPECT_EQ(model->progressStore().days().front().greenSeconds, credited) << "nothing counted while lent";
    EXPECT_EQ(model->setup().stage(), SetupStage::monitoring) << "no new setup";
    EXPECT_TRUE(eventually([&] { return model->state() == ZoneState::inside; }, 5000)) << model->message().toStdString();
    EXPECT_TRUE(pipeline.isRunning());
}
