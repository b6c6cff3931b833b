#include "analysis/LandmarkPatchTracker.h"

#include "TestFrames.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <vector>

using namespace verticora;
using verticora::test::Rgb;
using verticora::test::RgbImage;

namespace {

constexpr int side = 512;
constexpr double last = side - 1;

Point normalised(double x, double y)
{
    return {x / last, 1 - y / last};
}

// The portrait's face in pixels (row 0 at the top): eyes, nose tip and chin.
const std::vector<Point> seedPixels = {{202.3, 101.6}, {246.4, 102.2}, {224.2, 126.3}, {226.0, 172.0}};

std::vector<Point> seedPoints()
{
    std::vector<Point> points;
    for (const Point& p : seedPixels)
        points.push_back(normalised(p.x, p.y));
    return points;
}

const Rect faceBox{180 / last, 1 - 178 / last, 92 / last, 118 / last};

// Where the person is: the face and everything below it. Only this part of a scene
// moves when the head moves; the room around stays still.
bool person(int x, int y)
{
    return x >= 165 && x <= 287 && y >= 45;
}

double grey(Rgb c)
{
    return 0.114 * c.b + 0.587 * c.g + 0.299 * c.r;
}

// Pixel distance between a tracked point and where it should be.
double pixelError(Point tracked, Point expectedPixel)
{
    return std::hypot(tracked.x * last - expectedPixel.x, (1 - tracked.y) * last - expectedPixel.y);
}

class LandmarkPatchTrackerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_portrait = test::loadPortrait(s_error); }

    void SetUp() override
    {
        if (!s_portrait)
            FAIL() << s_error;
    }

    static const RgbImage& portrait() { return *s_portrait; }

    // The portrait with the person moved by (dx, dy) pixels and `patch` applied on top.
    static PixelBuffer scene(double dx, double dy,
                             const std::function<std::optional<Rgb>(int x, int y)>& patch = nullptr)
    {
        return test::bgraFrame(side, side, [&](int x, int y) {
            if (patch) {
                if (auto c = patch(x, y))
                    return *c;
            }
            return person(x, y) ? portrait().sample(x - dx, y - dy) : portrait().at(x, y);
        });
    }

    static LandmarkPatchTracker seeded(double t = 1.0, int radius = 7)
    {
        LandmarkPatchTracker tracker(radius);
        EXPECT_TRUE(tracker.remember(scene(0, 0).view(), faceBox, seedPoints(), t));
        return tracker;
    }

    static void expectRefusal(LandmarkPatchTracker& tracker, const PixelBufferView& frame, double t,
                              std::string_view failure)
    {
        EXPECT_FALSE(tracker.track(frame, t));
        EXPECT_EQ(tracker.lastFailure(), failure);
        // Every refusal unseeds the tracker.
        EXPECT_FALSE(tracker.track(frame, t + 0.01));
        EXPECT_EQ(tracker.lastFailure(), "no template");
    }

private:
    static inline std::optional<RgbImage> s_portrait;
    static inline std::string s_error;
};

} // namespace

TEST_F(LandmarkPatchTrackerTest, followsSubPixelHeadMotionWithinAQuarterPixel)
{
    LandmarkPatchTracker tracker = seeded(1.0);
    ASSERT_FALSE(tracker.lastFailure());
    const Point shifts[] = {{0.25, -0.4}, {1.1, 0.6}, {2.7, 1.35}, {1.6, 3.2}, {-0.8, 2.5}, {-3.5, 0.75}};
    double t = 1.0;
    for (const Point& shift : shifts) {
        SCOPED_TRACE("moved by " + std::to_string(shift.x) + ", " + std::to_string(shift.y));
        t += 0.12;
        const auto track = tracker.track(scene(shift.x, shift.y).view(), t);
        ASSERT_TRUE(track) << *tracker.lastFailure();
        ASSERT_EQ(track->points.size(), 4u);
        for (std::size_t i = 0; i < 4; ++i) // the chin follows the other three
            EXPECT_LE(pixelError(track->points[i], {seedPixels[i].x + shift.x, seedPixels[i].y + shift.y}), 0.25) << i;
        EXPECT_GE(track->confidence, 0.9);
        EXPECT_NEAR(track->box.minX * last, 180 + shift.x, 0.25);
        EXPECT_NEAR((1 - track->box.maxY()) * last, 60 + shift.y, 0.25);
        EXPECT_EQ(track->box.width, faceBox.width);
        EXPECT_EQ(tracker.lastAt(), t);
    }
    EXPECT_EQ(tracker.rememberedAt(), 1.0);
}

