#include "analysis/PoseFeatures.h"
#include "analysis/PostureBand.h"
#include "analysis/ThresholdRules.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using namespace verticora;

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

} // namespace

TEST(FaceHeightLandmarks, validityNeedsEyesAboveNoseAboveChinInsideTheImage)
{
    EXPECT_TRUE((FaceHeightLandmarks{0.40, 0.50, 0.65}.valid()));
    EXPECT_TRUE((FaceHeightLandmarks{0.0, 0.5, 1.0}.valid()));
    EXPECT_FALSE((FaceHeightLandmarks{0.40, 0.4029, 0.65}.valid())) << "nose must be more than 0.003 below the eyes";
    EXPECT_TRUE((FaceHeightLandmarks{0.40, 0.4031, 0.65}.valid()));
    EXPECT_FALSE((FaceHeightLandmarks{0.40, 0.65, 0.65}.valid())) << "chin must be below the nose";
    EXPECT_FALSE((FaceHeightLandmarks{0.40, 0.50, 1.0000001}.valid()));
    EXPECT_FALSE((FaceHeightLandmarks{notANumber, 0.50, 0.65}.valid()));
    EXPECT_FALSE((FaceHeightLandmarks{0.40, inf, 0.65}.valid()));
}

TEST(LandmarkHeightCalibration, captureAndDeviationExamples)
{
    const FaceHeightLandmarks comfortable{0.40, 0.50, 0.65};
    const auto calibration = LandmarkHeightCalibration::capture(comfortable);
    ASSERT_TRUE(calibration);
    EXPECT_DOUBLE_EQ(calibration->referenceLineY, 0.55);

    EXPECT_EQ(calibration->deviation(comfortable), 0.0);
    EXPECT_NEAR(*calibration->deviation({0.45, 0.55, 0.70}), 0.45, 1e-12) << "nose on the reference line";
    EXPECT_EQ(calibration->deviation({0.30, 0.40, 0.55}), 0.0) << "a face higher than calibrated";
    EXPECT_FALSE(calibration->deviation({0.50, 0.45, 0.70})) << "invalid current landmarks";
    // base ratio (0.50 - 0.55) / 0.10 = -0.5; a ratio of -0.25 is half way to the line.
    EXPECT_NEAR(*calibration->deviation({0.425, 0.525, 0.70}), 0.225, 1e-12);
    // One eye-to-nose distance below the line is exactly the default red.
    const LandmarkHeightCalibration lineAtHalf{{0.125, 0.25, 1.0}, 0.5};
    EXPECT_EQ(*lineAtHalf.deviation({0.5, 0.75, 0.875}), 0.85);

    EXPECT_FALSE(LandmarkHeightCalibration::capture(std::nullopt));
    EXPECT_FALSE(LandmarkHeightCalibration::capture(FaceHeightLandmarks{0.4, 0.401, 0.6}));
}

TEST(LandmarkHeightCalibration, aLineOnTheNoseOrOutsideTheImageIsInvalid)
{
    const FaceHeightLandmarks landmarks{0.40, 0.50, 0.65};
    EXPECT_FALSE((LandmarkHeightCalibration{landmarks, 0.50}.valid())) << "line on the nose";
    EXPECT_FALSE((LandmarkHeightCalibration{landmarks, 0.50}.deviation(landmarks)));
    EXPECT_FALSE((LandmarkHeightCalibration{landmarks, 1.01}.valid()));
    EXPECT_FALSE((LandmarkHeightCalibration{landmarks, notANumber}.valid()));
    EXPECT_TRUE((LandmarkHeightCalibration{landmarks, 1.0}.valid()));
}

