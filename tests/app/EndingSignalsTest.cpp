#include "ProcessRun.h"

#include "store/PreferencesStore.h"
#include "store/ProgressStore.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <tuple>
#include <utility>

using namespace verticora;

namespace {

struct Band {
    const char* name;
    const char* state; // the state line that shows it
    double DayProgress::*seconds;
};

const Band green{"green", "inside", &DayProgress::greenSeconds};
const Band yellow{"yellow", "yellow", &DayProgress::yellowSeconds};
const Band redWithCard{"red", "alert", &DayProgress::redSeconds};

// The application with its window and reminders on a clip that sinks from the chosen
// height through yellow into red; the height was chosen once, on a still clip of the same
// face, and is handed to every run.
class EndingSignals : public ::testing::TestWithParam<std::tuple<int, Band>> {
protected:
    static void SetUpTestSuite()
    {
        folder = std::make_unique<QTemporaryDir>();
        const QString still = folder->filePath("steady.y4m");
        sinking = folder->filePath("sinking-bands.y4m");
        for (const auto& [scene, clip] : {std::pair{VERTICORA_STEADY_SCENE, still}, {VERTICORA_BANDS_SCENE, sinking}})
            ASSERT_EQ(runToEnd(VERTICORA_CLIP_TOOL, {"--images", VERTICORA_TEST_DATA_DIR, scene, clip}).exitCode, 0);

        const QString setupData = folder->filePath("setup");
        {
            RunningApplication setup({"--replay", still, "--headless", "--auto-setup", "--data-dir", setupData});
            ASSERT_TRUE(setup.waitForState("inside")) << setup.errors();
        }
        std::optional<PosturePreferences> loaded = PreferencesStore(setupData + "/preferences.json").load().preferences;
        ASSERT_TRUE(loaded);
        std::optional<SavedCalibration> calibration = loaded->calibration("replay:" + still);
        ASSERT_TRUE(calibration);
        calibration->cameraID = "replay:" + sinking;
        loaded->calibrations = {{calibration->cameraID, *calibration}};
        loaded->delay = 1;
        loaded->redAlertEnabled = true;
        preferences = loaded;
    }
    static void TearDownTestSuite() { folder.reset(); }

    static inline std::unique_ptr<QTemporaryDir> folder;
    static inline QString sinking;
    static inline std::optional<PosturePreferences> preferences;
};

} // namespace

// One signal ends the process at once whatever is on screen, with the day's history
// written: a logout, `kill` and an update's fallback all send SIGTERM.
TEST_P(EndingSignals, endTheApplicationAtOnceWithTheHistorySaved)
{
    const auto [signal, band] = GetParam();
    ASSERT_TRUE(preferences);
    const QString data = folder->filePath(QStringLiteral("%1-%2").arg(band.name).arg(signal));
    PreferencesStore store(data + "/preferences.json");
    (void)store.load();
    ASSERT_FALSE(store.save(*preferences));

    RunningApplication application({"--replay", sinking, "--data-dir", data}, true);
    // Two measured readings in a row in the band, so that it has seconds to save: a frame
    // without a face between them credits nothing.
    int inARow = 0;
    ASSERT_TRUE(application.waitFor([&](const QJsonObject& line) {
        inARow = line["state"] == band.state && line["hasPose"].toBool() ? inARow + 1 : 0;
        return inARow == 2;
    })) << application.errors();
    QElapsedTimer ending;
    ending.start();
    application.signal(signal);
    EXPECT_TRUE(application.finished(2000)) << "still running " << ending.elapsed() << " ms after the signal";

    const ProgressStore progress(data + "/daily-progress.json");
    ASSERT_EQ(progress.days().size(), 1);
    EXPECT_GT(progress.days().front().*band.seconds, 0) << "the seconds in " << band.name << " were saved";
}

INSTANTIATE_TEST_SUITE_P(EveryBand, EndingSignals,
                         ::testing::Combine(::testing::Values(SIGTERM, SIGINT, SIGHUP),
                                            ::testing::Values(green, yellow, redWithCard)),
                         [](const ::testing::TestParamInfo<std::tuple<int, Band>>& info) {
                             return std::string("SIG") + sigabbrev_np(std::get<0>(info.param)) + "_" + std::get<1>(info.param).name;
                         });