TEST_F(LandmarkPatchTrackerTest, followsTheLumaOfNV12Frames)
{
    const auto nv12 = [&](double dx, double dy) {
        return test::nv12Frame(side, side, pixelFormat::yuv420Video, [&](int x, int y) {
            return grey(person(x, y) ? portrait().sample(x - dx, y - dy) : portrait().at(x, y));
        });
    };
    LandmarkPatchTracker tracker;
    ASSERT_TRUE(tracker.remember(nv12(0, 0).view(), faceBox, seedPoints(), 0));
    const auto track = tracker.track(nv12(-1.5, 2).view(), 0.2);
    ASSERT_TRUE(track) << *tracker.lastFailure();
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_LE(pixelError(track->points[i], {seedPixels[i].x - 1.5, seedPixels[i].y + 2}), 0.25) << i;
}

TEST_F(LandmarkPatchTrackerTest, aPointLaggingBehindTheHeadIsNotRigid)
{
    // The head moves right while the nose stays where it was.
    const auto noseLagging = [&](double dx) {
        return scene(dx, 0, [&](int x, int y) -> std::optional<Rgb> {
            if (std::abs(x - 224) <= 10 && std::abs(y - 126) <= 10)
                return portrait().at(x, y);
            return std::nullopt;
        });
    };

    // 3 pixels behind the eyes: 2 pixels from the mean motion.
    LandmarkPatchTracker lagThree = seeded();
    expectRefusal(lagThree, noseLagging(3).view(), 1.1, "nonrigid head");

    // 2 pixels behind: 1.33 pixels from the mean, still one head. The chin moves with the
    // mean motion of the three points.
    LandmarkPatchTracker lagTwo = seeded();
    const auto track = lagTwo.track(noseLagging(2).view(), 1.1);
    ASSERT_TRUE(track) << *lagTwo.lastFailure();
    EXPECT_LE(pixelError(track->points[0], {seedPixels[0].x + 2, seedPixels[0].y}), 0.25);
    EXPECT_LE(pixelError(track->points[2], seedPixels[2]), 0.25);
    EXPECT_LE(pixelError(track->points[3], {seedPixels[3].x + 4.0 / 3.0, seedPixels[3].y}), 0.25);
}

TEST_F(LandmarkPatchTrackerTest, theSceneGuardRefusesPeopleBehindTheUserButNotABrightnessChange)
{
    // Somebody walks through the room on the right.
    LandmarkPatchTracker passerBy = seeded();
    const PixelBuffer crowded = scene(0.5, 0, [&](int x, int y) -> std::optional<Rgb> {
        if (x >= 330 && y >= 40 && y <= 330)
            return portrait().at(x - 150, y);
        return std::nullopt;
    });
    expectRefusal(passerBy, crowded.view(), 1.1, "scene motion");

    // The room gets brighter: the median change is removed and the match is unaffected.
    LandmarkPatchTracker lightsOn = seeded();
    const PixelBuffer brighter = scene(0.5, 0, [&](int x, int y) -> std::optional<Rgb> {
        const Rgb c = person(x, y) ? portrait().sample(x - 0.5, y) : portrait().at(x, y);
        return Rgb{c.r + 30, c.g + 30, c.b + 30};
    });
    const auto track = lightsOn.track(brighter.view(), 1.1);
    ASSERT_TRUE(track) << *lightsOn.lastFailure();
    EXPECT_LE(pixelError(track->points[0], {seedPixels[0].x + 0.5, seedPixels[0].y}), 0.25);
}

