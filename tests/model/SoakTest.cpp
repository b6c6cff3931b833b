// Eight hours of a working day in virtual time, across midnight in New York: the real
// camera model on the scripted camera, fed a frame every 0.35 s with the housekeeping
// tick after each, through cycles of sitting well, sinking, slumping and leaving.

#include "ModelScenario.h"

#include "store/LiveScoreStore.h"
#include "store/ProgressStore.h"

#include <QCoreApplication>

#include <array>
#include <cstdio>

#include <unistd.h>

using namespace verticora;
using namespace verticora::testing;

namespace {

constexpr double step = 0.35;
constexpr int cycles = 16; // of half an hour each
// 20:00 on 2026-06-01 in New York: the day changes four hours in.
constexpr double eveningInNewYork = 1'780'358'400.0;

// Resident memory of this process, in bytes.
double residentBytes()
{
    long pages = 0;
    long resident = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return double(resident) * double(sysconf(_SC_PAGESIZE));
}

struct Phase {
    std::optional<double> noseY; // none: nobody in front of the camera
    double minutes;
    int band; // 0 green, 1 yellow, 2 red; ignored while away
};

} // namespace

TEST_F(ModelScenario, anEightHourDayAcrossMidnightStaysFlatAndAccountsEverySecond)
{
    clock = std::make_shared<ManualClock>(1000.0, eveningInNewYork);
    makeModel();
    startCamera();
    calibrate();

    const Phase cycle[] = {{0.5, 20, 0}, {0.555, 4, 1}, {0.6, 3, 2}, {std::nullopt, 3, 0}};
    double fed[3] = {0, 0, 0};
    double warmedUp = 0;
    std::size_t largestWindow = 0;
    const ProgressStore& progress = model->progressStore();
    const LiveScoreStore& live = model->liveScore();
    const auto recordedPerBand = [&] {
        std::array<double, 3> seconds{};
        for (const DayProgress& day : progress.days()) {
            seconds[0] += day.greenSeconds;
            seconds[1] += day.yellowSeconds;
            seconds[2] += day.redSeconds;
        }
        return seconds;
    };
    const std::array<double, 3> before = recordedPerBand(); // the moments after the calibration

    for (int round = 0; round < cycles; ++round) {
        for (const Phase& phase : cycle) {
            if (phase.noseY)
                showFaceAt(*phase.noseY);
            else
                faces->showNobody();
            const int count = int(phase.minutes * 60 / step + 0.5);
            for (int i = 0; i < count; ++i) {
                frame(step);
                model->housekeepingTick();
                // The queued calls an application's event loop would run between frames.
                QCoreApplication::processEvents();
                const QList<LiveScorePoint>& points = live.points();
                largestWindow = std::max(largestWindow, std::size_t(points.size()));
                ASSERT_LE(points.size(), LiveScoreStore::pointCap);
                if (!points.isEmpty()) {
                    ASSERT_GE(points.front().date, points.back().date - LiveScoreStore::window);
                }
            }
            if (phase.noseY)
                fed[phase.band] += count * step;
        }
        if (round == 1)
            warmedUp = residentBytes();
    }
    model->stop(QString());

    // Two New York days, every second in the zone it was spent in, within one second per
    // cycle: a change of posture moves one frame (0.35 s) between zones, the last frame
    // before leaving is not credited, and a returning face is re-acquired for 0.35 s.
    ASSERT_EQ(progress.days().size(), 2);
    EXPECT_EQ(progress.days()[0].dateID, "2026-06-01");
    EXPECT_EQ(progress.days()[1].dateID, "2026-06-02");
    const std::array<double, 3> after = recordedPerBand();
    double recordedTotal = 0;
    for (int band = 0; band < 3; ++band) {
        const double recorded = after[std::size_t(band)] - before[std::size_t(band)];
        recordedTotal += recorded;
        EXPECT_NEAR(recorded, fed[band], 1.0 * cycles) << "band " << band;
        std::printf("band %d: fed %.2f s, recorded %.2f s\n", band, fed[band], recorded);
    }
    EXPECT_NEAR(recordedTotal, fed[0] + fed[1] + fed[2], 1.0 * cycles);

    // Steady tracking keeps about five minutes of points at 0.35 s.
    EXPECT_LE(largestWindow, std::size_t(300 / step) + 2);
    std::printf("resident memory after the first hour %.2f MB, growth since %.3f MB\n", warmedUp / 1e6,
                (residentBytes() - warmedUp) / 1e6);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    EXPECT_LE(residentBytes() - warmedUp, 1024.0 * 1024.0) << "resident memory grew after the first hour";
#endif
}
