#include "store/DayProgress.h"

#include "store/DailyProgressCalendar.h"

#include <cmath>

namespace verticora {

namespace {

constexpr double maximumHourSeconds = 7200;
constexpr double maximumDaySeconds = 90000;
constexpr double totalTolerance = 0.01;

bool validSeconds(double seconds, double maximum)
{
    return std::isfinite(seconds) && seconds >= 0 && seconds <= maximum;
}

bool validHour(const HourProgress& hour)
{
    return validSeconds(hour.greenSeconds, maximumHourSeconds) && validSeconds(hour.yellowSeconds, maximumHourSeconds)
        && validSeconds(hour.redSeconds, maximumHourSeconds);
}

} // namespace

void HourProgress::add(PostureBand band, double seconds)
{
    switch (band) {
    case PostureBand::green:
        greenSeconds += seconds;
        break;
    case PostureBand::yellow:
        yellowSeconds += seconds;
        break;
    case PostureBand::red:
        redSeconds += seconds;
        break;
    }
}

bool DayProgress::valid() const
{
    if (dateID.size() != 10 || !DailyProgressCalendar::dateFromID(dateID))
        return false;
    HourProgress sum;
    for (const HourProgress& hour : hours) {
        if (!validHour(hour))
            return false;
        sum.greenSeconds += hour.greenSeconds;
        sum.yellowSeconds += hour.yellowSeconds;
        sum.redSeconds += hour.redSeconds;
    }
    const bool totalsInRange = std::isfinite(greenSeconds) && std::isfinite(yellowSeconds)
        && std::isfinite(redSeconds) && greenSeconds >= 0 && yellowSeconds >= 0 && redSeconds >= 0
        && greenSeconds + yellowSeconds + redSeconds <= maximumDaySeconds;
    return totalsInRange && std::abs(greenSeconds - sum.greenSeconds) < totalTolerance
        && std::abs(yellowSeconds - sum.yellowSeconds) < totalTolerance
        && std::abs(redSeconds - sum.redSeconds) < totalTolerance;
}

} // namespace verticora
