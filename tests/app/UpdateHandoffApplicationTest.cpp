#include "ProcessRun.h"

#include "store/PreferencesStore.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace verticora;

namespace {

constexpr int waitMilliseconds = RunningApplication::waitMilliseconds;

// One running build of the application on a replayed clip.
class Instance : public RunningApplication {
public:
    Instance(const QString& clip, const QString& data, const QString& build, bool autoSetup = false)
        : RunningApplication(arguments(clip, data, build, autoSetup))
    {
    }

private:
    static QStringList arguments(const QString& clip, const QString& data, const QString& build, bool autoSetup)
    {
        QStringList arguments{"--replay", clip, "--headless", "--data-dir", data, "--as-build", build};
        if (autoSetup)
            arguments << "--auto-setup";
        return arguments;
    }
};

class UpdateHandoffApplication : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_folder.isValid());
        QProcess render;
        render.start(VERTICORA_CLIP_TOOL, {"--images", VERTICORA_TEST_DATA_DIR, VERTICORA_STILL_SCENE, clip});
        ASSERT_TRUE(render.waitForFinished(waitMilliseconds));
        ASSERT_EQ(render.exitCode(), 0) << render.readAllStandardError().toStdString();
    }

    // `verticora --hand-over-to BUILD`, run to its end.
    void handOverTo(const QString& build)
    {
        QProcess handOver;
        handOver.start(VERTICORA_APPLICATION, {"--hand-over-to", build, "--data-dir", data});
        ASSERT_TRUE(handOver.waitForFinished(waitMilliseconds));
        EXPECT_EQ(handOver.exitCode(), 0) << handOver.readAllStandardError().toStdString();
    }
    [[nodiscard]] bool exists(const char* name) const { return QFile::exists(data + "/" + name); }

    QTemporaryDir m_folder;
    const QString clip = m_folder.filePath("seated-still.y4m");
    const QString data = m_folder.filePath("data");
    const QString resumed = "Resumed your saved zones. Keep your camera and seating setup in the same position.";
};

} // namespace

// Build 41 sets the height and monitors; the updater hands over to build 42, which
// carries on monitoring without a new height setup and leaves no handoff file behind.
TEST_F(UpdateHandoffApplication, theNextBuildCarriesOnTrackingWithTheSavedHeight)
{
    Instance build41(clip, data, "41", true);
    ASSERT_TRUE(build41.waitForState("inside")) << build41.errors();
    handOverTo("42");
    EXPECT_TRUE(build41.finished()) << "the old build quit on the hand-over";
    EXPECT_TRUE(exists("update-resume.json"));

    Instance build42(clip, data, "42");
    EXPECT_TRUE(build42.waitForMessage(resumed)) << build42.errors();
    EXPECT_TRUE(build42.waitForState("inside"));
    EXPECT_FALSE(build42.sawStage("green")) << "no new height setup";
    EXPECT_FALSE(exists("update-resume.json"));
    EXPECT_FALSE(exists("update-request.json"));
    EXPECT_TRUE(build42.terminate());
}

// Settings edited between the two builds: the new one resumes nothing and says why.
TEST_F(UpdateHandoffApplication, settingsEditedInBetweenLeaveTheCameraOffWithTheReason)
{
    {
        Instance setup(clip, data, "40", true);
        ASSERT_TRUE(setup.waitForState("inside")) << setup.errors();
    }
    Instance build41(clip, data, "41");
    ASSERT_TRUE(build41.waitForMessage(resumed)) << build41.errors();
    handOverTo("42");
    EXPECT_TRUE(build41.finished());

    PreferencesStore store(data + "/preferences.json");
    PreferencesLoad loaded = store.load();
    ASSERT_TRUE(loaded.preferences);
    loaded.preferences->smokeDepth = 3;
    ASSERT_FALSE(store.save(*loaded.preferences));

    Instance build42(clip, data, "42");
    EXPECT_TRUE(build42.waitForMessage(
        "Update installed. Your settings changed after the update was prepared. Turn Camera on when ready."))
        << build42.errors();
    EXPECT_FALSE(exists("update-resume.json"));
    EXPECT_TRUE(build42.terminate());
    EXPECT_FALSE(build42.sawStage("monitoring")) << "the camera waits for the user";
}
