#include "visuals/SmokeGeometry.h"

#include <gtest/gtest.h>

#include <limits>

using namespace verticora;

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();

void expectColor(const QColor& color, double r, double g, double b)
{
    EXPECT_NEAR(color.redF(), r, 1e-4);
    EXPECT_NEAR(color.greenF(), g, 1e-4);
    EXPECT_NEAR(color.blueF(), b, 1e-4);
    EXPECT_DOUBLE_EQ(color.alphaF(), 1.0);
}

} // namespace

TEST(SmokeGeometry, depthGrowsWithSeverityAndScale)
{
    EXPECT_DOUBLE_EQ(SmokeGeometry::depth(0, 1), 5);
    EXPECT_DOUBLE_EQ(SmokeGeometry::depth(1, 1), 15);
    EXPECT_DOUBLE_EQ(SmokeGeometry::depth(2, 1), 30);
    EXPECT_DOUBLE_EQ(SmokeGeometry::depth(3, 1), 40);
    EXPECT_DOUBLE_EQ(SmokeGeometry::depth(7, 1), 40);
    EXPECT_DOUBLE_EQ(SmokeGeometry::depth(1.5, 1), 22.5);
    EXPECT_DOUBLE_EQ(SmokeGeometry::depth(2.5, 1), 35);
    EXPECT_DOUBLE_EQ(SmokeGeometry::depth(1, 8), 120);
    EXPECT_DOUBLE_EQ(SmokeGeometry::depth(1, 80), 750);
}

TEST(SmokeGeometry, depthTreatsBadInputAsTheEdgeCase)
{
    EXPECT_DOUBLE_EQ(SmokeGeometry::depth(-1, 1), 5);
    EXPECT_DOUBLE_EQ(SmokeGeometry::depth(notANumber, 1), 5);
    EXPECT_DOUBLE_EQ(SmokeGeometry::depth(infinity, 1), 5);
    EXPECT_DOUBLE_EQ(SmokeGeometry::depth(1, 0.3), 15);
    EXPECT_DOUBLE_EQ(SmokeGeometry::depth(1, notANumber), 15);
}

TEST(SmokeGeometry, colorRunsFromGreenOverAmberToRed)
{
    expectColor(SmokeGeometry::color(0), 0.21, 0.65, 0.43);
    expectColor(SmokeGeometry::color(0.5), (0.21 + 0.96) / 2, (0.65 + 0.70) / 2, (0.43 + 0.17) / 2);
    expectColor(SmokeGeometry::color(1), 0.96, 0.70, 0.17);
    expectColor(SmokeGeometry::color(1.5), (0.96 + 0.90) / 2, (0.70 + 0.22) / 2, (0.17 + 0.20) / 2);
    expectColor(SmokeGeometry::color(2), 0.90, 0.22, 0.20);
    expectColor(SmokeGeometry::color(2.5), 0.90, 0.22, 0.20);
    expectColor(SmokeGeometry::color(9), 0.90, 0.22, 0.20);
    expectColor(SmokeGeometry::color(-2), 0.21, 0.65, 0.43);
    expectColor(SmokeGeometry::color(notANumber), 0.21, 0.65, 0.43);
}

TEST(SmokeGeometry, inkWeightsCrossFadeBetweenNeighbouringSeverities)
{
    using Weights = std::array<double, 3>;
    EXPECT_EQ(smokeInkWeights(0), (Weights{1, 0, 0}));
    EXPECT_EQ(smokeInkWeights(1), (Weights{1, 0, 0}));
    EXPECT_EQ(smokeInkWeights(1.5), (Weights{0.5, 0.5, 0}));
    EXPECT_EQ(smokeInkWeights(2), (Weights{0, 1, 0}));
    EXPECT_EQ(smokeInkWeights(2.5), (Weights{0, 0.5, 0.5}));
    EXPECT_EQ(smokeInkWeights(3), (Weights{0, 0, 1}));
    EXPECT_EQ(smokeInkWeights(4), (Weights{0, 0, 1}));
}
