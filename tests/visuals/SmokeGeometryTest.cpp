#include "visuals/SmokeGeometry.h"

#include <gtest/gtest.h>

#include <limits>

using namespace verticora;

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();

} // namespace

TEST(SmokeGeometry, depthGrowsWithSeverityAndScaleAndTreatsBadInputAsTheEdgeCase)
{
    double previous = 0;
    for (double severity : {0.0, 0.5, 1.0, 1.5, 2.0, 2.5, 3.0}) {
        EXPECT_GT(SmokeGeometry::depth(severity, 1), previous) << severity;
        previous = SmokeGeometry::depth(severity, 1);
    }
    EXPECT_DOUBLE_EQ(SmokeGeometry::depth(7, 1), SmokeGeometry::depth(3, 1));
    EXPECT_GT(SmokeGeometry::depth(1, 8), SmokeGeometry::depth(1, 1));

    for (double bad : {-1.0, notANumber, infinity})
        EXPECT_DOUBLE_EQ(SmokeGeometry::depth(bad, 1), SmokeGeometry::depth(0, 1)) << bad;
    EXPECT_DOUBLE_EQ(SmokeGeometry::depth(1, 0.3), SmokeGeometry::depth(1, 1));
    EXPECT_DOUBLE_EQ(SmokeGeometry::depth(1, notANumber), SmokeGeometry::depth(1, 1));
}

TEST(SmokeGeometry, colorBlendsBetweenItsStopsAndHoldsBeyondThem)
{
    const QColor green = SmokeGeometry::color(0);
    const QColor amber = SmokeGeometry::color(1);
    const QColor red = SmokeGeometry::color(2);
    EXPECT_NE(green, amber);
    EXPECT_NE(amber, red);
    const QColor between = SmokeGeometry::color(1.5);
    EXPECT_NEAR(between.redF(), (amber.redF() + red.redF()) / 2, 1e-4);
    EXPECT_NEAR(between.greenF(), (amber.greenF() + red.greenF()) / 2, 1e-4);
    EXPECT_NEAR(between.blueF(), (amber.blueF() + red.blueF()) / 2, 1e-4);
    EXPECT_DOUBLE_EQ(between.alphaF(), 1.0);
    EXPECT_EQ(SmokeGeometry::color(9), red);
    EXPECT_EQ(SmokeGeometry::color(-2), green);
    EXPECT_EQ(SmokeGeometry::color(notANumber), green);
}

TEST(SmokeGeometry, inkWeightsCrossFadeBetweenNeighbouringSeverities)
{
    using Weights = std::array<double, 3>;
    EXPECT_EQ(smokeInkWeights(0), (Weights{1, 0, 0}));
    EXPECT_EQ(smokeInkWeights(1.5), (Weights{0.5, 0.5, 0}));
    EXPECT_EQ(smokeInkWeights(2), (Weights{0, 1, 0}));
    EXPECT_EQ(smokeInkWeights(2.5), (Weights{0, 0.5, 0.5}));
    EXPECT_EQ(smokeInkWeights(4), (Weights{0, 0, 1}));
}
