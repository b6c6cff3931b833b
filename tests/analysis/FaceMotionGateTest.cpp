#include "analysis/FaceMotionGate.h"

#include "TestFrames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

using namespace verticora;
using verticora::test::nv12Frame;
using verticora::test::Rgb;

namespace {

constexpr int side = 288;
constexpr int cell = side / FaceMotionGate::grid; // 12 pixels per sample cell

// Eyes, nose and chin whose face area is the whole frame.
const std::vector<Point> wholeFrame = {{0.3, 0.6}, {0.7, 0.6}, {0.5, 0.4}, {0.5, 0.1}};

// A frame whose sample cells are uniform, so every sample (and every shifted sample)
// equals its cell's value.
PixelBuffer cells(const std::function<double(int column, int row)>& value)
{
    return nv12Frame(side, side, pixelFormat::yuv420Full, [&](int x, int y) { return value(x / cell, y / cell); });
}

double checker(int column, int row, double contrast)
{
    return (column + row) % 2 == 0 ? 128 + contrast : 128 - contrast;
}

// Cells change by +d and -d in horizontal pairs, so there is no overall brightness
// change; `highShare` eighths of the pairs change by `high`, the rest by `low`. The
// residual is then low + (high - low) * highShare / 8.
double pairedChange(int column, int row, int low, int high, int highShare)
{
    const int pair = (row * FaceMotionGate::grid + column) / 2;
    const int magnitude = pair % 8 < highShare ? high : low;
    return column % 2 == 0 ? magnitude : -magnitude;
}

double rows(int y, double offset)
{
    return 128 + 40 * std::sin(2 * std::numbers::pi * (y - offset) / 80.0);
}

// A face area of checker contrast `contrast` whose cells changed by `low` or `high`, and
// the interval it allows.
struct Residual {
    const char* name;
    double contrast;
    int low;
    int high;
    int highShare;
    double expected;

    friend void PrintTo(const Residual& value, std::ostream* out)
    {
        *out << value.name;
    }
};

class FaceMotionGateThreshold : public ::testing::TestWithParam<Residual> {};

} // namespace

TEST_P(FaceMotionGateThreshold, allowsTheLongerIntervalOnlyWhileTheFaceAreaIsUnchangedUpToIt)
{
    const Residual& c = GetParam();
    FaceMotionGate gate;
    const PixelBuffer reference = cells([&](int x, int y) { return checker(x, y, c.contrast); });
    gate.remember(reference.view(), wholeFrame);
    ASSERT_TRUE(gate.reference());
    EXPECT_DOUBLE_EQ(gate.contrast(), c.contrast);

    const PixelBuffer current =
        cells([&](int x, int y) { return checker(x, y, c.contrast) + pairedChange(x, y, c.low, c.high, c.highShare); });
    EXPECT_EQ(gate.interval(current.view()), c.expected);
    EXPECT_DOUBLE_EQ(gate.difference(), c.low + (c.high - c.low) * c.highShare / 8.0);
    EXPECT_EQ(gate.verticalShift(), 0);
}

