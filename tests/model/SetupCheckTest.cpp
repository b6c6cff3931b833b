#include "model/SetupCheck.h"

#include <gtest/gtest.h>

#include <limits>

using namespace verticora;

namespace {
constexpr double yellow = 0.45;
constexpr double red = 0.85;
} // namespace

TEST(SetupCheck, holdingRedThenComingBackAboveYellowCompletesTheCheck)
{
    SetupCheck check;
    check.update(0.9, yellow, red, 0.0);
    check.update(0.9, yellow, red, 0.2);
    EXPECT_EQ(check.phase, SetupCheck::Phase::lower);
    EXPECT_EQ(check.lowerSince, 0.0);
    check.update(0.9, yellow, red, 0.4);
    EXPECT_EQ(check.phase, SetupCheck::Phase::returning);
    EXPECT_FALSE(check.lowerSince);
    check.update(0.5, yellow, red, 0.6);
    EXPECT_EQ(check.phase, SetupCheck::Phase::returning);
    check.update(0.44, yellow, red, 0.8);
    EXPECT_EQ(check.phase, SetupCheck::Phase::done);
}

TEST(SetupCheck, aDropBelowRedOrAGapRestartsTheHoldAndABadSampleForgetsIt)
{
    SetupCheck check;
    check.update(0.9, yellow, red, 0.0);
    check.update(0.9, yellow, red, 0.3);
    check.update(0.6, yellow, red, 0.4);
    check.update(0.9, yellow, red, 0.5);
    check.update(0.9, yellow, red, 0.8);
    EXPECT_EQ(check.phase, SetupCheck::Phase::lower) << "only 0.3 s since the second hold began";
    check.update(0.9, yellow, red, 0.9);
    EXPECT_EQ(check.phase, SetupCheck::Phase::returning);

    SetupCheck gapped;
    gapped.update(0.9, yellow, red, 0.0);
    gapped.update(0.9, yellow, red, 0.7);
    EXPECT_EQ(gapped.phase, SetupCheck::Phase::lower);
    EXPECT_EQ(gapped.lowerSince, 0.7);

    gapped.update(std::numeric_limits<double>::quiet_NaN(), yellow, red, 0.8);
    EXPECT_FALSE(gapped.lowerSince) << "a bad sample forgets the timing";
    EXPECT_FALSE(gapped.lastTime);
}
