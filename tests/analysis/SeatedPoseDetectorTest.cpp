#include "TestFrames.h"

#include "analysis/FaceLandmarkRequest.h"
#include "analysis/SeatedPoseDetector.h"

#include <gtest/gtest.h>

#include <memory>

using namespace verticora;

namespace {

// A face centred at `centerX` with its nose crest at `noseY` from the top.
FaceObservation face(double centerX = 0.5, double noseY = 0.5)
{
    return test::frontalFace(centerX - 0.1, noseY);
}

class SeatedPoseDetectorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        const auto portrait = test::loadPortrait(error);
        ASSERT_TRUE(portrait) << error;
        // The portrait's face lies under the scripted landmarks: its eyes, 45 pixels apart
        // around (222, 112), land on the scripted eyes 31 pixels apart around (192, 102).
        m_frame = std::make_unique<PixelBuffer>(test::bgraFrame(384, 216, [&](int x, int y) {
            constexpr double scale = 45.0 / 30.8;
            return portrait->sample(222.5 + (x - 192) * scale, 112 + (y - 101.7) * scale);
        }));
        detector = std::make_unique<SeatedPoseDetector>(true, std::make_unique<test::ScriptedRequest>(script));
    }

    SeatedDetection detect(double time, bool allowLightweight = true)
    {
        return detector->detect(m_frame->view(), 16.0 / 9.0, time, allowLightweight);
    }

    // Calibrated on the scripted face, so it measures green.
    void setReference(double yellow = 0.45, double red = 0.85)
    {
        detector->setReference(test::referencePose(face(), 16.0 / 9.0), yellow, red);
    }

    test::FaceScript script{{face()}, {}, 0, 0, false};
    std::vector<FaceObservation>& faces = script.faces;
    std::unique_ptr<SeatedPoseDetector> detector;

private:
    std::unique_ptr<PixelBuffer> m_frame;
};

} // namespace

TEST_F(SeatedPoseDetectorTest, withoutAReferenceEveryFrameIsAFullPass)
{
    for (int i = 0; i < 3; ++i) {
        const SeatedDetection d = detect(i * 0.4);
        EXPECT_TRUE(d.features);
        EXPECT_EQ(detector->lastPath(), "full");
    }
    EXPECT_EQ(detector->fallbackCounts().at("full policy"), 3);
    EXPECT_EQ(detector->fullPasses(), 3);
    EXPECT_EQ(script.requests, 3);
    EXPECT_EQ(detector->lastFallback(), "full policy");
}

TEST_F(SeatedPoseDetectorTest, aStillFaceIsFollowedByPatchPassesUntilTheTemplatesExpire)
{
    setReference();
    const SeatedDetection first = detect(1.0);
    ASSERT_TRUE(first.features);
    EXPECT_EQ(detector->verifiedBand(), 0);
    EXPECT_FALSE(detector->lastSeedFailure());

    const SeatedDetection followed = detect(1.4);
    EXPECT_EQ(detector->lastPath(), "patch");
    EXPECT_EQ(followed.guidance, "Tracking your height.");
    ASSERT_TRUE(followed.features);
    EXPECT_NEAR(followed.features->centerY, first.features->centerY, 0.005);
    EXPECT_EQ(detector->patchPasses(), 1);
    EXPECT_EQ(detector->lastFallback(), "");
    EXPECT_EQ(script.requests, 1) << "a patch pass runs no landmark request";

    detect(2.0); // 1.0 s after seeding: the templates have expired
    EXPECT_EQ(detector->lastPath(), "full");
    EXPECT_EQ(script.requests, 2);
    EXPECT_NE(detector->lastFallback(), "");
    EXPECT_NE(detector->lastFallback(), "full policy");

    detect(2.4, false);
    EXPECT_EQ(detector->lastFallback(), "full policy") << "the caller can forbid patch passes";
}

TEST_F(SeatedPoseDetectorTest, twoConfidentFacesNeverSeedTheTracker)
{
    setReference();
    faces = {face(0.5), face(0.85, 0.45)};
    for (int i = 0; i < 4; ++i) {
        const SeatedDetection d = detect(i * 0.4);
        EXPECT_TRUE(d.features) << "the central face is still measured";
    }
    EXPECT_EQ(detector->patchPasses(), 0);
    EXPECT_EQ(script.requests, 4);
    EXPECT_EQ(detector->lastFaceCount(), 2);
}

TEST_F(SeatedPoseDetectorTest, unchosenFacesExplainWhy)
{
    faces = {face(0.35), face(0.65)};
    const SeatedDetection ambiguous = detect(0.0);
    EXPECT_FALSE(ambiguous.features);
    EXPECT_EQ(ambiguous.loss, FaceLossReason::ambiguous);
    EXPECT_EQ(ambiguous.guidance, "Keep the person setting their height centered. Waiting for a clear match.");

    faces = {face(0.9)};
    const SeatedDetection offCentre = detect(0.4);
    EXPECT_FALSE(offCentre.features);
    EXPECT_EQ(offCentre.guidance, "Looking for your face. Keep your eyes, nose and chin visible.");
}

