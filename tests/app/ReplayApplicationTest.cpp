#include "ProcessRun.h"

#include "store/PreferencesStore.h"
#include "store/ProgressStore.h"

#include <QDir>
#include <QFile>
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

// Settings from a newer version must survive a start of this one byte for byte, although
// the start saves the camera it selects at once.
TEST(ReplayApplication, keepsPreferencesItCannotReadAsASetAsideCopy)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString clip = folder.filePath("steady.y4m");
    const ProcessRun rendered =
        runToEnd(VERTICORA_CLIP_TOOL, {"--images", VERTICORA_TEST_DATA_DIR, "--duration", "2", VERTICORA_STEADY_SCENE, clip});
    ASSERT_EQ(rendered.exitCode, 0) << rendered.errors.toStdString();

    const QString data = folder.filePath("data");
    ASSERT_TRUE(QDir().mkpath(data));
    const QByteArray newer =
        R"({"version":2,"featureSchema":"seated-height-v2","delay":2,"yellow":0.45,"red":0.85,"calibrations":)"
        R"({"cam":{"cameraID":"cam","featureSchema":"seated-height-v2","baseline":[0,0.9,0,0.4,0.9,0.5],)"
        R"("yellow":0.45,"red":0.85}}})";
    QFile file(data + "/preferences.json");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(newer) == newer.size());
    file.close();

    const ProcessRun run = runToEnd(VERTICORA_APPLICATION, {"--replay", clip, "--headless", "--data-dir", data});
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    const QStringList aside = QDir(data).entryList({"preferences.unreadable-*.json"});
    ASSERT_EQ(aside.size(), 1);
    QFile copy(data + "/" + aside.front());
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), newer);
    EXPECT_TRUE(PreferencesStore(data + "/preferences.json").read().preferences) << "a fresh file took its place";
}
