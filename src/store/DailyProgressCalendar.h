#pragma once

#include "store/WallClock.h"

#include <QString>
#include <QTimeZone>

#include <optional>

namespace verticora {

// The one calendar for day identifiers and hour buckets: Gregorian in New York time,
// whatever zone the machine is set to, so a history never shifts when the user travels
// or changes the system zone.
class DailyProgressCalendar {
public:
    DailyProgressCalendar() = delete;

    static constexpr QLatin1StringView timeZoneID{"America/New_York"};

    // Built once on first use. There is no fallback zone for the history: without it the
    // day boundaries would silently differ from the stored days, so the progress store
    // records nothing when the zone is missing. The other calendar operations then work
    // in UTC, so that the rest of the application goes on.
    [[nodiscard]] static const QTimeZone& timeZone();
    [[nodiscard]] static bool available();

    // Whether `moment` is a time the calendar can place (finite and within some millions
    // of years of 1970).
    [[nodiscard]] static bool representable(WallTime moment);

    // "%04d-%02d-%02d" of the calendar date of `moment`, e.g. "2025-03-09".
    [[nodiscard]] static QString dateID(WallTime moment);

    // The start of the day `id` names; none unless `id` is exactly what `dateID` writes
    // for that day (so "2025-3-09" and "2025-02-30" are refused).
    [[nodiscard]] static std::optional<WallTime> dateFromID(const QString& id);

    // One hour of the calendar: [start, end), on the day `dateID`, hour 0 to 23. On the
    // day the clocks go back two different hours both have hour 1.
    struct Hour {
        WallTime start = 0;
        WallTime end = 0;
        QString dateID;
        int hour = 0;
    };
    // The hour that contains `moment`, which must be `representable`.
    [[nodiscard]] static Hour hourContaining(WallTime moment);
};

} // namespace verticora
