#include "analysis/LandmarkPatchTracker.h"

#include "TestFrames.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace verticora;
using verticora::test::Rgb;

namespace {

constexpr int side = 256;
constexpr double last = side - 1;

// A soft face in a still, textured room: two dark eyes and between them, lower down, a
// nose ridge that runs down the face with only a faint bump where the nose point sits,
// as in blurry, compressed webcam video. (dx, dy) moves the face.
PixelBuffer softFace(double dx, double dy)
{
    return test::bgraFrame(side, side, [=](int px, int py) {
        const double room = 120 + double((px * 7 + py * 13) % 23) * 3;
        if (px < 70 || px > 186 || py < 40)
            return Rgb{room, room, room};
        const double x = px - dx;
        const double y = py - dy;
        const auto blob = [&](double cx, double cy, double r) {
            return std::exp(-((x - cx) * (x - cx) + (y - cy) * (y - cy)) / (2 * r * r));
        };
        const double ridge = std::exp(-(x - 128) * (x - 128) / (2 * 3.0 * 3.0)) * (y > 100 && y < 150 ? 1.0 : 0.0);
        const double v = 150 - 90 * blob(108, 100, 4) - 90 * blob(148, 100, 4) + 60 * ridge + 6 * blob(128, 124, 3);
        return Rgb{v, v, v};
    });
}

Point at(double x, double y)
{
    return {x / last, 1 - y / last};
}

} // namespace

// The flank of the one best peak is no second match: a nose ridge that scores within a
// hair of its best for pixels along it is followed, not refused as ambiguous.
TEST(PatchPeak, aRidgeAlongTheNoseIsNotASecondMatch)
{
    const std::vector<Point> points = {at(108, 100), at(148, 100), at(128, 124), at(128, 170)};
    const Rect box{88 / last, 1 - 180 / last, 80 / last, 110 / last};
    LandmarkPatchTracker tracker;
    ASSERT_TRUE(tracker.remember(softFace(0, 0).view(), box, points, 0)) << *tracker.lastFailure();
    const auto track = tracker.track(softFace(1, 1).view(), 0.3);
    ASSERT_TRUE(track) << *tracker.lastFailure();
    EXPECT_NEAR(track->points[2].x * last, 129, 0.5);
    EXPECT_NEAR((1 - track->points[2].y) * last, 125, 1.0);
}
