#include "StoreTestSupport.h"

#include "store/DailyProgressCalendar.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

using namespace verticora;
using namespace verticora::test;

namespace {

// Sets the process time zone for one scope, as a user's machine would be set.
class MachineTimeZone {
public:
    explicit MachineTimeZone(const char* zone)
    {
        if (const char* previous = std::getenv("TZ"))
            m_previous = previous;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~MachineTimeZone()
    {
        if (m_previous)
            setenv("TZ", m_previous->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    MachineTimeZone(const MachineTimeZone&) = delete;
    MachineTimeZone& operator=(const MachineTimeZone&) = delete;

private:
    std::optional<std::string> m_previous;
};

void expectNewYorkDays()
{
    // 03:30 UTC on 10 March is 23:30 on the 9th in New York; Tokyo is already at noon of the 10th.
    EXPECT_EQ(DailyProgressCalendar::dateID(utc(2025, 3, 10, 3, 30, 0)), QStringLiteral("2025-03-09"));
    EXPECT_EQ(DailyProgressCalendar::dateID(utc(2025, 3, 10, 4, 0, 0)), QStringLiteral("2025-03-10"));
    EXPECT_EQ(DailyProgressCalendar::hourContaining(utc(2025, 7, 1, 15, 20, 0)).hour, 11);
    EXPECT_EQ(DailyProgressCalendar::dateFromID(QStringLiteral("2025-07-01")), utc(2025, 7, 1, 4, 0, 0));
}

} // namespace

TEST(DailyProgressCalendar, daysAndHoursFollowNewYorkWhateverTheMachineZone)
{
    expectNewYorkDays();
    {
        MachineTimeZone tokyo("Asia/Tokyo");
        expectNewYorkDays();
    }
    {
        MachineTimeZone samoa("Pacific/Apia");
        expectNewYorkDays();
    }
}

TEST(DailyProgressCalendar, dateFromIDOnlyAcceptsWhatDateIDWrites)
{
    EXPECT_EQ(DailyProgressCalendar::dateFromID(QStringLiteral("2024-02-29")), newYork(2024, 2, 29, 0, 0, 0));
    // The start of a day is midnight even on the day the clocks change.
    EXPECT_EQ(DailyProgressCalendar::dateFromID(QStringLiteral("2024-11-03")), utc(2024, 11, 3, 4, 0, 0));
    for (const char* id : {"2025-3-09", "2025-02-30", "2023-02-29", "2025-13-01", "2025-00-10", "25-03-09",
                           "2025-03-09-01", "2025-03", "2025-03-09x", "", "----", "2025--03-09"}) {
        const std::optional<WallTime> date = DailyProgressCalendar::dateFromID(QString::fromLatin1(id));
        // "2025--03-09" drops the empty piece, parses and prints differently, so it fails too.
        EXPECT_FALSE(date) << id;
    }
}

// The autumn hour that happens twice is checked through the progress store.
TEST(DailyProgressCalendar, theSpringHourEndsWhereTheClockSkipsAhead)
{
    // 1:59:59 is followed by 3:00.
    const auto beforeGap = DailyProgressCalendar::hourContaining(utc(2025, 3, 9, 6, 59, 59.5));
    EXPECT_EQ(beforeGap.hour, 1);
    EXPECT_EQ(beforeGap.end, utc(2025, 3, 9, 7, 0, 0));
    EXPECT_EQ(DailyProgressCalendar::hourContaining(beforeGap.end).hour, 3);
}
