#include "analysis/SeatedPoseDetector.h"

#include <gtest/gtest.h>

using namespace verticora;

namespace {

LandmarkRegion region(std::vector<Point> points)
{
    const int count = static_cast<int>(points.size());
    return {count, std::move(points)};
}

// A face box with eyes at a quarter from each side, nose crest in the middle, chin at
// the bottom of the contour; all region points are relative to the box.
FaceObservation frontalFace()
{
    FaceObservation o;
    o.boundingBox = {0.25, 0.25, 0.5, 0.5};
    o.confidence = 0.95f;
    o.faceContour = region({{0.0, 0.6}, {0.25, 0.125}, {0.5, 0.0}, {0.75, 0.0}, {1.0, 0.6}});
    o.leftEye = region({{0.125, 0.75}, {0.375, 0.75}});
    o.rightEye = region({{0.625, 0.75}, {0.875, 0.75}});
    o.noseCrest = region({{0.5, 0.625}, {0.5, 0.375}});
    o.nose = region({{0.25, 0.125}, {0.75, 0.125}});
    return o;
}

constexpr double aspect = 4.0 / 3.0;

} // namespace

TEST(LandmarkReadout, mapsRegionCentresAndTheLowestContourPointIntoTheImage)
{
    const SeatedDetection d = SeatedPoseDetector::landmarks(frontalFace(), aspect);
    ASSERT_TRUE(d.features);
    EXPECT_EQ(d.guidance, "Tracking measures how far your face drops below your comfortable height.");
    EXPECT_EQ(d.loss, FaceLossReason::unknown);
    // The first of the two lowest contour points wins: (0.5, 0.0) in the box.
    const std::vector<Point> expected{{0.375, 0.625}, {0.625, 0.625}, {0.5, 0.5}, {0.5, 0.25}};
    EXPECT_EQ(d.points, expected);
}

TEST(LandmarkReadout, usesTheNoseWhenThereIsNoNoseCrest)
{
    FaceObservation o = frontalFace();
    o.noseCrest.reset();
    const SeatedDetection d = SeatedPoseDetector::landmarks(o, aspect);
    ASSERT_EQ(d.points.size(), 4u);
    EXPECT_EQ(d.points[2], (Point{0.5, 0.3125}));
}

TEST(LandmarkReadout, missingRegionsAskForAVisibleFace)
{
    const char* hidden = "Keep your eyes, nose and chin visible to the camera. A little more light may help.";
    std::vector<FaceObservation> faces;
    faces.push_back(frontalFace());
    faces.back().faceContour.reset();
    faces.push_back(frontalFace());
    faces.back().faceContour->normalizedPoints.clear();
    faces.push_back(frontalFace());
    faces.back().leftEye->pointCount = 0;
    faces.push_back(frontalFace());
    faces.back().rightEye.reset();
    faces.push_back(frontalFace());
    faces.back().noseCrest.reset();
    faces.back().nose.reset();
    for (const FaceObservation& o : faces) {
        const SeatedDetection d = SeatedPoseDetector::landmarks(o, aspect);
        EXPECT_FALSE(d.features);
        EXPECT_EQ(d.guidance, hidden);
        EXPECT_TRUE(d.points.empty());
        EXPECT_EQ(d.loss, FaceLossReason::unknown);
    }
}

TEST(LandmarkReadout, singlePrecisionConfidenceIsComparedAsADouble)
{
    FaceObservation o = frontalFace();
    o.confidence = 0.7f; // 0.699999988... once widened
    const SeatedDetection refused = SeatedPoseDetector::landmarks(o, aspect);
    EXPECT_FALSE(refused.features);
    EXPECT_EQ(refused.guidance, "Move a little closer and face the camera.");
    EXPECT_TRUE(refused.points.empty());
}
