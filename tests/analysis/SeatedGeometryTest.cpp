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
    EXPECT_NEAR(f->headX, 0.0, 1e-12);
    EXPECT_NEAR(f->headY, 0.3515625, 1e-12); // the nose 0.1 below the eyes, in eye distances
    EXPECT_NEAR(f->slope, 0.0, 1e-12);
    EXPECT_NEAR(f->scale, 0.4 * wideAspect, 1e-12);
    EXPECT_NEAR(f->centerX, 0.5 * wideAspect, 1e-12);
    EXPECT_NEAR(f->centerY, 0.4725, 1e-12);
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
    EXPECT_NEAR(g->centerY, 0.41333333333333333, 1e-12);
    EXPECT_FALSE(g->heightLandmarks);
}

struct Boundary {
    const char* name;
    void (*change)(Face&);
    bool measured;

    friend void PrintTo(const Boundary& value, std::ostream* out)
    {
        *out << value.name;
    }
};

class SeatedGeometryBoundary : public ::testing::TestWithParam<Boundary> {};

TEST_P(SeatedGeometryBoundary, measuresOnlyAcceptableFaces)
{
    Face face;
    GetParam().change(face);
    EXPECT_EQ(face.features().has_value(), GetParam().measured);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Boundaries, SeatedGeometryBoundary, ::testing::Values(
        Boundary{"confidence0p69", [](Face& f) { f.confidence = 0.69; }, false},
        Boundary{"confidence0p71", [](Face& f) { f.confidence = 0.71; }, true},
        Boundary{"confidenceSingle0p7", [](Face& f) { f.confidence = static_cast<double>(0.7f); }, false},
        Boundary{"boxWidth0p05", [](Face& f) { f.box.width = 0.05; f.aspect = 2.0; }, false},
        Boundary{"boxWidth0p0501", [](Face& f) { f.box.width = 0.0501; f.aspect = 2.0; }, true},
        Boundary{"boxHeight0p08", [](Face& f) { f.box.height = 0.08; }, false},
        Boundary{"boxHeightNan", [](Face& f) { f.box.height = std::nan(""); }, false},
        // 0.125 x 0.2 is exactly the double 0.025.
        Boundary{"eyeDistance0p025", [](Face& f) { f.leftEye.x = 0.375; f.rightEye.x = 0.5; f.aspect = 0.2; f.box.width = 0.5; }, false},
        Boundary{"eyeDistance0p0251", [](Face& f) { f.leftEye.x = 0.375; f.rightEye.x = 0.5; f.aspect = 0.2008; f.box.width = 0.5; }, true},
        Boundary{"aspect0", [](Face& f) { f.aspect = 0; }, false},
        Boundary{"aspectInf", [](Face& f) { f.aspect = INFINITY; }, false},
        Boundary{"pointAtX0", [](Face& f) { f.leftEye.x = 0.0; }, true},
        Boundary{"pointAtX1", [](Face& f) { f.rightEye.x = 1.0; }, true},
        Boundary{"pointBeyond1", [](Face& f) { f.rightEye.x = 1.0000001; }, false},
        Boundary{"pointBelow0", [](Face& f) { f.chin = Point{0.5, -1e-9}; }, false},
        Boundary{"nanNose", [](Face& f) { f.nose.y = std::nan(""); }, false},
        Boundary{"nose0p002BelowEyesWithChin", [](Face& f) { f.nose.y = 0.618; }, false},
        Boundary{"nose0p002BelowEyesWithoutChin", [](Face& f) { f.nose.y = 0.618; f.chin.reset(); }, true},
        Boundary{"scale0p08", [](Face& f) { f.box.width = 0.08; f.aspect = 1.0; f.leftEye.x = 0.3; f.rightEye.x = 0.7; }, false}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

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
