#include "app/SingleInstance.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

namespace {

QProcessEnvironment offscreen()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    return environment;
}

void start(QProcess& process, const QString& dataFolder)
{
    process.setProcessEnvironment(offscreen());
    process.start(VERTICORA_APPLICATION, {"--data-dir", dataFolder});
    ASSERT_TRUE(process.waitForStarted(10'000));
}

void terminate(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    if (!process.waitForFinished(20'000)) {
        process.kill();
        process.waitForFinished();
    }
}

} // namespace

// Launching Verticora again for the same data folder shows the running one's window and
// leaves; another data folder is another instance.
TEST(SecondLaunch, showsTheRunningInstanceForTheSameDataFolder)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QProcess first;
    start(first, folder.filePath("data"));
    // The first launch is the instance once it listens for later ones.
    const QString socket = verticora::SingleInstance(folder.filePath("data")).serverName();
    const QDeadlineTimer deadline(30'000);
    while (!QFileInfo::exists(socket) && !deadline.hasExpired() && first.state() == QProcess::Running)
        QThread::msleep(20);
    ASSERT_TRUE(QFileInfo::exists(socket)) << first.readAllStandardError().toStdString();

    QProcess second;
    start(second, folder.filePath("data"));
    ASSERT_TRUE(second.waitForFinished(30'000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardError().contains("already running; its window is open"));
    EXPECT_EQ(first.state(), QProcess::Running);

    QProcess other;
    start(other, folder.filePath("other"));
    EXPECT_FALSE(other.waitForFinished(3000)) << other.readAllStandardError().toStdString();
    terminate(other);

    terminate(first);
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
}
