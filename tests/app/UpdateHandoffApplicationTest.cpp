#include "ProcessRun.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

// Build 41 sets the height and monitors; the updater hands over to build 42, which
// carries on monitoring without a new height setup and leaves no handoff file behind.
TEST(UpdateHandoffApplication, theNextBuildCarriesOnTrackingWithTheSavedHeight)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString clip = folder.filePath("seated-still.y4m");
    const QString data = folder.filePath("data");
    const ProcessRun rendered = runToEnd(VERTICORA_CLIP_TOOL, {"--images", VERTICORA_TEST_DATA_DIR, VERTICORA_STILL_SCENE, clip});
    ASSERT_EQ(rendered.exitCode, 0) << rendered.errors.toStdString();
    const auto exists = [&](const char* name) { return QFile::exists(data + "/" + name); };
    const auto run = [&](const QString& build, QStringList more = {}) {
        return std::make_unique<RunningApplication>(
            QStringList{"--replay", clip, "--headless", "--data-dir", data, "--as-build", build} + more);
    };

    const auto build41 = run("41", {"--auto-setup"});
    ASSERT_TRUE(build41->waitForState("inside")) << build41->errors();
    const ProcessRun handOver = runToEnd(VERTICORA_APPLICATION, {"--hand-over-to", "42", "--data-dir", data});
    EXPECT_EQ(handOver.exitCode, 0) << handOver.errors.toStdString();
    EXPECT_TRUE(build41->finished()) << "the old build quit on the hand-over";
    EXPECT_TRUE(exists("update-resume.json"));

    const auto build42 = run("42");
    EXPECT_TRUE(build42->waitForMessage("Resumed your saved zones. Keep your camera and seating setup in the same position."))
        << build42->errors();
    EXPECT_TRUE(build42->waitForState("inside"));
    EXPECT_FALSE(build42->sawStage("green")) << "no new height setup";
    EXPECT_FALSE(exists("update-resume.json"));
    EXPECT_FALSE(exists("update-request.json"));
    EXPECT_TRUE(build42->terminate());
}
