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
    std::mt19937 random(1234);
    std::uniform_int_distribution<int> waitMicroseconds(1'000, 40'000);
    int checkedPreferences = 0;
    int checkedProgress = 0;

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

        if (QFileInfo::exists(preferencesPath)) {
            const PreferencesLoad load = PreferencesStore(preferencesPath).load();
            ASSERT_TRUE(load.preferences) << "round " << round << ": "
                                          << load.failure.value_or(PreferencesFailure{}).description.toStdString();
            ASSERT_TRUE(isVersion(*load.preferences)) << "round " << round;
            ++checkedPreferences;
        }
        if (QFileInfo::exists(progressPath)) {
            const QByteArray bytes = readBytes(progressPath);
            const auto file = decodeDailyProgress(bytes);
            ASSERT_TRUE(file && file->acceptable()) << "round " << round << ": " << bytes.toStdString();
            ++checkedProgress;
        }
    }
    EXPECT_GT(checkedPreferences, 20);
    EXPECT_GT(checkedProgress, 20);
}
