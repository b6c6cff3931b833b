#include "store/LiveScoreStore.h"

#include <gtest/gtest.h>

#include <limits>

using namespace verticora;

TEST(LiveScoreValue, mapsDeviationToTheLiveScore)
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
}

TEST(LiveScoreValue, noneForMissingOrBadInput)
{
    EXPECT_FALSE(LiveScoreStore::value(std::nullopt, 0.45, 0.85));
    EXPECT_FALSE(LiveScoreStore::value(std::numeric_limits<double>::infinity(), 0.45, 0.85));
    EXPECT_FALSE(LiveScoreStore::value(0.2, 0.5, 0.6));
    EXPECT_FALSE(LiveScoreStore::value(0.2, 0.1, 0.9)); // yellow below 0.15
}
