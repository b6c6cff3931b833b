#include "AllocationCounter.h"

#include "store/DailyProgressCalendar.h"
#include "store/DailyProgressFile.h"
#include "store/LiveScoreStore.h"
#include "store/ProgressStore.h"

#include <QDate>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <limits>
#include <memory>

using namespace verticora;
using verticora::bench::AllocationScope;

namespace {

constexpr int historyDays = 1100; // three years
constexpr double frameInterval = 1.0 / 3.0;

// Three years of days tracked from 8:00 to 18:00 with unround seconds, as a real
// history accumulates them.
QByteArray threeYearHistory()
{
    DailyProgressFile file;
    file.timeZone = QString(DailyProgressCalendar::timeZoneID);
    QDate date(2023, 1, 1);
    for (int d = 0; d < historyDays; ++d, date = date.addDays(1)) {
        DayProgress day;
        day.dateID = date.toString(QStringLiteral("yyyy-MM-dd"));
        for (int h = 8; h < 18; ++h) {
            HourProgress& hour = day.hours[std::size_t(h)];
            hour = {2400.0 + d / 7.0 + h / 3.0, 900.0 + d / 11.0, 120.0 + h / 13.0};
            day.greenSeconds += hour.greenSeconds;
            day.yellowSeconds += hour.yellowSeconds;
            day.redSeconds += hour.redSeconds;
        }
        file.days.append(day);
    }
    return encodeDailyProgress(file);
}

struct HistoryFolder {
    QTemporaryDir folder;
    QString path = folder.filePath(QStringLiteral("daily-progress.json"));

    HistoryFolder()
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(threeYearHistory()) < 0)
            std::abort();
    }
};

// The benchmark loop: one tracked reading per analysed frame, the face moving through
// all three zones.
template <typename Store>
void recordFrames(benchmark::State& state, Store& store, WallTime start)
{
    const double deviations[] = {0.1, 0.3, 0.5, 0.7, 0.9, 0.6, 0.2};
    WallTime t = start;
    std::size_t i = 0;
    AllocationScope allocations(state);
    for (auto _ : state) {
        store.record(deviations[i], 0.45, 0.85, t, true);
        t += frameInterval;
        i = (i + 1) % std::size(deviations);
    }
}

// One reading per analysed frame on top of a three-year history, crediting, hour
// bookkeeping and the once-a-second publication included. The periodic save is left
// out here (it runs once every 30 s; see progressStoreSave).
void progressStoreRecord(benchmark::State& state)
{
    HistoryFolder history;
    ProgressStore store(history.path, systemWallTime, maximumTrackingGap,
                        std::numeric_limits<double>::infinity(), ProgressStore::defaultPublishInterval);
    recordFrames(state, store, 1'780'000'000); // mid-2026: the newest day of the history grows
    state.counters["days"] = double(store.days().size());
}
BENCHMARK(progressStoreRecord);

// Writing the three-year file (encode, temporary file, flush to disk, rename, chmod).
void progressStoreSave(benchmark::State& state)
{
    HistoryFolder history;
    ProgressStore store(history.path);
    WallTime t = 1'780'000'000;
    for (auto _ : state) {
        store.record(0.1, 0.45, 0.85, t, true);
        store.record(0.1, 0.45, 0.85, t + 1, true);
        store.flush();
        t += 10;
    }
    state.counters["bytes"] = double(QFile(history.path).size());
}
BENCHMARK(progressStoreSave)->Unit(benchmark::kMillisecond);

// Reading, decoding and checking the three-year file.
void progressStoreLoad(benchmark::State& state)
{
    HistoryFolder history;
    for (auto _ : state) {
        ProgressStore store(history.path);
        benchmark::DoNotOptimize(store.days().size());
    }
}
BENCHMARK(progressStoreLoad)->Unit(benchmark::kMillisecond);

// One reading per analysed frame with the five-minute window full: every reading adds a
// point and drops an expired one.
void liveScoreStoreRecord(benchmark::State& state)
{
    LiveScoreStore store;
    WallTime t = 1'780'000'000;
    for (; store.points().size() < 900; t += frameInterval)
        store.record(0.3, 0.45, 0.85, t, true);
    recordFrames(state, store, t);
    state.counters["points"] = double(store.points().size());
}
BENCHMARK(liveScoreStoreRecord);

} // namespace
