#include "store/LiveScoreStore.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <limits>

using namespace verticora;

namespace {

constexpr double yellow = 0.45;
constexpr double red = 0.85;
constexpr WallTime start = 1'750'000'000;

// A tracked reading whose deviation maps to about `score` (for scores above 85).
void tracked(LiveScoreStore& store, WallTime at, double deviation = 0.0)
{
    store.record(deviation, yellow, red, at, true);
}

void interrupted(LiveScoreStore& store, WallTime at)
{
    store.record(std::nullopt, 0.6, 1.0, at, false);
}

} // namespace

TEST(LiveScoreStore, valueMapsDeviationToTheScoreAndRefusesBadInput)
{
    struct Case {
        double deviation;
        double score;
    };
    const Case cases[] = {{0, 100}, {-0.3, 100}, {0.225, 92.5}, {0.45, 85}, {0.65, 67.5},
                          {0.85, 50}, {1.275, 25}, {1.7, 0}, {5.0, 0}};
    for (const Case& c : cases) {
        const auto score = LiveScoreStore::value(c.deviation, 0.45, 0.85);
        ASSERT_TRUE(score) << c.deviation;
        EXPECT_NEAR(*score, c.score, 1e-9) << c.deviation;
    }
    // A small red boundary still takes at least 0.4 to fall from 50 to 0.
    EXPECT_NEAR(*LiveScoreStore::value(0.5, 0.15, 0.3), 25, 1e-9);

    EXPECT_FALSE(LiveScoreStore::value(std::nullopt, 0.45, 0.85));
    EXPECT_FALSE(LiveScoreStore::value(std::numeric_limits<double>::infinity(), 0.45, 0.85));
    EXPECT_FALSE(LiveScoreStore::value(0.2, 0.5, 0.6));
    EXPECT_FALSE(LiveScoreStore::value(0.2, 0.1, 0.9)); // yellow below 0.15
}

TEST(LiveScoreStore, steadyReadingsAreThinnedButCurrentFollowsEveryOne)
{
    LiveScoreStore store;
    QSignalSpy currentChanges(&store, &LiveScoreStore::currentChanged);
    for (int k = 0; k <= 30; ++k)
        tracked(store, start + 0.1 * k, 0.01 * k);
    EXPECT_EQ(currentChanges.count(), 31);
    EXPECT_DOUBLE_EQ(*store.current(), 90.0);

    // One point every 0.3 s (the fourth reading is the first 0.28 s on); originals a second apart.
    ASSERT_EQ(store.points().size(), 11);
    std::vector<int> originals;
    for (qsizetype i = 0; i < store.points().size(); ++i) {
        EXPECT_NEAR(store.points()[i].date, start + 0.3 * double(i), 1e-6);
        if (store.points()[i].originalSample)
            originals.push_back(int(i));
    }
    EXPECT_EQ(originals, (std::vector<int>{0, 4, 8})); // at 0, 1.2 and 2.4 s
}

// An interruption is a gap at once; a reading after a long pause gets a gap just before it.
TEST(LiveScoreStore, gapsAreMarkedAtAnInterruptionAndBeforeAReadingAfterALongPause)
{
    LiveScoreStore store;
    EXPECT_FALSE(store.current());
    tracked(store, start, 0.45);
    ASSERT_EQ(store.points().size(), 1);
    EXPECT_EQ(store.points()[0], (LiveScorePoint{start, 85.0, true})) << "the first reading has no gap marker";
    EXPECT_EQ(store.current(), 85.0);
    interrupted(store, start + 0.05);
    ASSERT_EQ(store.points().size(), 2);
    EXPECT_EQ(store.points()[1], (LiveScorePoint{start + 0.05, std::nullopt, true}));
    EXPECT_FALSE(store.current());

    // Tracking that resumes 0.1 s later is not thinned either.
    tracked(store, start + 0.15);
    EXPECT_EQ(store.points().size(), 3);
    EXPECT_TRUE(store.points()[2].originalSample);

    tracked(store, start + 2.15);
    ASSERT_EQ(store.points().size(), 5);
    EXPECT_EQ(store.points()[3], (LiveScorePoint{start + 2.14, std::nullopt, true}));
    EXPECT_EQ(store.points()[4], (LiveScorePoint{start + 2.15, 100.0, true}));
}

