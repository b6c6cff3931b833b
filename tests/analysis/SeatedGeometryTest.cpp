#include "analysis/SeatedGeometry.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace verticora;

namespace {

constexpr double wideAspect = 16.0 / 9.0;

struct Face {
    Rect box{0.3, 0.3, 0.4, 0.5};
    Point leftEye{0.42, 0.62};
    Point rightEye{0.58, 0.62};
    Point nose{0.5, 0.52};
    std::optional<Point> chin = Point{0.5, 0.35};
    double confidence = 0.9;
    double aspect = wideAspect;

    [[nodiscard]] std::optional<PoseFeatures> features() const
    {
        return SeatedGeometry::features(box, leftEye, rightEye, nose, chin, confidence, aspect);
    }
};

} // namespace

TEST(SeatedGeometry, measuresAFrontalFaceWithAndWithoutItsChin)
{
    const auto f = Face{}.features();
    ASSERT_TRUE(f);
    const double eyeDistance = 0.16 * wideAspect;
    EXPECT_NEAR(f->headX, 0.0, 1e-12);
    EXPECT_NEAR(f->headY, 0.10 / eyeDistance, 1e-12);
    EXPECT_NEAR(f->slope, 0.0, 1e-12);
    EXPECT_NEAR(f->scale, 0.4 * wideAspect, 1e-12);
    EXPECT_NEAR(f->centerX, 0.5 * wideAspect, 1e-12);
    EXPECT_NEAR(f->centerY, 1 - (0.62 + 0.62 + 0.52 + 0.35) / 4, 1e-12);
    ASSERT_TRUE(f->heightLandmarks);
    EXPECT_NEAR(f->heightLandmarks->eyesY, 0.38, 1e-12);
    EXPECT_NEAR(f->heightLandmarks->noseY, 0.48, 1e-12);
    EXPECT_NEAR(f->heightLandmarks->chinY, 0.65, 1e-12);
    EXPECT_FALSE(f->landmarkHeight);

    // Without a chin the centre comes from three points and there are no height landmarks.
    Face chinless;
    chinless.chin.reset();
    const auto g = chinless.features();
    ASSERT_TRUE(g);
    EXPECT_NEAR(g->centerY, 1 - (0.62 + 0.62 + 0.52) / 3, 1e-12);
    EXPECT_FALSE(g->heightLandmarks);
}

TEST(SeatedGeometry, boundariesOfTheAcceptanceTests)
{
    struct Case {
        const char* name;
        void (*change)(Face&);
        bool measured;
    };
    const Case cases[] = {
        {"confidence 0.69", [](Face& f) { f.confidence = 0.69; }, false},
        {"confidence 0.71", [](Face& f) { f.confidence = 0.71; }, true},
        {"confidence single 0.7", [](Face& f) { f.confidence = static_cast<double>(0.7f); }, false},
        {"box width 0.05", [](Face& f) { f.box.width = 0.05; f.aspect = 2.0; }, false},
        {"box width 0.0501", [](Face& f) { f.box.width = 0.0501; f.aspect = 2.0; }, true},
        {"box height 0.08", [](Face& f) { f.box.height = 0.08; }, false},
        {"box height nan", [](Face& f) { f.box.height = std::nan(""); }, false},
        // 0.125 x 0.2 is exactly the double 0.025.
        {"eye distance 0.025", [](Face& f) { f.leftEye.x = 0.375; f.rightEye.x = 0.5; f.aspect = 0.2; f.box.width = 0.5; }, false},
        {"eye distance 0.0251", [](Face& f) { f.leftEye.x = 0.375; f.rightEye.x = 0.5; f.aspect = 0.2008; f.box.width = 0.5; }, true},
        {"aspect 0", [](Face& f) { f.aspect = 0; }, false},
        {"aspect inf", [](Face& f) { f.aspect = INFINITY; }, false},
        {"point at x 0", [](Face& f) { f.leftEye.x = 0.0; }, true},
        {"point at x 1", [](Face& f) { f.rightEye.x = 1.0; }, true},
        {"point beyond 1", [](Face& f) { f.rightEye.x = 1.0000001; }, false},
        {"point below 0", [](Face& f) { f.chin = Point{0.5, -1e-9}; }, false},
        {"nan nose", [](Face& f) { f.nose.y = std::nan(""); }, false},
        {"nose 0.002 below eyes with chin", [](Face& f) { f.nose.y = 0.618; }, false},
        {"nose 0.002 below eyes without chin", [](Face& f) { f.nose.y = 0.618; f.chin.reset(); }, true},
        {"scale 0.08", [](Face& f) { f.box.width = 0.08; f.aspect = 1.0; f.leftEye.x = 0.3; f.rightEye.x = 0.7; }, false},
    };
    for (const Case& c : cases) {
        Face face;
        c.change(face);
        EXPECT_EQ(face.features().has_value(), c.measured) << c.name;
    }
}

TEST(SeatedGeometry, swappingTheEyesKeepsTheSlope)
{
    Face tilted;
    tilted.leftEye = {0.42, 0.60};
    tilted.rightEye = {0.58, 0.64};
    Face swapped = tilted;
    std::swap(swapped.leftEye, swapped.rightEye);

    const auto a = tilted.features();
    const auto b = swapped.features();
    ASSERT_TRUE(a && b);
    EXPECT_NEAR(a->slope, 0.04 / (0.16 * wideAspect), 1e-12);
    EXPECT_DOUBLE_EQ(a->slope, b->slope);
}
