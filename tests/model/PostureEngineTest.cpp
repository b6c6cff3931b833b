#include "model/PostureEngine.h"

#include <gtest/gtest.h>

#include <limits>

using namespace verticora;

namespace {

// A face whose nose sits at `noseY` (top-down) with a fixed eye-to-nose distance of
// 0.25 and the chin below; scale and centre are steady.
PoseFeatures faceWithNoseAt(double noseY, double scale = 0.5)
{
    return {0, 0.5, 0, scale, 0.9, 0.5, FaceHeightLandmarks{noseY - 0.25, noseY, noseY + 0.125}, std::nullopt};
}

// Calibrated with the nose at 0.25 and the reference line at 0.5: a face of
// faceWithNoseAt(0.75) deviates by exactly 0.85, one at 0.5 by exactly 0.45.
PoseFeatures landmarkBaseline()
{
    return {0, 0.5, 0, 0.5, 0.9, 0.5, std::nullopt, LandmarkHeightCalibration{{0.125, 0.25, 1.0}, 0.5}};
}

// Without landmarks; calibrated on centreFace(0.5), deviation = centre drop / (0.5 x 0.22).
PoseFeatures centreFace(double centerY)
{
    return PoseFeatures{0, 0.5, 0, 0.5, 0.9, centerY, std::nullopt, std::nullopt};
}

PostureEngine monitoringEngine(const PoseFeatures& baseline = landmarkBaseline(), double delay = 2.0)
{
    PostureEngine engine;
    EXPECT_TRUE(engine.restoreValidated(baseline, 0.45, 0.85, delay));
    return engine;
}

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

} // namespace

TEST(PostureEngineCalibration, finishesOnTheFirstFrameAtThreeSecondsAtTenFramesPerSecond)
{
    PostureEngine engine;
    engine.setCalibrating(true);
    for (int i = 0; i < 30; ++i) {
        const ZoneResult r = engine.update(faceWithNoseAt(0.5), i * 0.1);
        ASSERT_EQ(r.state, ZoneState::calibrating) << i;
        EXPECT_FALSE(r.score);
        EXPECT_FALSE(r.calibrationRestarted);
        if (i == 15) {
            EXPECT_NEAR(r.progress, 0.5, 1e-12);
        }
    }
    const ZoneResult done = engine.update(faceWithNoseAt(0.5), 3.0);
    EXPECT_EQ(done.state, ZoneState::inside);
    EXPECT_TRUE(done.calibrated);
    EXPECT_EQ(done.score, 0.0);
    EXPECT_FALSE(engine.calibrating());
    EXPECT_TRUE(engine.samples().empty());
    ASSERT_TRUE(engine.baseline());
    EXPECT_FALSE(engine.baseline()->heightLandmarks);
    ASSERT_TRUE(engine.baseline()->landmarkHeight);
    EXPECT_NEAR(engine.baseline()->landmarkHeight->referenceLineY, 0.5 + 0.125 / 3, 1e-12);
}

TEST(PostureEngineCalibration, waitsForTheTwentiethSampleAtFiveFramesPerSecond)
{
    PostureEngine engine;
    engine.setCalibrating(true);
    for (int i = 0; i < 19; ++i) {
        const ZoneResult r = engine.update(faceWithNoseAt(0.5), i * 0.2);
        ASSERT_EQ(r.state, ZoneState::calibrating) << i;
        if (i >= 15) {
            EXPECT_EQ(r.progress, 0.99) << i;
        }
    }
    EXPECT_TRUE(engine.update(faceWithNoseAt(0.5), 19 * 0.2).calibrated);
}

