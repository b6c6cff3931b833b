#include "ProcessRun.h"

#include "store/PreferencesStore.h"
#include "store/ProgressStore.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace verticora;

// The shipped application on a rendered clip, in real time, as a user would meet it:
// camera start, the height captured on its own, monitoring, and the reminders of a sink.
TEST(ReplayApplication, setsTheHeightThenReportsTheSinkAndKeepsItsData)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString clip = folder.filePath("quick-sink.y4m");
    const ProcessRun rendered = runToEnd(VERTICORA_CLIP_TOOL, {"--images", VERTICORA_TEST_DATA_DIR,
                                                        VERTICORA_TEST_SCENE, clip});
    ASSERT_EQ(rendered.exitCode, 0) << rendered.errors.toStdString();

    const QString data = folder.filePath("data");
    const ProcessRun run = runToEnd(VERTICORA_APPLICATION, {"--replay", clip, "--headless", "--auto-setup", "--data-dir", data});
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    ASSERT_FALSE(run.states.empty());
    EXPECT_TRUE(run.sawState("inside"));
    EXPECT_TRUE(run.sawState("outside"));
    EXPECT_TRUE(run.sawState("alert"));
    EXPECT_EQ(run.states.back()["state"], "idle") << "the clip's end stops the camera";
    EXPECT_EQ(run.states.back()["message"],
              "Selected camera disconnected. Choose a camera explicitly and start again.");

    ASSERT_FALSE(run.summary.isEmpty());
    EXPECT_GT(run.summary["green_seconds"].toDouble(), 0.5);
    EXPECT_GT(run.summary["red_seconds"].toDouble(), 2.0);
    EXPECT_GT(run.summary["peak_memory_mb"].toDouble(), 0.0);
    EXPECT_GT(run.summary["tracker_full_passes"].toDouble(), 0.0) << "the tracker's totals reach the summary";

    const PreferencesLoad preferences = PreferencesStore(data + "/preferences.json").read();
    ASSERT_TRUE(preferences.preferences) << "preferences.json is missing or invalid";
    EXPECT_TRUE(preferences.preferences->calibration("replay:" + clip)) << "the height was saved for the clip";
    const ProgressStore progress(data + "/daily-progress.json");
    EXPECT_FALSE(progress.errorMessage());
    ASSERT_EQ(progress.days().size(), 1);
    EXPECT_NEAR(progress.days().front().redSeconds, run.summary["red_seconds"].toDouble(), 1e-6);
}
