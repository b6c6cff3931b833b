#include "../store/StoreTestSupport.h"

#include "ui/DailyBalanceChart.h"
#include "ui/ProgressTimeline.h"
#include "ui/ProgressViewPanel.h"

#include "store/ProgressStore.h"

#include <QAccessible>
#include <QAccessibleInterface>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>

using namespace verticora;
using namespace verticora::test;

namespace {

DayProgress day(const QString& id, double green, double yellow, double red)
{
    DayProgress progress{id, green, yellow, red, {}};
    progress.hours[10] = HourProgress{green, yellow, red};
    return progress;
}

// A progress page over a history file written beforehand, at a time the test sets.
class ProgressPageTest : public ::testing::Test {
protected:
    void open(const QList<DayProgress>& days, WallTime now)
    {
        openFile(progressFile(days), now);
    }

    void openFile(const QByteArray& history, WallTime now)
    {
        clock = now;
        const QString path = folder.file(QStringLiteral("daily-progress.json"));
        writeBytes(path, history);
        store = std::make_unique<ProgressStore>(path, [this] { return clock; }, 1.5, 30, 0);
        panel = std::make_unique<ProgressViewPanel>(*store);
        panel->resize(900, 640);
        panel->show();
    }

    TempFolder folder;
    WallTime clock = 0;
    std::unique_ptr<ProgressStore> store;
    std::unique_ptr<ProgressViewPanel> panel;
};

} // namespace

namespace {

struct Duration {
    const char* name;
    double seconds;
    const char* timeline;
    const char* summary;

    friend void PrintTo(const Duration& value, std::ostream* out)
    {
        *out << value.name;
    }
};

class ProgressDuration : public ::testing::TestWithParam<Duration> {};

} // namespace

// The timeline has room for the larger unit only; the summary shows two.
TEST_P(ProgressDuration, dropsWhatItsPlaceCannotShow)
{
    EXPECT_EQ(ProgressTimeline::duration(GetParam().seconds), QLatin1String(GetParam().timeline));
    EXPECT_EQ(DailyBalanceSummary::duration(GetParam().seconds), QLatin1String(GetParam().summary));
}

