// Writers killed at random moments must leave a complete file of some version behind.

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

[[noreturn]] void saveForever(const QString& preferencesPath, const QString& progressPath, int round)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const PreferencesStore preferences(preferencesPath);
    ProgressStore progress(progressPath, [] { return 1'700'000'000.0; });
    const WallTime start = 1'750'000'000.0 + round * 100'000.0;
    for (int k = 0;; ++k) {
        (void)preferences.save(version(round * 100'000 + k));
        progress.record(0.1, 0.45, 0.85, start + k, true);
        progress.flush();
    }
}

} // namespace

TEST(CrashSafety, killedWritersLeaveCompleteFiles)
{
    TempFolder folder;
    const QString preferencesPath = folder.file(QStringLiteral("Verticora/preferences.json"));
    const QString progressPath = folder.file(QStringLiteral("Verticora/daily-progress.json"));
    ASSERT_FALSE(PreferencesStore(preferencesPath).save(version(0)));
    {
        ProgressStore progress(progressPath);
        progress.record(0.1, 0.45, 0.85, 1'749'000'000.0, true);
        progress.record(0.1, 0.45, 0.85, 1'749'000'001.0, true);
        progress.flush();
        ASSERT_FALSE(progress.errorMessage());
    }

    std::mt19937 random(1234);
    std::uniform_int_distribution<int> waitMicroseconds(2'000, 60'000);
    QByteArray previousPreferences = readBytes(preferencesPath);
    QByteArray previousProgress = readBytes(progressPath);
    int preferencesChanges = 0;
    int progressChanges = 0;
    for (int round = 0; round < 30; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0)
            saveForever(preferencesPath, progressPath, round);
        usleep(useconds_t(waitMicroseconds(random)));
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself in round " << round;

        const PreferencesLoad load = PreferencesStore(preferencesPath).load();
        ASSERT_TRUE(load.preferences) << "round " << round << ": "
                                      << load.failure.value_or(PreferencesFailure{}).description.toStdString();
        ASSERT_TRUE(isVersion(*load.preferences)) << "round " << round;
        const QByteArray progressBytes = readBytes(progressPath);
        const auto progress = decodeDailyProgress(progressBytes);
        ASSERT_TRUE(progress && progress->acceptable()) << "round " << round << ": " << progressBytes.toStdString();

        preferencesChanges += readBytes(preferencesPath) != previousPreferences;
        progressChanges += progressBytes != previousProgress;
        previousPreferences = readBytes(preferencesPath);
        previousProgress = progressBytes;
    }
    // The kills did land while the files were being rewritten.
    EXPECT_GT(preferencesChanges, 0);
    EXPECT_GT(progressChanges, 0);
}
