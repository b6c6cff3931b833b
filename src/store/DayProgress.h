#pragma once

#include "analysis/PostureBand.h"

#include <QString>

#include <array>

namespace verticora {

// Seconds spent in each band during one hour of the calendar.
struct HourProgress {
    double greenSeconds = 0;
    double yellowSeconds = 0;
    double redSeconds = 0;

    void add(PostureBand band, double seconds);

    friend bool operator==(const HourProgress&, const HourProgress&) = default;
};

inline constexpr int hoursPerDay = 24;

// Seconds spent in each band during one calendar day, in total and per hour (index =
// hour of the day in New York time).
struct DayProgress {
    QString dateID;
    double greenSeconds = 0;
    double yellowSeconds = 0;
    double redSeconds = 0;
    std::array<HourProgress, hoursPerDay> hours{};

    // Whether a day read from a file can be trusted: a real day ID, every hour within
    // 0 to 7200 s (two hours share one bucket when the clocks go back), totals within a
    // 25-hour day that agree with the hours to 0.01 s.
    [[nodiscard]] bool valid() const;

    friend bool operator==(const DayProgress&, const DayProgress&) = default;
};

} // namespace verticora
