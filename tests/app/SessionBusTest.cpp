#include "ProcessRun.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDateTime>
#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

ProcessRun runApplication(const QStringList& arguments)
{
    return runToEnd(VERTICORA_APPLICATION, arguments);
}

QDBusMessage callVerticora(const QString& method, const QVariantList& arguments = {})
{
    QDBusMessage message = QDBusMessage::createMethodCall("org.verticora.Verticora", "/org/verticora/Verticora",
                                                          "org.verticora.Verticora", method);
    message.setArguments(arguments);
    return QDBusConnection::sessionBus().call(message, QDBus::Block, 10'000);
}

} // namespace

// The application with its window on a replayed clip of a person sitting still, on the
// session bus of this test run (ctest starts it under dbus-run-session), driven as a
// desktop script would: over the bus and with the command-line forms. Launching it again
// for the same data folder shows the running one's window and leaves; another data
// folder is another instance. Then the updater hands over from build 41 to build 42,
// which carries on monitoring without a new height setup and leaves no handoff file.
TEST(SessionBus, controlsTheRunningInstanceAndHandsItOverToTheNextBuild)
{
    if (!QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "no session bus; run under dbus-run-session";
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString clip = folder.filePath("steady.y4m");
    const ProcessRun rendered =
        runToEnd(VERTICORA_CLIP_TOOL, {"--images", VERTICORA_TEST_DATA_DIR, "--duration", "30", VERTICORA_STEADY_SCENE, clip});
    ASSERT_EQ(rendered.exitCode, 0) << rendered.errors.toStdString();

    const QString data = folder.filePath("data");
    const ProcessRun idle = runApplication({"--status", "--data-dir", data});
    EXPECT_EQ(idle.exitCode, 1);
    EXPECT_TRUE(idle.errors.endsWith("Verticora is not running.")) << idle.errors.toStdString();

    const auto exists = [&](const char* name) { return QFile::exists(data + "/" + name); };
    const QStringList replay{"--replay", clip, "--data-dir", data, "--as-build"};
    RunningApplication verticora(replay + QStringList{"41", "--auto-setup"}, true);
    ASSERT_TRUE(verticora.waitFor([](const QJsonObject& line) {
        return line["stage"] == "monitoring" && line["state"] == "inside";
    })) << verticora.errors();

    const QDBusMessage status = callVerticora("Status");
    ASSERT_EQ(status.type(), QDBusMessage::ReplyMessage) << status.errorMessage().toStdString();
    EXPECT_EQ(status.arguments().value(0).toString(), "inside");
    EXPECT_EQ(status.arguments().value(1).toString(), "green");
    EXPECT_GE(status.arguments().value(2).toDouble(), 85);

    const double pausedAt = double(QDateTime::currentSecsSinceEpoch());
    ASSERT_EQ(callVerticora("Pause", {1u}).type(), QDBusMessage::ReplyMessage);
    const ProcessRun paused = runApplication({"--status", "--data-dir", data});
    ASSERT_EQ(paused.exitCode, 0) << paused.errors.toStdString();
    ASSERT_EQ(paused.states.size(), 1U) << "one JSON line";
    const QJsonObject& line = paused.states.front();
    EXPECT_EQ(line["state"], "paused");
    const double until = double(QDateTime::fromString(line["pauseUntil"].toString(), Qt::ISODate).toSecsSinceEpoch());
    EXPECT_NEAR(until, pausedAt + 60, 5) << line["pauseUntil"].toString().toStdString();

    const ProcessRun resumed = runApplication({"--resume", "--data-dir", data});
    EXPECT_EQ(resumed.exitCode, 0) << resumed.errors.toStdString();
    EXPECT_NE(callVerticora("Status").arguments().value(0).toString(), "paused");
    const ProcessRun tooLong = runApplication({"--pause", "721", "--data-dir", data});
    EXPECT_EQ(tooLong.exitCode, 1);
    EXPECT_TRUE(tooLong.errors.endsWith("A pause lasts from 1 to 720 minutes.")) << tooLong.errors.toStdString();

    RunningApplication second({"--data-dir", data}, true);
    EXPECT_TRUE(second.finished(30'000));
    EXPECT_NE(second.errors().find("already running; its window is open"), std::string::npos);
    EXPECT_TRUE(verticora.runsFor(0));
    RunningApplication other({"--data-dir", folder.filePath("other")}, true);
    EXPECT_TRUE(other.runsFor(3000)) << other.errors();
    EXPECT_TRUE(other.terminate());

    ASSERT_TRUE(verticora.waitForState("inside")) << verticora.errors();
    const ProcessRun handOver = runApplication({"--hand-over-to", "42", "--data-dir", data});
    EXPECT_EQ(handOver.exitCode, 0) << handOver.errors.toStdString();
    EXPECT_TRUE(verticora.finished()) << "the old build quit on the hand-over";
    EXPECT_TRUE(exists("update-resume.json"));

    RunningApplication build42(replay + QStringList{"42", "--headless"});
    EXPECT_TRUE(build42.waitForMessage("Resumed your saved zones. Keep your camera and seating setup in the same position."))
        << build42.errors();
    EXPECT_TRUE(build42.waitForState("inside"));
    EXPECT_FALSE(build42.sawStage("green")) << "no new height setup";
    EXPECT_FALSE(exists("update-resume.json"));
    EXPECT_FALSE(exists("update-request.json"));
    EXPECT_TRUE(build42.terminate());
}