TEST_F(LandmarkPatchTrackerTest, theSceneMovesWhenAtLeastEightPercentOfItsGuardPointsChange)
{
    const LandmarkPatchTracker seed = seeded();
    const std::vector<LandmarkPatchTracker::GuardSample> guard = seed.outside();
    ASSERT_GE(guard.size(), 12u);
    const auto changed = static_cast<std::size_t>(std::ceil(0.08 * double(guard.size())));

    // Each changed guard pixel becomes a grey 20 levels away from its luminance.
    const auto withChanged = [&](std::size_t count) {
        return scene(0, 0, [&](int x, int y) -> std::optional<Rgb> {
            for (std::size_t i = 0; i < count; ++i) {
                const int r = guard[i].index / 12;
                const int c = guard[i].index % 12;
                if (x == std::min((2 * c + 1) * side / 24, side - 1) && y == std::min((2 * r + 1) * side / 24, side - 1)) {
                    const double g = std::round(guard[i].luminance);
                    const double v = g > 128 ? g - 20 : g + 20;
                    return Rgb{v, v, v};
                }
            }
            return std::nullopt;
        });
    };

    LandmarkPatchTracker fewer = seed;
    EXPECT_TRUE(fewer.track(withChanged(changed - 1).view(), 1.1)) << *fewer.lastFailure();
    LandmarkPatchTracker enough = seed;
    expectRefusal(enough, withChanged(changed).view(), 1.1, "scene motion");
}

TEST_F(LandmarkPatchTrackerTest, templatesExpireNineTenthsOfASecondAfterSeeding)
{
    const PixelBuffer still = scene(0, 0);

    LandmarkPatchTracker sameTime = seeded(1.0);
    expectRefusal(sameTime, still.view(), 1.0, "expired or invalid sequence");

    LandmarkPatchTracker lastMoment = seeded(1.0);
    EXPECT_TRUE(lastMoment.track(still.view(), 1.5));
    expectRefusal(lastMoment, still.view(), 1.5, "expired or invalid sequence"); // not later than the last track

    LandmarkPatchTracker atLimit = seeded(1.0);
    EXPECT_TRUE(atLimit.track(still.view(), 1.0 + 0.9));

    LandmarkPatchTracker expired = seeded(1.0);
    expectRefusal(expired, still.view(), 1.91, "expired or invalid sequence");

    LandmarkPatchTracker broken = seeded(1.0);
    expectRefusal(broken, still.view(), NAN, "expired or invalid sequence");
}

TEST_F(LandmarkPatchTrackerTest, refusesFramesItCannotRead)
{
    const PixelBuffer wide = test::bgraFrame(513, side, [&](int x, int y) { return portrait().at(x, y); });
    LandmarkPatchTracker tracker;
    EXPECT_FALSE(tracker.remember(wide.view(), faceBox, seedPoints(), 1.0));
    EXPECT_EQ(tracker.lastFailure(), "unreadable seed");
    EXPECT_TRUE(tracker.templates().empty());

    const PixelBuffer packed(side, side, pixelFormat::uyvy);
    EXPECT_FALSE(tracker.remember(packed.view(), faceBox, seedPoints(), 1.0));
    EXPECT_EQ(tracker.lastFailure(), "unreadable seed");

    LandmarkPatchTracker seededTracker = seeded();
    expectRefusal(seededTracker, wide.view(), 1.1, "source changed");

    const PixelBuffer shorter = test::bgraFrame(side, 480, [&](int x, int y) { return portrait().at(x, y); });
    LandmarkPatchTracker resized = seeded();
    expectRefusal(resized, shorter.view(), 1.1, "source changed");
}

