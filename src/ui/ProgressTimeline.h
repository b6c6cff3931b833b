#pragma once

#include "store/DayProgress.h"
#include "store/WallClock.h"

#include <QDate>
#include <QList>
#include <QString>

#include <array>
#include <optional>

namespace verticora {

// Calendar and text helpers of the progress page. Days are dates of the daily progress
// calendar (New York), whatever zone the machine is in.
namespace ProgressTimeline {

// The calendar date of a moment.
[[nodiscard]] QDate date(WallTime moment);
// The day ID of a date, as the daily progress store names days ("2025-03-09").
[[nodiscard]] QString dateID(const QDate& date);
// The date a day ID names; none for anything the store would not write.
[[nodiscard]] std::optional<QDate> dateFromID(const QString& id);

// The seven days, Monday first, of the week `offset` weeks away from the one containing
// `date`; empty when that week cannot be expressed.
[[nodiscard]] QList<QDate> week(const QDate& date, int offset);

// `date` written with a Qt date pattern in the C locale ("dddd, MMM d").
[[nodiscard]] QString title(const QDate& date, const QString& pattern);

// Whole seconds, minutes, or hours and minutes: "59s", "1m", "1h", "1h 1m".
[[nodiscard]] QString duration(double seconds);

} // namespace ProgressTimeline

namespace DailyBalanceSummary {

// Finer than ProgressTimeline::duration below an hour: "<1s", "1m 1s", "2m".
[[nodiscard]] QString duration(double seconds);

} // namespace DailyBalanceSummary

// One band's share of a day's tracked time, as drawn in the balance bar.
struct DailyBalanceSegment {
    int id = 0; // 0 green, 1 yellow, 2 red
    QString title;
    double seconds = 0;
    std::optional<double> fraction; // none when the day has no tracked time
    double start = 0;
    double end = 0;
};

[[nodiscard]] double trackedSeconds(const DayProgress& day);
[[nodiscard]] std::array<DailyBalanceSegment, 3> balanceSegments(const DayProgress& day);

// Green earns full credit, yellow half, red none; none without tracked time.
[[nodiscard]] std::optional<int> dailyScore(const DayProgress& day);

} // namespace verticora