TEST(LiveScoreStore, earlierOrNonFiniteReadingsChangeNothing)
{
    LiveScoreStore store;
    tracked(store, start);
    tracked(store, start + 0.1, 0.45); // thinned, but current is 85
    interrupted(store, start - 1);
    store.record(0.0, yellow, red, std::numeric_limits<double>::quiet_NaN(), false);
    store.record(0.0, yellow, red, std::numeric_limits<double>::infinity(), false);
    EXPECT_EQ(store.current(), 85.0);
    EXPECT_EQ(store.points().size(), 1);
    EXPECT_EQ(store.lastRecorded(), start);
}

TEST(LiveScoreStore, keepsFiveMinutesAndAtMost2400Points)
{
    LiveScoreStore store;
    for (int k = 0; k <= 1200; ++k)
        tracked(store, start + 0.3 * k); // 360 s of points
    const WallTime newest = store.points().constLast().date;
    EXPECT_GE(store.points().constFirst().date, newest - LiveScoreStore::window);
    EXPECT_LT(store.points().constFirst().date - 0.3, newest - LiveScoreStore::window);

    // Flickering tracking is never thinned; the cap holds the newest 2400.
    LiveScoreStore flickering;
    for (int k = 0; k < 3000; ++k) {
        const WallTime at = start + 0.01 * k;
        if (k % 2 == 0)
            tracked(flickering, at);
        else
            interrupted(flickering, at);
    }
    ASSERT_EQ(flickering.points().size(), LiveScoreStore::pointCap);
    EXPECT_DOUBLE_EQ(flickering.points().constLast().date, start + 0.01 * 2999);
    EXPECT_DOUBLE_EQ(flickering.points().constFirst().date, start + 0.01 * 600);
}

TEST(LiveScoreStore, currentEndpointIsTheFreshValuedLastPoint)
{
    LiveScoreStore store;
    EXPECT_FALSE(store.currentEndpoint(start));
    tracked(store, start);
    EXPECT_EQ(store.currentEndpoint(start + 1.5), store.points().constLast());
    EXPECT_FALSE(store.currentEndpoint(start + 1.51));
    EXPECT_FALSE(store.currentEndpoint(start - 0.1));
    interrupted(store, start + 0.5);
    EXPECT_FALSE(store.currentEndpoint(start + 0.5));
}

TEST(LiveScoreStore, historyDescriptionReportsTheRoundedRangeAndGaps)
{
    LiveScoreStore store;
    EXPECT_EQ(store.historyDescription(start, QStringLiteral("Paused")),
              QStringLiteral("Paused. No readings in the last five minutes."));
    // 62.4 and 91.6 with a gap between them, then 91.6 again as the current value.
    const double d624 = yellow + (85 - 62.4) * (red - yellow) / 35;
    const double d916 = (100 - 91.6) * yellow / 15;
    tracked(store, start, d624);
    interrupted(store, start + 1);
    tracked(store, start + 2, d916);
    EXPECT_EQ(store.historyDescription(start + 2.5, QStringLiteral("Camera off")),
              QStringLiteral("Current 92 out of 100. Available readings in the last five minutes ranged from 62 to 92."
                             " Gaps are time without valid tracking; dotted links connect their measured endpoints."));
    // Once the gap has left the five minutes and the endpoint is stale, only the range remains.
    EXPECT_EQ(store.historyDescription(start + 301.5, QStringLiteral("Camera off")),
              QStringLiteral("Camera off. Available readings in the last five minutes ranged from 92 to 92."));

    LiveScoreStore halves;
    halves.record(0.25, 0.5, 1.0, start, true); // exactly 92.5: rounds away from zero
    EXPECT_EQ(halves.historyDescription(start, QStringLiteral("Camera off")),
              QStringLiteral("Current 93 out of 100. Available readings in the last five minutes ranged from 93 to 93."));
}