TEST_F(LandmarkPatchTrackerTest, refusesUnusableSeeds)
{
    const PixelBuffer frame = scene(0, 0);
    const std::vector<Point> points = seedPoints();
    LandmarkPatchTracker tracker;

    EXPECT_FALSE(tracker.remember(frame.view(), faceBox, std::span(points).first(3), 1.0));
    EXPECT_EQ(tracker.lastFailure(), "invalid seed points");
    std::vector<Point> outside = points;
    outside[3].y = -0.0001;
    EXPECT_FALSE(tracker.remember(frame.view(), faceBox, outside, 1.0));
    EXPECT_EQ(tracker.lastFailure(), "invalid seed points");
    EXPECT_FALSE(tracker.remember(frame.view(), faceBox, points, NAN));
    EXPECT_EQ(tracker.lastFailure(), "invalid seed points");

    EXPECT_FALSE(tracker.remember(frame.view(), Rect{0.5, 0.5, 0.6, 0.2}, points, 1.0));
    EXPECT_EQ(tracker.lastFailure(), "invalid seed box");

    // The eyes must lie in the box grown by 0.02 on every side.
    Rect shifted = faceBox;
    shifted.minX = points[0].x + 0.021;
    shifted.width = 0.3;
    EXPECT_FALSE(tracker.remember(frame.view(), shifted, points, 1.0));
    EXPECT_EQ(tracker.lastFailure(), "seed geometry");

    // A flat grey eye has nothing to match.
    const PixelBuffer flatEye = scene(0, 0, [](int x, int y) -> std::optional<Rgb> {
        if (std::abs(x - 202) <= 12 && std::abs(y - 102) <= 12)
            return Rgb{128, 128, 128};
        return std::nullopt;
    });
    EXPECT_FALSE(tracker.remember(flatEye.view(), faceBox, points, 1.0));
    EXPECT_EQ(tracker.lastFailure(), "seed contrast or bounds");

    // A face filling the frame leaves nothing of the room to watch.
    EXPECT_FALSE(tracker.remember(frame.view(), Rect{0, 0, 1, 1}, points, 1.0));
    EXPECT_EQ(tracker.lastFailure(), "insufficient scene guard");

    EXPECT_FALSE(tracker.track(frame.view(), 1.1));
    EXPECT_EQ(tracker.lastFailure(), "no template");
    EXPECT_TRUE(tracker.remember(frame.view(), faceBox, points, 1.0));
    EXPECT_FALSE(tracker.lastFailure());
    EXPECT_EQ(tracker.dimensions(), std::pair(side, side));
}

TEST_F(LandmarkPatchTrackerTest, refusesMatchesAtTheEdgeOfTheSearchOrOfTheImage)
{
    // Seven pixels is beyond the search window of six.
    LandmarkPatchTracker jump = seeded();
    expectRefusal(jump, scene(7, 0).view(), 1.1, "edge left eye");

    // A box reaching half a pixel from the right edge cannot move a pixel further right.
    LandmarkPatchTracker wideBox;
    const Rect toTheEdge{faceBox.minX, faceBox.minY, 1 - faceBox.minX - 0.5 / last, faceBox.height};
    ASSERT_TRUE(wideBox.remember(scene(0, 0).view(), toTheEdge, seedPoints(), 1.0)) << *wideBox.lastFailure();
    expectRefusal(wideBox, scene(1, 0).view(), 1.1, "face bounds");
}

TEST_F(LandmarkPatchTrackerTest, aRepeatingPatternIsAnAmbiguousMatch)
{
    // Stripes four pixels apart across, an irregular pattern down: the template fits
    // equally well one stripe pair to either side.
    const PixelBuffer stripes = test::bgraFrame(256, 256, [](int x, int y) {
        const double v = ((x / 2) % 2 ? 170.0 : 70.0) + double((y * 7919) % 41) * 2 - 40;
        return Rgb{v, v, v};
    });
    const std::vector<Point> points = {{100 / 255.0, 1 - 100 / 255.0}, {140 / 255.0, 1 - 100 / 255.0},
                                       {120 / 255.0, 1 - 120 / 255.0}, {120 / 255.0, 1 - 160 / 255.0}};
    const Rect box{80 / 255.0, 1 - 170 / 255.0, 80 / 255.0, 100 / 255.0};
    LandmarkPatchTracker tracker;
    ASSERT_TRUE(tracker.remember(stripes.view(), box, points, 0)) << *tracker.lastFailure();
    expectRefusal(tracker, stripes.view(), 0.1, "ambiguous match");
}

TEST_F(LandmarkPatchTrackerTest, largerTemplatesFollowTheHeadTooAndOtherSizesFallBackToTheSmallest)
{
    EXPECT_EQ(LandmarkPatchTracker(9).radius(), 7);
    EXPECT_EQ(LandmarkPatchTracker(0).radius(), 7);
    for (int radius : {10, 12}) {
        LandmarkPatchTracker tracker = seeded(1.0, radius);
        const auto track = tracker.track(scene(1.3, -0.7).view(), 1.2);
        ASSERT_TRUE(track) << radius << ": " << *tracker.lastFailure();
        EXPECT_LE(pixelError(track->points[1], {seedPixels[1].x + 1.3, seedPixels[1].y - 0.7}), 0.25) << radius;
    }
}
