// Writers killed at random moments must leave a complete file of some version behind,
// and the next start must clear away what they were writing.

#include "StoreTestSupport.h"

#include "store/DailyProgressFile.h"
#include "store/PreferencesStore.h"
#include "store/ProgressStore.h"

#include <QFileInfo>

#include <gtest/gtest.h>

#include <csignal>
#include <random>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace verticora;
using namespace verticora::test;

namespace {

// Version `k` of the settings: the fields agree with each other only when the file
// holds one whole version.
PosturePreferences version(int k)
{
    PosturePreferences preferences;
    preferences.selectedCameraID = QStringLiteral("camera-%1").arg(k);
    preferences.delay = 1.0 + (k % 400) / 100.0;
    preferences.smokeDepth = k % 50;
    for (int c = 0; c < k % 5; ++c) {
        SavedCalibration calibration;
        calibration.cameraID = QStringLiteral("camera-%1-%2").arg(k).arg(c);
        calibration.baseline = {0, 0.9, 0, 0.4, 0.9, 0.5};
        preferences.calibrations.emplace(calibration.cameraID, calibration);
    }
    return preferences;
}

bool isVersion(const PosturePreferences& preferences)
{
    const QString id = preferences.selectedCameraID.value_or(QString());
    bool ok = false;
    const int k = id.mid(QStringLiteral("camera-").size()).toInt(&ok);
    return ok && preferences == version(k);
}

// Saves both files over and over; after the first round of saves it writes one byte to
// `started`, so the parent kills it while it is rewriting files, not while it starts up.
[[noreturn]] void saveForever(const QString& preferencesPath, const QString& progressPath, int round, int started)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    PreferencesStore preferences(preferencesPath);
    (void)preferences.load();
    ProgressStore progress(progressPath, [] { return 1'700'000'000.0; });
    const WallTime start = 1'750'000'000.0 + round * 100'000.0;
    for (int k = 0;; ++k) {
        (void)preferences.save(version(round * 100'000 + k));
        progress.record(0.1, 0.45, 0.85, start + k, true);
        progress.flush();
        if (k == 1 && write(started, "s", 1) != 1)
            _exit(1);
    }
}

} // namespace

TEST(CrashSafety, killedWritersLeaveCompleteFiles)
{
    TempFolder folder;
    const QString preferencesPath = folder.file(QStringLiteral("Verticora/preferences.json"));
    const QString progressPath = folder.file(QStringLiteral("Verticora/daily-progress.json"));
    std::mt19937 random(1234);
    std::uniform_int_distribution<int> waitMicroseconds(0, 30'000);
    QByteArray previousPreferences = readBytes(preferencesPath);
    QByteArray previousProgress = readBytes(progressPath);
    int preferencesChanges = 0;
    int progressChanges = 0;
    for (int round = 0; round < 30; ++round) {
        int started[2];
        ASSERT_EQ(pipe(started), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0)
            saveForever(preferencesPath, progressPath, round, started[1]);
        close(started[1]);
        char byte = 0;
        const bool running = read(started[0], &byte, 1) == 1;
        close(started[0]);
        if (running)
            usleep(useconds_t(waitMicroseconds(random)));
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(running && WIFSIGNALED(status)) << "the writer stopped by itself in round " << round;

        PreferencesStore reopened(preferencesPath);
        const PreferencesLoad load = reopened.load();
        ASSERT_TRUE(load.preferences) << "round " << round << ": "
                                      << load.failure.value_or(PreferencesFailure{}).description.toStdString();
        ASSERT_TRUE(isVersion(*load.preferences)) << "round " << round;
        const QByteArray progressBytes = readBytes(progressPath);
        const auto progress = decodeDailyProgress(progressBytes);
        ASSERT_TRUE(progress && progress->acceptable()) << "round " << round << ": " << progressBytes.toStdString();
        const ProgressStore progressReopened(progressPath);
        ASSERT_FALSE(progressReopened.errorMessage());
        const QStringList names = fileNames(QFileInfo(progressPath).path());
        ASSERT_EQ(names, (QStringList{"daily-progress.json", "preferences.json"})) << "round " << round;

        preferencesChanges += readBytes(preferencesPath) != previousPreferences;
        progressChanges += progressBytes != previousProgress;
        previousPreferences = readBytes(preferencesPath);
        previousProgress = progressBytes;
    }
    // Every round rewrote both files before it was killed.
    EXPECT_EQ(preferencesChanges, 30);
    EXPECT_EQ(progressChanges, 30);
}
