// Eight hours of a working day in virtual time, across midnight in New York: the real
// camera model on the scripted camera, fed a frame every 0.35 s with the housekeeping
// tick after each, through cycles of sitting well, sinking, slumping and leaving.

#include "ModelScenario.h"

#include "store/LiveScoreStore.h"
#include "store/ProgressStore.h"

#include <QCoreApplication>
#include <QFile>

#include <unistd.h>

using namespace verticora;
using namespace verticora::testing;

namespace {

constexpr double step = 0.35;
constexpr int cycles = 16; // of half an hour each
constexpr double DayProgress::*bands[] = {&DayProgress::greenSeconds, &DayProgress::yellowSeconds,
                                          &DayProgress::redSeconds};

double residentBytes()
{
    QFile statm("/proc/self/statm");
    return statm.open(QIODevice::ReadOnly) ? statm.readAll().split(' ').value(1).toDouble() * double(sysconf(_SC_PAGESIZE))
                                           : 0;
}

} // namespace

TEST_F(ModelScenario, anEightHourDayAcrossMidnightStaysFlatAndAccountsEverySecond)
{
    clock = std::make_shared<ManualClock>(1000.0, 1'780'358'400.0); // 20:00 in New York
    startMonitoring();
    const ProgressStore& progress = model->progressStore();
    const auto recorded = [&](int band) {
        double seconds = 0;
        for (const DayProgress& day : progress.days())
            seconds += day.*bands[band];
        return seconds;
    };
    double fed[3] = {};
    double before[3] = {recorded(0), recorded(1), recorded(2)}; // the moments after the calibration
    [[maybe_unused]] double warmedUp = 0; // unchecked where a sanitizer owns the memory
    qsizetype largestWindow = 0;
    // Nose height (none: nobody there), minutes and the band it counts to.
    const struct { std::optional<double> noseY; double minutes; int band; } cycle[] = {
        {0.5, 20, 0}, {0.555, 4, 1}, {0.6, 3, 2}, {std::nullopt, 3, 0}};
    for (int round = 0; round < cycles; ++round) {
        for (const auto& phase : cycle) {
            phase.noseY ? showFaceAt(*phase.noseY) : faces->showNobody();
            const int count = int(phase.minutes * 60 / step + 0.5);
            for (int i = 0; i < count; ++i) {
                frame(step);
                model->housekeepingTick();
                QCoreApplication::processEvents(); // the queued calls an event loop would run
                largestWindow = std::max(largestWindow, model->liveScore().points().size());
            }
            if (phase.noseY)
                fed[phase.band] += count * step;
        }
        if (round == 1)
            warmedUp = residentBytes();
    }
    model->stop(QString());

    // Every second in the zone it was spent in, within one second per cycle: a change of
    // posture moves one frame between zones, the last frame before leaving is not
    // credited, and a returning face is re-acquired for one frame.
    ASSERT_EQ(progress.days().size(), 2);
    EXPECT_EQ(progress.days()[1].dateID, "2026-06-02");
    double total = 0;
    for (int band = 0; band < 3; ++band) {
        total += recorded(band) - before[band];
        EXPECT_NEAR(recorded(band) - before[band], fed[band], 1.0 * cycles) << "band " << band;
    }
    EXPECT_NEAR(total, fed[0] + fed[1] + fed[2], 1.0 * cycles);
    EXPECT_LE(largestWindow, qsizetype(300 / step) + 2) << "about five minutes of points";
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    EXPECT_LE(residentBytes() - warmedUp, 1024.0 * 1024.0) << "resident memory grew after the first hour";
#endif
}
