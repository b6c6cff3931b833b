#include "ProcessRun.h"

#include "app/SingleInstance.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

// Launching Verticora again for the same data folder shows the running one's window and
// leaves; another data folder is another instance.
TEST(SecondLaunch, showsTheRunningInstanceForTheSameDataFolder)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString data = folder.filePath("data");
    RunningApplication first({"--data-dir", data}, true);
    // The first launch is the instance once it listens for later ones.
    const QString socket = verticora::SingleInstance(data).serverName();
    const QDeadlineTimer deadline(30'000);
    while (!QFileInfo::exists(socket) && !deadline.hasExpired())
        QThread::msleep(20);
    ASSERT_TRUE(QFileInfo::exists(socket)) << first.errors();

    RunningApplication second({"--data-dir", data}, true);
    EXPECT_TRUE(second.finished(30'000));
    EXPECT_NE(second.errors().find("already running; its window is open"), std::string::npos);
    EXPECT_TRUE(first.runsFor(0));

    RunningApplication other({"--data-dir", folder.filePath("other")}, true);
    EXPECT_TRUE(other.runsFor(3000)) << other.errors();
    EXPECT_TRUE(first.terminate());
}
