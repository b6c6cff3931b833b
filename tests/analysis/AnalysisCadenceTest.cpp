#include "analysis/AnalysisCadence.h"

#include <gtest/gtest.h>

#include <limits>

using namespace verticora;

namespace {

std::function<double()> motion(double interval, int* calls = nullptr)
{
    return [interval, calls] {
        if (calls)
            ++*calls;
        return interval;
    };
}

} // namespace

TEST(AnalysisCadence, setupCaptureAnalysesEveryFrameAtTheRequestedSpacingAndBadNumbersSkipIt)
{
    EXPECT_EQ(AnalysisCadence::dueInterval(0.1, 0.1, false, motion(0.53)), 0.1);
    EXPECT_EQ(AnalysisCadence::dueInterval(0.097, 0.1, false, motion(0.53)), 0.1);
    EXPECT_FALSE(AnalysisCadence::dueInterval(0.09, 0.1, false, motion(0.53)));

    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(AnalysisCadence::dueInterval(nan, 0.1, false, motion(0.4))) << "bad numbers skip the frame";
    EXPECT_FALSE(AnalysisCadence::dueInterval(1.0, 0.0, false, motion(0.4)));
    EXPECT_FALSE(AnalysisCadence::dueInterval(1.0, nan, false, motion(0.4)));
}

TEST(AnalysisCadence, monitoringAsksTheMotionGateOnlyWhenTheNormalSpacingHasPassed)
{
    int calls = 0;
    EXPECT_FALSE(AnalysisCadence::dueInterval(0.32, 1.0 / 3, false, motion(0.4, &calls)));
    EXPECT_EQ(calls, 0);
    EXPECT_FALSE(AnalysisCadence::dueInterval(0.5, 1.0 / 3, false, motion(0.6, &calls)));
    EXPECT_EQ(AnalysisCadence::dueInterval(0.5, 1.0 / 3, false, motion(0.4, &calls)), 0.4);
    EXPECT_EQ(calls, 2);
    EXPECT_FALSE(AnalysisCadence::dueInterval(0.5, 1.0 / 3, false, motion(std::numeric_limits<double>::quiet_NaN())));
    EXPECT_FALSE(AnalysisCadence::dueInterval(0.5, 1.0 / 3, false, motion(0)));
}

TEST(AnalysisCadence, atTheTrackingRateEveryDeliveredFrameIsDue)
{
    int calls = 0;
    EXPECT_EQ(AnalysisCadence::dueInterval(0.5, 1.0 / 3, true, motion(0.53, &calls)), 1.0 / 3);
    EXPECT_EQ(AnalysisCadence::dueInterval(0.33, 0.4, true, motion(0.53, &calls)), 1.0 / 3);
    EXPECT_FALSE(AnalysisCadence::dueInterval(0.0, 1.0 / 3, true, motion(0.53, &calls)));
    EXPECT_EQ(calls, 0);
    EXPECT_FALSE(AnalysisCadence::dueInterval(0.09, 0.1, true, motion(0.53))) << "setup spacing wins over the flag";
}

TEST(AnalysisCadence, aFaceWellInsideGreenIsAnalysedLessOften)
{
    EXPECT_EQ(AnalysisCadence::monitoringSpacing(true, 0.2, 0.45), 0.4);
    EXPECT_EQ(AnalysisCadence::monitoringSpacing(true, 0.3, 0.45), 1.0 / 3);
    EXPECT_EQ(AnalysisCadence::monitoringSpacing(true, std::nullopt, 0.45), 1.0 / 3);
    EXPECT_EQ(AnalysisCadence::monitoringSpacing(false, 0.2, 0.45), 1.0 / 3);
}