TEST(PostureEngineCalibration, aScaleJumpRestartsTheWindowAndAGapOrALostFrameThrowsItAway)
{
    PostureEngine engine;
    engine.setCalibrating(true);
    for (int i = 0; i < 10; ++i)
        engine.update(faceWithNoseAt(0.5), i * 0.1);
    const ZoneResult r = engine.update(faceWithNoseAt(0.5, 0.5 * 1.3), 1.0);
    EXPECT_EQ(r.state, ZoneState::calibrating);
    EXPECT_EQ(r.progress, 0.0);
    EXPECT_TRUE(r.calibrationRestarted);
    ASSERT_EQ(engine.samples().size(), 1u);
    EXPECT_EQ(engine.samples().front().time, 1.0);

    for (int i = 1; i < 10; ++i)
        engine.update(faceWithNoseAt(0.5, 0.5 * 1.3), 1.0 + i * 0.1);
    const ZoneResult afterGap = engine.update(faceWithNoseAt(0.5, 0.5 * 1.3), 1.9 + 0.7);
    EXPECT_EQ(afterGap.progress, 0.0);
    EXPECT_FALSE(afterGap.calibrationRestarted);
    EXPECT_EQ(engine.samples().size(), 1u);

    EXPECT_EQ(engine.update(std::nullopt, 2.7).state, ZoneState::lost);
    EXPECT_TRUE(engine.samples().empty());
    EXPECT_TRUE(engine.calibrating());
}

TEST(PostureEngineCalibration, mixingFacesWithAndWithoutLandmarksIsUnstableAndNoneGivesNoLandmarkHeight)
{
    PostureEngine engine;
    engine.setCalibrating(true);
    engine.update(faceWithNoseAt(0.5), 0.0);
    PoseFeatures noLandmarks = faceWithNoseAt(0.5);
    noLandmarks.heightLandmarks.reset();
    EXPECT_TRUE(engine.update(noLandmarks, 0.1).calibrationRestarted);

    // A window of faces without landmarks calibrates without a landmark height.
    PostureEngine centreOnly;
    centreOnly.setCalibrating(true);
    ZoneResult r;
    for (int i = 0; i <= 30; ++i)
        r = centreOnly.update(centreFace(0.5), i * 0.1);
    EXPECT_TRUE(r.calibrated);
    EXPECT_FALSE(centreOnly.baseline()->landmarkHeight);
}

TEST(PostureEngine, reportsReadyWithoutABaselineAndLostForBadInput)
{
    PostureEngine engine;
    EXPECT_EQ(engine.update(faceWithNoseAt(0.5), 0.0).state, ZoneState::ready);
    EXPECT_EQ(engine.update(std::nullopt, 0.1).state, ZoneState::lost);
    EXPECT_EQ(engine.update(faceWithNoseAt(0.5), notANumber).state, ZoneState::lost);
    PoseFeatures invalid = faceWithNoseAt(0.5);
    invalid.scale = 0.05;
    EXPECT_EQ(engine.update(invalid, 0.2).state, ZoneState::lost);

    PostureEngine monitoring = monitoringEngine();
    PoseFeatures noLandmarks = faceWithNoseAt(0.5);
    noLandmarks.heightLandmarks.reset();
    const ZoneResult lost = monitoring.update(noLandmarks, 0.0);
    EXPECT_EQ(lost.state, ZoneState::lost);
    EXPECT_FALSE(lost.score);
}

TEST(PostureEngine, pausedChangesNothing)
{
    PostureEngine engine = monitoringEngine();
    engine.update(faceWithNoseAt(0.75), 0.0);
    engine.setPaused(true);
    const ZoneResult r = engine.update(faceWithNoseAt(0.75), 0.5);
    ZoneResult paused;
    paused.state = ZoneState::paused;
    EXPECT_EQ(r, paused);
    EXPECT_EQ(engine.lastTime(), 0.0);
    EXPECT_EQ(engine.outSince(), 0.0);
}

TEST(PostureEngine, redDelayRaisesWarningProgressThenTheAlert)
{
    PostureEngine engine = monitoringEngine();
    const double expected[] = {0.0, 0.25, 0.5, 0.75};
    for (int i = 0; i < 4; ++i) {
        const ZoneResult r = engine.update(faceWithNoseAt(0.75), i * 0.5);
        EXPECT_EQ(r.state, ZoneState::outside) << i;
        EXPECT_EQ(r.score, 0.85);
        EXPECT_DOUBLE_EQ(r.warningProgress, expected[i]);
        EXPECT_EQ(r.severity, 2.0);
        EXPECT_FALSE(r.alert);
    }
    const ZoneResult alert = engine.update(faceWithNoseAt(0.75), 2.0);
    EXPECT_EQ(alert.state, ZoneState::alert);
    EXPECT_TRUE(alert.alert);
    EXPECT_EQ(alert.warningProgress, 1.0);
    EXPECT_EQ(engine.update(faceWithNoseAt(0.75), 2.5).state, ZoneState::alert);

    // The first frame below red releases the alert and reports the raw value.
    const ZoneResult released = engine.update(faceWithNoseAt(0.5), 3.0);
    EXPECT_FALSE(released.alert);
    EXPECT_FALSE(engine.alert());
    EXPECT_EQ(released.state, ZoneState::yellow);
    EXPECT_NEAR(*released.score, 0.45, 1e-12);
    EXPECT_EQ(released.warningProgress, 0.0);
    EXPECT_FALSE(engine.outSince());
}