INSTANTIATE_TEST_SUITE_P(Durations, ProgressDuration,
                         ::testing::Values(Duration{"underASecond", 0.4, "0s", "<1s"}, Duration{"zero", 0.0, "0s", "0s"},
                                           Duration{"negative", -3.0, "0s", "0s"},
                                           Duration{"justUnderAMinute", 59.9, "59s", "59s"},
                                           Duration{"aMinuteAndASecond", 61.0, "1m", "1m 1s"},
                                           Duration{"twoMinutes", 120.0, "2m", "2m"},
                                           Duration{"justUnderAnHourAndAMinute", 3659.0, "1h", "1h"},
                                           Duration{"anHourAndAMinute", 3660.0, "1h 1m", "1h 1m"},
                                           Duration{"anHourAndTwoMinutes", 3725.0, "1h 2m", "1h 2m"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ProgressTimeline, weeksRunMondayToSundayAcrossTheClockChange)
{
    // 9 March 2025 is a Sunday, the day New York moves its clocks forward.
    const QList<QDate> ofSunday = ProgressTimeline::week(QDate(2025, 3, 9), 0);
    ASSERT_EQ(ofSunday.size(), 7);
    EXPECT_EQ(ofSunday.first(), QDate(2025, 3, 3));
    EXPECT_EQ(ofSunday.last(), QDate(2025, 3, 9));
    EXPECT_EQ(ProgressTimeline::week(QDate(2025, 3, 10), 0).first(), QDate(2025, 3, 10));
    EXPECT_EQ(ProgressTimeline::week(QDate(2025, 3, 10), -1), ofSunday);
    // Late on a Sunday evening in New York is already Monday in UTC.
    EXPECT_EQ(ProgressTimeline::date(newYork(2025, 3, 9, 23, 30, 0)), QDate(2025, 3, 9));
    EXPECT_EQ(ProgressTimeline::dateFromID(QStringLiteral("2025-03-09")), QDate(2025, 3, 9));
    EXPECT_FALSE(ProgressTimeline::dateFromID(QStringLiteral("2025-3-9")));
}

TEST(DailyBalance, scoreAndSegmentsOfADay)
{
    EXPECT_EQ(dailyScore(day(QStringLiteral("2025-03-10"), 600, 300, 100)), 75);
    EXPECT_EQ(dailyScore(day(QStringLiteral("2025-03-10"), 0, 0, 40)), 0);
    EXPECT_EQ(dailyScore(day(QStringLiteral("2025-03-10"), 0, 0, 0)), std::nullopt);

    const auto segments = balanceSegments(day(QStringLiteral("2025-03-10"), 600, 300, 100));
    EXPECT_DOUBLE_EQ(segments[1].start, 0.6);
    EXPECT_DOUBLE_EQ(segments[2].start, 0.9);
    EXPECT_LE(segments[2].end, 1.0);
    EXPECT_FALSE(balanceSegments(DayProgress{})[0].fraction.has_value());

    DailyBalanceChart chart;
    chart.setDay(day(QStringLiteral("2025-03-10"), 0.4, 0, 0));
    EXPECT_EQ(chart.totalText(), QStringLiteral("0s"));
    EXPECT_EQ(chart.legendTexts(0), (QStringList{QStringLiteral("<1s"), QStringLiteral("100%")}));
    EXPECT_EQ(chart.legendTexts(1), (QStringList{QStringLiteral("0s"), QStringLiteral("0%")}));
    chart.setDay(DayProgress{QStringLiteral("2025-03-10")});
    EXPECT_EQ(chart.totalText(), QStringLiteral("—"));
    EXPECT_EQ(chart.legendTexts(2), (QStringList{QStringLiteral("0s"), QStringLiteral("—")}));
    EXPECT_EQ(chart.accessibleName(), QStringLiteral("No tracked time yet"));
}

TEST_F(ProgressPageTest, weekNavigationSelectsTheLatestTrackedDayAndNeverPassesThisWeek)
{
    // Thursday 13 March 2025, with time on Tuesday and today, and on Wednesday a week before.
    open({day(QStringLiteral("2025-03-05"), 100, 0, 0), day(QStringLiteral("2025-03-11"), 600, 300, 100),
          day(QStringLiteral("2025-03-13"), 50, 0, 0)},
         newYork(2025, 3, 13, 15, 0, 0));
    EXPECT_EQ(panel->subtitle(), QStringLiteral("Today"));
    EXPECT_EQ(panel->weekTitle(), QStringLiteral("Mar 10 – Mar 16, 2025"));
    EXPECT_FALSE(panel->nextWeekButton()->isEnabled());
    EXPECT_FALSE(panel->todayButton()->isVisible());
    EXPECT_EQ(QAccessible::queryAccessibleInterface(panel->dayCells().at(1))->text(QAccessible::Name),
              QStringLiteral("Tuesday, March 11, score 75"));
    EXPECT_EQ(panel->dayCells().at(1)->toolTip(), QStringLiteral("16m tracked"));
    EXPECT_TRUE(panel->dayCells().at(3)->isEnabled());
    EXPECT_FALSE(panel->dayCells().at(4)->isEnabled()) << "Friday is still to come";

    QTest::mouseClick(panel->dayCells().at(4), Qt::LeftButton);
    EXPECT_FALSE(panel->selectedID());

    QTest::mouseClick(panel->previousWeekButton(), Qt::LeftButton);
    EXPECT_EQ(panel->selectedID(), QStringLiteral("2025-03-05"));
    EXPECT_EQ(panel->subtitle(), QStringLiteral("Wednesday, Mar 5"));
    EXPECT_EQ(panel->weekTitle(), QStringLiteral("Mar 3 – Mar 9, 2025"));
    EXPECT_TRUE(panel->nextWeekButton()->isEnabled());
    EXPECT_TRUE(panel->todayButton()->isVisible());
    EXPECT_TRUE(panel->dayCells().at(6)->isEnabled());

    QTest::mouseClick(panel->previousWeekButton(), Qt::LeftButton);
    EXPECT_EQ(panel->selectedID(), QStringLiteral("2025-02-24")) << "a week without time opens on its Monday";
    EXPECT_EQ(panel->scoreText(), QStringLiteral("—"));

    QTest::mouseClick(panel->nextWeekButton(), Qt::LeftButton);
    QTest::mouseClick(panel->nextWeekButton(), Qt::LeftButton);
    EXPECT_EQ(panel->weekOffset(), 0);
    EXPECT_EQ(panel->selectedID(), QStringLiteral("2025-03-13")) << "back in this week, today has time";
    EXPECT_FALSE(panel->nextWeekButton()->isEnabled());
    QTest::mouseClick(panel->nextWeekButton(), Qt::LeftButton);
    EXPECT_EQ(panel->weekOffset(), 0);

    QTest::mouseClick(panel->dayCells().at(1), Qt::LeftButton);
    EXPECT_EQ(panel->selectedID(), QStringLiteral("2025-03-11"));
    EXPECT_EQ(panel->scoreText(), QStringLiteral("75"));
    QTest::mouseClick(panel->todayButton(), Qt::LeftButton);
    EXPECT_FALSE(panel->selectedID());
    EXPECT_EQ(panel->subtitle(), QStringLiteral("Today"));
    EXPECT_FALSE(panel->todayButton()->isVisible());
}

TEST_F(ProgressPageTest, returningToThisWeekWithoutTimeTodaySelectsTheLatestEarlierDay)
{
    open({day(QStringLiteral("2025-03-11"), 600, 300, 100)}, newYork(2025, 3, 13, 15, 0, 0));
    QTest::mouseClick(panel->previousWeekButton(), Qt::LeftButton);
    QTest::mouseClick(panel->nextWeekButton(), Qt::LeftButton);
    EXPECT_EQ(panel->selectedID(), QStringLiteral("2025-03-11"));
}

TEST_F(ProgressPageTest, theStripFollowsTheClockOverMidnightOnItsMinuteTick)
{
    open({}, newYork(2025, 3, 16, 23, 59, 0));
    EXPECT_EQ(panel->weekTitle(), QStringLiteral("Mar 10 – Mar 16, 2025"));
    auto* timer = panel->findChild<QTimer*>();
    ASSERT_NE(timer, nullptr);
    ASSERT_TRUE(timer->isActive());

    clock = newYork(2025, 3, 17, 0, 0, 0) + 30;
    QTimerEvent tick(timer->timerId());
    QCoreApplication::sendEvent(timer, &tick);
    EXPECT_EQ(panel->weekTitle(), QStringLiteral("Mar 17 – Mar 23, 2025"));
    EXPECT_EQ(panel->subtitle(), QStringLiteral("Today"));

    panel->hide();
    EXPECT_FALSE(timer->isActive()) << "nothing runs while the page is not shown";
}

TEST_F(ProgressPageTest, storeErrorShowsUntilTheNextSuccessfulSave)
{
    openFile("not a history", newYork(2025, 3, 13, 15, 0, 0));
    ASSERT_TRUE(store->errorMessage());
    const auto shownTexts = [&] {
        QStringList texts;
        for (const QLabel* label : panel->findChildren<QLabel*>())
            if (label->isVisible())
                texts << label->text();
        return texts;
    };
    EXPECT_TRUE(shownTexts().contains(*store->errorMessage()));
    EXPECT_EQ(panel->scoreText(), QStringLiteral("—"));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(panel->balanceChart())->text(QAccessible::Name),
              QStringLiteral("No tracked time yet"));

    const QString message = *store->errorMessage();
    store->record(0.1, 0.45, 0.85, clock, true);
    store->record(0.1, 0.45, 0.85, clock + 1, true);
    store->flush();
    EXPECT_FALSE(store->errorMessage());
    EXPECT_FALSE(shownTexts().contains(message));
    EXPECT_EQ(panel->scoreText(), QStringLiteral("100"));
}