TEST_F(SeatedPoseDetectorTest, onlyAChangedOrRefusedReferenceClearsTheTracker)
{
    setReference();
    detect(1.0);
    setReference();
    detect(1.4);
    EXPECT_EQ(detector->lastPath(), "patch") << "the same reference keeps the tracker seeded";

    setReference(0.1, 0.85);
    EXPECT_FALSE(detector->reference());
    EXPECT_FALSE(detector->verifiedBand());
    detect(1.6);
    EXPECT_EQ(detector->lastFallback(), "full policy");
}

TEST_F(SeatedPoseDetectorTest, aFailingRequestIsPassedOnAfterTheFallbackIsCounted)
{
    setReference();
    detect(1.0);
    EXPECT_EQ(detector->lastFallback(), "no template");
    script.fail = true;
    EXPECT_THROW(detect(1.4, false), LandmarkRequestError);
    EXPECT_EQ(detector->fullPasses(), 1);
    EXPECT_EQ(detector->fallbackCounts().at("full policy"), 1);
    EXPECT_FALSE(detector->verifiedBand());
    script.fail = false;
    detect(1.5);
    EXPECT_EQ(detector->lastPath(), "full");
    EXPECT_EQ(detector->fallbackCounts().at("no template"), 2) << "the failed pass cleared the tracker";

    detector->replacePatchTracker(10);
    EXPECT_EQ(detector->patchRadius(), 10);
    EXPECT_FALSE(detector->verifiedBand());
}

TEST_F(SeatedPoseDetectorTest, resetForgetsTheSubjectButKeepsTheCounters)
{
    setReference();
    detect(1.0);
    detect(1.4);
    detector->reset();
    EXPECT_EQ(detector->continuity().lastDecision, "initial");
    EXPECT_FALSE(detector->reference());
    EXPECT_EQ(detector->patchPasses(), 1);
    EXPECT_EQ(detector->fullPasses(), 1);
}

TEST_F(SeatedPoseDetectorTest, theSecondFinderLooksOnlyWhereTheFirstFindsNobodyToMeasure)
{
    script.missed = {face(0.52)};
    EXPECT_TRUE(detect(0.0).features);
    EXPECT_EQ(script.secondLooks, 0) << "a measured face costs no second look";

    faces = {face(0.9)}; // only a face too far to the side: nobody to measure
    const SeatedDetection found = detect(0.4);
    EXPECT_EQ(script.secondLooks, 1);
    ASSERT_TRUE(found.features) << detector->continuity().lastDecision;
    EXPECT_NEAR(found.features->centerX, 0.52 * 16.0 / 9.0, 1e-9) << "the second finder's face is the subject";
    EXPECT_EQ(detector->lastFaceCount(), 2);

    // A face the first finder measured is not taken twice; one it could not measure is
    // replaced by the second finder's.
    FaceObservation unmeasurable = face(0.52);
    unmeasurable.leftEye.reset();
    faces = {face(0.9), unmeasurable};
    script.missed = {face(0.9), face(0.52)};
    EXPECT_TRUE(detect(0.6).features);
    EXPECT_EQ(detector->lastFaceCount(), 2);

    faces.clear();
    script.missed.clear();
    const SeatedDetection lost = detect(0.8);
    EXPECT_FALSE(lost.features);
    EXPECT_EQ(script.secondLooks, 3);
    EXPECT_EQ(detector->continuity().selectedBox, face(0.52).boundingBox) << "a look that finds nobody changes nothing";
}

TEST_F(SeatedPoseDetectorTest, aSubjectSinkingUntilItsChinLeavesThePictureStaysMeasured)
{
    // The landmark model puts the chin of a face at the bottom of the picture a little
    // below it; the face is still measured by its eyes and nose, and stays the subject,
    // also when its box reaches well below the picture (cut at the mouth).
    for (const double noseY : {0.5, 0.62, 0.74, 0.86, 0.9, 0.92, 0.96}) {
        faces = {face(0.5, noseY)};
        const SeatedDetection d = detect(noseY);
        ASSERT_TRUE(d.features) << "nose at " << noseY << ": " << detector->continuity().lastDecision;
        EXPECT_EQ(detector->continuity().lastDecision, noseY == 0.5 ? "acquired subject" : "matched subject");
        ASSERT_EQ(d.points.size(), 4u);
        EXPECT_EQ(d.points[3].y, std::max(1 - noseY - 0.12, 0.0)) << "the chin is read on the bottom edge";
        ASSERT_TRUE(d.features->heightLandmarks);
        EXPECT_NEAR(d.features->heightLandmarks->noseY, noseY, 1e-9);
    }
}