TEST(PostureEngine, smoothsRisesButTakesDropsAtOnce)
{
    PostureEngine engine = monitoringEngine(centreFace(0.5));
    EXPECT_EQ(engine.update(centreFace(0.5), 0.0).score, 0.0);
    const ZoneResult risen = engine.update(centreFace(0.5 + 0.11), 0.1); // raw 1.0
    EXPECT_NEAR(*risen.score, 0.393, 0.001);
    EXPECT_EQ(risen.state, ZoneState::inside);

    const ZoneResult dropped = engine.update(centreFace(0.5 + 0.011), 0.2); // raw 0.1
    EXPECT_NEAR(*dropped.score, 0.1, 1e-9);

    EXPECT_EQ(engine.update(centreFace(0.3), 0.3).score, 0.0) << "a face above the calibrated centre";
}

TEST(PostureEngine, aGapClearsTheRedEpisodeAndSmoothing)
{
    PostureEngine engine = monitoringEngine();
    engine.update(faceWithNoseAt(0.75), 0.0);
    engine.update(faceWithNoseAt(0.75), 0.5);
    const ZoneResult afterGap = engine.update(faceWithNoseAt(0.75), 1.2);
    EXPECT_EQ(afterGap.warningProgress, 0.0);
    EXPECT_EQ(engine.outSince(), 1.2);

    const ZoneResult backwards = engine.update(faceWithNoseAt(0.75), 1.0);
    EXPECT_EQ(backwards.warningProgress, 0.0);
    EXPECT_EQ(engine.outSince(), 1.0);
}

TEST(PostureEngine, smoothedScoreBelowRedDoesNotStartTheDelay)
{
    PostureEngine engine = monitoringEngine();
    engine.update(faceWithNoseAt(0.25), 0.0);
    const ZoneResult r = engine.update(faceWithNoseAt(0.75), 0.1);
    EXPECT_LT(*r.score, 0.85);
    EXPECT_FALSE(engine.outSince());
    EXPECT_EQ(r.warningProgress, 0.0);
}

TEST(PostureEngineBottomExit, keepsARedEpisodeCountingTowardsTheAlert)
{
    PostureEngine engine = monitoringEngine();
    engine.update(faceWithNoseAt(0.75), 0.0);
    const auto held = engine.holdBottomExit(0.6);
    ASSERT_TRUE(held);
    EXPECT_EQ(held->state, ZoneState::outside);
    EXPECT_DOUBLE_EQ(held->warningProgress, 0.3);
    EXPECT_EQ(held->score, 0.85);
    EXPECT_EQ(held->severity, 2.0);
    EXPECT_EQ(engine.lastTime(), 0.6);

    engine.holdBottomExit(1.2);
    engine.holdBottomExit(1.8);
    const auto alert = engine.holdBottomExit(2.4);
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->state, ZoneState::alert);
    EXPECT_TRUE(alert->alert);
    EXPECT_EQ(alert->warningProgress, 1.0);
    EXPECT_EQ(engine.score(), 0.85);
    EXPECT_EQ(engine.outSince(), 0.0);
}