// Thresholds: 0.22 x contrast limited to [3.5, 10]: 3.5 at contrast 10, 8.8 at 40, 10 at 60.
INSTANTIATE_TEST_SUITE_P(
    Contrasts, FaceMotionGateThreshold,
    ::testing::Values(Residual{"lowContrastAtThreshold", 10, 3, 4, 4, FaceMotionGate::stillInterval},
                      Residual{"lowContrastAboveThreshold", 10, 3, 4, 5, FaceMotionGate::normalInterval},
                      Residual{"midContrastBelowThreshold", 40, 8, 9, 6, FaceMotionGate::stillInterval},
                      Residual{"midContrastAboveThreshold", 40, 8, 9, 7, FaceMotionGate::normalInterval},
                      Residual{"highContrastAtThreshold", 60, 10, 11, 0, FaceMotionGate::stillInterval},
                      Residual{"highContrastAboveThreshold", 60, 10, 11, 1, FaceMotionGate::normalInterval}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FaceMotionGate, recognisesAFaceThatMovedTwoRowsButNotAUniformBrightnessChange)
{
    FaceMotionGate gate;
    const PixelBuffer reference = nv12Frame(side, side, pixelFormat::yuv420Video, [](int, int y) { return rows(y, 0); });
    gate.remember(reference.view(), wholeFrame);

    const PixelBuffer down = nv12Frame(side, side, pixelFormat::yuv420Video, [](int, int y) { return rows(y, 2); });
    EXPECT_EQ(gate.interval(down.view()), FaceMotionGate::normalInterval);
    EXPECT_EQ(gate.verticalShift(), 2);
    // Below the still threshold of 6.09 for this contrast: unshifted it would have looked still.
    EXPECT_LE(gate.difference(), 6.09);

    const PixelBuffer up = nv12Frame(side, side, pixelFormat::yuv420Video, [](int, int y) { return rows(y, -2); });
    EXPECT_EQ(gate.interval(up.view()), FaceMotionGate::normalInterval);
    EXPECT_EQ(gate.verticalShift(), -2);

    EXPECT_EQ(gate.interval(reference.view()), FaceMotionGate::stillInterval);
    EXPECT_EQ(gate.verticalShift(), 0);

    // A uniform brightness change alone allows the longer interval.
    const PixelBuffer brighter =
        nv12Frame(side, side, pixelFormat::yuv420Video, [](int, int y) { return rows(y, 0) + 20; });
    EXPECT_EQ(gate.interval(brighter.view()), FaceMotionGate::stillInterval);
    EXPECT_NEAR(gate.difference(), 0.0, 1e-9);
    EXPECT_EQ(gate.verticalShift(), 0);
}

TEST(FaceMotionGate, takesTheFaceAreaAroundTheEyesAndChin)
{
    FaceMotionGate gate;
    const PixelBuffer frame = cells([](int x, int y) { return checker(x, y, 40); });
    const std::vector<Point> face = {{0.45, 0.6}, {0.55, 0.6}, {0.5, 0.5}, {0.5, 0.4}};
    gate.remember(frame.view(), face);
    // Three eye distances wide; from 0.8 face heights above the eyes to 0.2 below the chin.
    EXPECT_NEAR(gate.region().minX, 0.35, 1e-12);
    EXPECT_NEAR(gate.region().minY, 0.24, 1e-12);
    EXPECT_NEAR(gate.region().width, 0.3, 1e-12);
    EXPECT_NEAR(gate.region().height, 0.4, 1e-12);

    // Eyes 0.01 apart give an area 0.03 wide: too small to judge, the gate is cleared.
    gate.remember(frame.view(), std::vector<Point>{{0.495, 0.6}, {0.505, 0.6}, {0.5, 0.5}, {0.5, 0.4}});
    EXPECT_FALSE(gate.reference());
    EXPECT_EQ(gate.region(), Rect{});
}

TEST(FaceMotionGate, threePointsOrAFlatFaceAreaNeverAllowTheLongerInterval)
{
    FaceMotionGate gate;
    const PixelBuffer frame = cells([](int x, int y) { return checker(x, y, 40); });
    gate.remember(frame.view(), wholeFrame);
    ASSERT_EQ(gate.interval(frame.view()), FaceMotionGate::stillInterval);

    gate.remember(frame.view(), std::span(wholeFrame).first(3));
    EXPECT_FALSE(gate.reference());
    EXPECT_EQ(gate.contrast(), 0);
    EXPECT_TRUE(std::isinf(gate.difference()));
    EXPECT_EQ(gate.interval(frame.view()), FaceMotionGate::normalInterval);

    gate.remember(frame.view(), wholeFrame);
    EXPECT_EQ(gate.interval(frame.view()), FaceMotionGate::stillInterval);

    // A flat face area is never judged still: nothing can be measured on it.
    FaceMotionGate flatGate;
    const PixelBuffer flat = cells([](int x, int y) { return checker(x, y, 7.5); });
    flatGate.remember(flat.view(), wholeFrame);
    EXPECT_EQ(flatGate.interval(flat.view()), FaceMotionGate::normalInterval);
    EXPECT_TRUE(std::isinf(flatGate.difference()));
}

TEST(FaceMotionGate, readsBGRAAsWeightedGreyAndPackedFormatsByTheirLuma)
{
    FaceMotionGate gate;
    // Green 200 is grey 117.4; blue 200 with red 100 is grey 52.7.
    const PixelBuffer colours = test::bgraFrame(side, side, [](int x, int y) {
        return (x / cell + y / cell) % 2 == 0 ? Rgb{0, 200, 0} : Rgb{100, 0, 200};
    });
    gate.remember(colours.view(), wholeFrame);
    EXPECT_NEAR(gate.contrast(), (117.4 - 52.7) / 2, 1e-9);
    EXPECT_EQ(gate.interval(colours.view()), FaceMotionGate::stillInterval);

    // The same checkerboard of luma 40 and 120 as YUYV, UYVY and I420 (decoded camera
    // JPEGs), with chroma that must not be read as grey.
    for (const std::uint32_t format : {pixelFormat::yuyv, pixelFormat::uyvy, pixelFormat::i420Full}) {
        test::TightFrame frame(side, side, format);
        for (std::size_t plane = 0; plane < PixelBufferView::planesOf(format); ++plane)
            std::fill(frame.plane(plane).begin(), frame.plane(plane).end(), std::uint8_t(255));
        const int lumaStep = format == pixelFormat::i420Full ? 1 : 2;
        const int lumaOffset = format == pixelFormat::uyvy ? 1 : 0;
        for (int y = 0; y < side; ++y) {
            for (int x = 0; x < side; ++x)
                frame.pixel(0, x, y, lumaStep)[lumaOffset] = (x / cell + y / cell) % 2 == 0 ? 120 : 40;
        }
        FaceMotionGate lumaGate;
        lumaGate.remember(frame.view(), wholeFrame);
        ASSERT_TRUE(lumaGate.reference()) << fourCharName(format);
        EXPECT_NEAR(lumaGate.contrast(), 40, 1e-9) << fourCharName(format);
        EXPECT_EQ(lumaGate.interval(frame.view()), FaceMotionGate::stillInterval) << fourCharName(format);
    }
}
