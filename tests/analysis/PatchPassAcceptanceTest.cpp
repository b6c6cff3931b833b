// When the detector may trust a patch pass instead of a full landmark pass: the edge
// margin, the band of the last full pass, and the subject check that runs on a copy of
// the continuity state and is kept only when it accepts.

#include "TestFrames.h"

#include "analysis/FaceLandmarkRequest.h"
#include "analysis/SeatedPoseDetector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

using namespace verticora;

namespace {

constexpr int frameWidth = 384;
constexpr int frameHeight = 216;
constexpr double aspect = 16.0 / 9.0;

using test::frontalFace;

class PatchPassAcceptance : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        m_portrait = test::loadPortrait(error);
        ASSERT_TRUE(m_portrait) << error;
        detector = std::make_unique<SeatedPoseDetector>(true, std::make_unique<test::ScriptedRequest>(script));
        // Calibrated on a centred face, so a face at that height measures green anywhere.
        baseline = test::referencePose(frontalFace(0.4, 0.5), aspect);
        detector->setReference(baseline, 0.45, 0.85);
    }

    // The portrait, inside the placed face's box only and on a plain background, drawn so
    // that its eyes lie under the placed eye points; the picture may sit `shiftDown`
    // pixels lower than the placed face (the background stays, as when a head sinks).
    void drawFaceAt(double minX, double noseY, double shiftDown = 0)
    {
        constexpr double scale = 45.0 / 30.8; // portrait pixels per frame pixel
        const double eyesX = frameWidth * (minX + 0.1);
        const double eyesY = frameHeight * (noseY - 0.0288) + shiftDown;
        const double top = frameHeight * (noseY - 0.12) + shiftDown;
        m_frame = std::make_unique<PixelBuffer>(test::bgraFrame(frameWidth, frameHeight, [&](int x, int y) {
            const bool inside = x >= frameWidth * minX && x < frameWidth * (minX + 0.2) && y >= top
                && y < top + frameHeight * 0.24;
            return inside ? m_portrait->sample(222.5 + (x - eyesX) * scale, 112 + (y - eyesY) * scale)
                          : test::Rgb{128, 128, 128};
        }));
    }

    // Places the face and the picture together and runs one detection.
    SeatedDetection detectAt(double minX, double noseY, bool allowLightweight)
    {
        script.faces = {frontalFace(minX, noseY)};
        time += 0.3;
        return detector->detect(m_frame->view(), aspect, time, allowLightweight);
    }

    // Full passes that lead the tracked subject from the centre of the picture to the
    // place (`minX`, `noseY`) in steps of at most 0.02, then one that seeds the tracker there.
    void leadSubjectTo(double minX, double noseY = 0.5)
    {
        drawFaceAt(minX, noseY);
        const int steps = int(std::ceil(std::max(std::abs(minX - 0.4), std::abs(noseY - 0.5)) / 0.02));
        for (int i = 0; i < steps; ++i)
            detectAt(0.4 + (minX - 0.4) * i / steps, 0.5 + (noseY - 0.5) * i / steps, false);
        detectAt(minX, noseY, true);
        ASSERT_FALSE(detector->lastSeedFailure()) << *detector->lastSeedFailure();
    }

    test::FaceScript script;
    PoseFeatures baseline;
    std::unique_ptr<SeatedPoseDetector> detector;
    double time = 1.0;

private:
    std::optional<test::RgbImage> m_portrait;
    std::unique_ptr<PixelBuffer> m_frame;
};

} // namespace

TEST_F(PatchPassAcceptance, aBoxAtTheSideMarginFallsBackToAFullPassJustInsideItDoesNot)
{
    leadSubjectTo(0.06);
    detectAt(0.06, 0.5, true);
    EXPECT_EQ(detector->lastPath(), "full");
    EXPECT_EQ(detector->lastFallback(), "geometry or edge");

    leadSubjectTo(0.0601);
    detectAt(0.0601, 0.5, true);
    EXPECT_EQ(detector->lastPath(), "patch");
}

// A face sinking out of the bottom of the picture passes the geometry and the band, but
// the subject check sees it leaving; nothing of that check may remain. (The full pass
// that follows fails here, so it cannot touch the continuity state either.)
TEST_F(PatchPassAcceptance, aRefusedSubjectCheckLeavesTheContinuityAsItWas)
{
    leadSubjectTo(0.4, 0.78);
    const FaceContinuity before = detector->continuity();
    script.fail = true;
    EXPECT_THROW(detectAt(0.4, 0.78, true), LandmarkRequestError);
    EXPECT_EQ(detector->lastFallback(), "subject mismatch");
    EXPECT_EQ(detector->continuity(), before);
}

TEST_F(PatchPassAcceptance, anAcceptedPatchPassKeepsExactlyWhatTheSelectionMade)
{
    leadSubjectTo(0.4);
    FaceContinuity expected = detector->continuity();
    const SeatedDetection tracked = detectAt(0.4, 0.5, true);
    ASSERT_EQ(detector->lastPath(), "patch");
    const Rect box = *expected.selectedBox; // the picture did not move
    const FaceCandidate candidate{box, candidateSignature(box, tracked.points), 0.0, true};
    const FaceSelection selection = expected.select(std::span(&candidate, 1), time);
    EXPECT_EQ(selection.index, 0u);
    EXPECT_EQ(detector->continuity(), expected);
}

TEST_F(PatchPassAcceptance, theFirstFrameInAnotherBandIsAFullPassThoughTheTrackerIsSeeded)
{
    detector->setReference(baseline, 0.15, 0.3); // the narrowest zones: a small sink is yellow
    leadSubjectTo(0.4);
    ASSERT_EQ(detector->verifiedBand(), 0);
    drawFaceAt(0.4, 0.5, 4); // the head sank; the placed face has not been looked at yet
    const int fullPasses = detector->fullPasses();
    detectAt(0.4, 0.5, true);
    EXPECT_EQ(detector->lastFallback(), "zone transition");
    EXPECT_EQ(detector->fullPasses(), fullPasses + 1);
}
