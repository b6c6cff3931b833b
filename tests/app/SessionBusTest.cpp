#include "ProcessRun.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDateTime>
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

// The application on a replayed clip of a person sitting still, on the session bus of
// this test run (ctest starts it under dbus-run-session), driven as a desktop script
// would: over the bus and with the command-line forms.
TEST(SessionBus, controlsTheRunningInstanceOverTheBusAndFromTheCommandLine)
{
    if (!QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "no session bus; run under dbus-run-session";
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString clip = folder.filePath("steady.y4m");
    const ProcessRun rendered =
        runToEnd(VERTICORA_CLIP_TOOL, {"--images", VERTICORA_TEST_DATA_DIR, "--duration", "25", VERTICORA_STEADY_SCENE, clip});
    ASSERT_EQ(rendered.exitCode, 0) << rendered.errors.toStdString();

    const QString data = folder.filePath("data");
    const ProcessRun idle = runApplication({"--status", "--data-dir", data});
    EXPECT_EQ(idle.exitCode, 1);
    EXPECT_TRUE(idle.errors.endsWith("Verticora is not running.")) << idle.errors.toStdString();

    RunningApplication verticora({"--replay", clip, "--headless", "--auto-setup", "--data-dir", data});
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
    EXPECT_EQ(callVerticora("Status").arguments().value(0).toString(), "paused");
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

    const ProcessRun second = runApplication({"--headless", "--data-dir", data});
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_TRUE(second.errors.contains("already running")) << second.errors.toStdString();
    EXPECT_TRUE(verticora.runsFor(0));
    EXPECT_TRUE(verticora.terminate());
}