TEST(PoseFeatures, validity)
{
    PoseFeatures features{0, 0.5, 0, 0.3, 0.9, 0.5, std::nullopt, std::nullopt};
    EXPECT_TRUE(features.valid());

    PoseFeatures small = features;
    small.scale = 0.08;
    EXPECT_FALSE(small.valid());

    PoseFeatures notFinite = features;
    notFinite.headX = notANumber;
    EXPECT_FALSE(notFinite.valid());

    PoseFeatures badLandmarks = features;
    badLandmarks.heightLandmarks = FaceHeightLandmarks{0.5, 0.4, 0.6};
    EXPECT_FALSE(badLandmarks.valid());

    PoseFeatures badCalibration = features;
    badCalibration.landmarkHeight = LandmarkHeightCalibration{{0.4, 0.5, 0.65}, 0.5};
    EXPECT_FALSE(badCalibration.valid());
    badCalibration.landmarkHeight->referenceLineY = 0.55;
    EXPECT_TRUE(badCalibration.valid());

    EXPECT_FALSE(PoseFeatures::fromCoreVector(std::vector<double>{1, 2, 3, 4, 5})) << "a core vector too short";
}

TEST(CandidateSignature, eyeDistanceAndEyeToChinRelativeToTheBox)
{
    const Rect box{0.25, 0.25, 0.5, 0.5};
    const std::vector<Point> points{{0.375, 0.625}, {0.625, 0.625}, {0.5, 0.5}, {0.5, 0.375}};
    EXPECT_EQ(candidateSignature(box, points), (std::vector<double>{0.5, 0.5}));
    // The same face rolled 45 degrees about the box centre, either way.
    for (const double roll : {0.785398, -0.785398}) {
        std::vector<Point> rolled;
        for (const Point& p : points) {
            const double x = p.x - 0.5;
            const double y = p.y - 0.5;
            rolled.push_back({0.5 + x * std::cos(roll) - y * std::sin(roll), 0.5 + x * std::sin(roll) + y * std::cos(roll)});
        }
        const std::vector<double> signature = candidateSignature(box, rolled);
        ASSERT_EQ(signature.size(), 2u);
        EXPECT_NEAR(signature[0], 0.5, 1e-6);
        EXPECT_NEAR(signature[1], 0.5, 1e-6);
    }
    EXPECT_TRUE(candidateSignature(box, std::span(points).first(3)).empty());
    EXPECT_TRUE(candidateSignature(Rect{0, 0, 0, 0.5}, points).empty());
}

TEST(ThresholdRules, pairAndDelay)
{
    EXPECT_TRUE(isValidThresholdPair(0.45, 0.85));
    EXPECT_TRUE(isValidThresholdPair(0.15, 0.30));
    EXPECT_FALSE(isValidThresholdPair(0.14, 0.5));
    EXPECT_FALSE(isValidThresholdPair(0.5, 0.6)) << "red below 1.25 x yellow";
    EXPECT_FALSE(isValidThresholdPair(0.4, 0.5)) << "red 1.25 x yellow but closer than 0.15";
    EXPECT_FALSE(isValidThresholdPair(notANumber, 0.85));
    EXPECT_FALSE(isValidThresholdPair(0.45, inf));

    EXPECT_TRUE(isValidDelay(1.0));
    EXPECT_TRUE(isValidDelay(5.0));
    EXPECT_FALSE(isValidDelay(0.5));
    EXPECT_FALSE(isValidDelay(6));
    EXPECT_FALSE(isValidDelay(notANumber));
}

TEST(PostureBand, classify)
{
    EXPECT_EQ(classify(0.0, 0.45, 0.85), PostureBand::green);
    EXPECT_EQ(classify(-2.0, 0.45, 0.85), PostureBand::green);
    EXPECT_EQ(classify(0.45, 0.45, 0.85), PostureBand::yellow);
    EXPECT_EQ(classify(0.8499, 0.45, 0.85), PostureBand::yellow);
    EXPECT_EQ(classify(0.85, 0.45, 0.85), PostureBand::red);
    EXPECT_FALSE(classify(std::nullopt, 0.45, 0.85));
    EXPECT_FALSE(classify(notANumber, 0.45, 0.85));
    EXPECT_FALSE(classify(0.3, 0.5, 0.6));
}