TEST(PostureEngineBottomExit, refusesWithoutARunningRedEpisode)
{
    PostureEngine belowRed = monitoringEngine();
    belowRed.update(faceWithNoseAt(0.5), 0.0);
    EXPECT_FALSE(belowRed.holdBottomExit(0.3));
    EXPECT_EQ(belowRed.lastTime(), 0.0);

    PostureEngine red = monitoringEngine();
    red.update(faceWithNoseAt(0.75), 0.0);
    EXPECT_FALSE(red.holdBottomExit(0.7)) << "gap longer than 0.65 s";
    EXPECT_FALSE(red.holdBottomExit(-0.1)) << "clock ran backwards";
    EXPECT_FALSE(red.holdBottomExit(notANumber));
    red.setPaused(true);
    EXPECT_FALSE(red.holdBottomExit(0.3));

    PostureEngine uncalibrated;
    EXPECT_FALSE(uncalibrated.holdBottomExit(0.0));
}

TEST(PostureEngine, restoreValidatedRefusesBadSettingsAndLeavesTheEngineUntouched)
{
    PostureEngine engine = monitoringEngine(landmarkBaseline(), 3.0);
    engine.update(faceWithNoseAt(0.75), 0.0);

    PoseFeatures invalidBaseline = landmarkBaseline();
    invalidBaseline.scale = 0.0;
    EXPECT_FALSE(engine.restoreValidated(landmarkBaseline(), 0.45, 0.85, 0.5));
    EXPECT_FALSE(engine.restoreValidated(landmarkBaseline(), 0.45, 0.85, 6.0));
    EXPECT_FALSE(engine.restoreValidated(landmarkBaseline(), 0.45, 0.85, notANumber));
    EXPECT_FALSE(engine.restoreValidated(landmarkBaseline(), 0.5, 0.6, 2.0));
    EXPECT_FALSE(engine.restoreValidated(invalidBaseline, 0.45, 0.85, 2.0));

    EXPECT_EQ(engine.delay(), 3.0);
    EXPECT_EQ(engine.yellowThreshold(), 0.45);
    EXPECT_EQ(engine.redThreshold(), 0.85);
    EXPECT_EQ(engine.baseline(), landmarkBaseline());
    EXPECT_EQ(engine.outSince(), 0.0);
    EXPECT_EQ(engine.score(), 0.85);
}

TEST(PostureEngine, resetForgetsCalibrationButKeepsSettingsAndRestoreReplacesTheRunningState)
{
    PostureEngine engine = monitoringEngine(landmarkBaseline(), 3.0);
    engine.update(faceWithNoseAt(0.75), 0.0);
    engine.setPaused(true);
    engine.reset();
    EXPECT_FALSE(engine.baseline());
    EXPECT_FALSE(engine.paused());
    EXPECT_FALSE(engine.score());
    EXPECT_FALSE(engine.outSince());
    EXPECT_FALSE(engine.lastTime());
    EXPECT_EQ(engine.delay(), 3.0);
    EXPECT_EQ(engine.redThreshold(), 0.85);

    engine.setCalibrating(true);
    engine.update(faceWithNoseAt(0.5), 0.0);
    ASSERT_TRUE(engine.restoreValidated(centreFace(0.5), 0.3, 0.7, 4.0));
    EXPECT_FALSE(engine.calibrating());
    EXPECT_TRUE(engine.samples().empty());
    EXPECT_FALSE(engine.lastTime());
}

TEST(PostureEngine, haloSeverity)
{
    EXPECT_EQ(PostureEngine::haloSeverity(0.0, 0.45, 0.85), 0.0);
    EXPECT_EQ(PostureEngine::haloSeverity(-1.0, 0.45, 0.85), 0.0);
    EXPECT_EQ(PostureEngine::haloSeverity(0.45, 0.45, 0.85), 1.0);
    EXPECT_DOUBLE_EQ(PostureEngine::haloSeverity(0.225, 0.45, 0.85), 0.5);
    EXPECT_EQ(PostureEngine::haloSeverity(0.85, 0.45, 0.85), 2.0);
    EXPECT_EQ(PostureEngine::haloSeverity(1.25, 0.45, 0.85), 3.0);
    EXPECT_EQ(PostureEngine::haloSeverity(9.0, 0.45, 0.85), 3.0);
    EXPECT_EQ(PostureEngine::haloSeverity(0.3, 0.14, 0.5), 0.0);
    EXPECT_EQ(PostureEngine::haloSeverity(notANumber, 0.45, 0.85), 0.0);
}
