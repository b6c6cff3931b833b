#include "store/PreferencesStore.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <vector>

using namespace verticora;

namespace {

constexpr int waitMilliseconds = 90'000;

// One running build of the application on a replayed clip, read line by line.
class Instance {
public:
    Instance(const QString& clip, const QString& data, const QString& build, bool autoSetup = false)
    {
        QStringList arguments{"--replay", clip, "--headless", "--data-dir", data, "--as-build", build};
        if (autoSetup)
            arguments << "--auto-setup";
        m_process.start(VERTICORA_APPLICATION, arguments);
        m_process.waitForStarted(waitMilliseconds);
    }
    ~Instance() { terminate(); }

    // Reads state lines until one satisfies `match`; false when none did in time.
    bool waitFor(const std::function<bool(const QJsonObject&)>& match)
    {
        const QDeadlineTimer deadline(waitMilliseconds);
        for (;;) {
            while (m_process.canReadLine()) {
                lines.push_back(QJsonDocument::fromJson(m_process.readLine()).object());
                if (match(lines.back()))
                    return true;
            }
            if (deadline.hasExpired() || m_process.state() != QProcess::Running
                || !m_process.waitForReadyRead(int(deadline.remainingTime())))
                return false;
        }
    }
    bool waitForMessage(const QString& message)
    {
        return waitFor([&](const QJsonObject& line) { return line["message"] == message; });
    }
    [[nodiscard]] bool sawStage(const QString& stage) const
    {
        return std::any_of(lines.begin(), lines.end(), [&](const QJsonObject& line) { return line["stage"] == stage; });
    }
    // Ends the run as a session logout would; true when it quit by itself and cleanly.
    bool terminate()
    {
        if (m_process.state() == QProcess::NotRunning)
            return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
        ::kill(static_cast<pid_t>(m_process.processId()), SIGTERM);
        return finished();
    }
    bool finished()
    {
        if (m_process.waitForFinished(waitMilliseconds))
            return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
        m_process.kill();
        m_process.waitForFinished();
        return false;
    }
    [[nodiscard]] std::string errors() { return m_process.readAllStandardError().toStdString(); }

    std::vector<QJsonObject> lines;

private:
    QProcess m_process;
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
    ASSERT_TRUE(build41.waitFor([](const QJsonObject& line) { return line["state"] == "inside"; }))
        << build41.errors();
    handOverTo("42");
    EXPECT_TRUE(build41.finished()) << "the old build quit on the hand-over";
    EXPECT_TRUE(exists("update-resume.json"));

    Instance build42(clip, data, "42");
    EXPECT_TRUE(build42.waitForMessage(resumed)) << build42.errors();
    EXPECT_TRUE(build42.waitFor([](const QJsonObject& line) { return line["state"] == "inside"; }));
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
        ASSERT_TRUE(setup.waitFor([](const QJsonObject& line) { return line["state"] == "inside"; }))
            << setup.errors();
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
