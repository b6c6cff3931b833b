#include "ClipReplay.h"
#include "FrameCondition.h"

#include "platform/LandmarkDetector.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace verticora;

namespace {

// The real desk footage (scripts/fetch-test-footage) made dark, tilted or cut, each
// frame about the face the detector finds in the unaltered frame.
const std::filesystem::path clip = std::filesystem::path(VERTICORA_TEST_DATA_DIR) / "desk-b.y4m";

const ClipReferences& references()
{
    static const ClipReferences found = [] {
        LandmarkDetector plain;
        plain.setNormalisesLight(false);
        return findReferences(clip, plain);
    }();
    return found;
}

struct Outcome {
    double measured = 0; // share of the analysed frames, while the condition holds
    ReplaySummary summary;
    std::vector<double> redAt; // times of the analysed frames in red
};

Outcome replayUnder(const FrameCondition& condition, std::vector<PictureMove> moves = {})
{
    Outcome outcome;
    if (!std::filesystem::exists(clip)) {
        ADD_FAILURE() << clip << " is missing; `make test` fetches it with scripts/fetch-test-footage";
        return outcome;
    }
    std::mt19937 random(7);
    ClipReplaySettings settings;
    settings.moves = std::move(moves);
    settings.alter = [&](const PixelBufferView& frame, double t) {
        return alteredFrame(frame, t, condition, references().at(t), random);
    };
    ClipReplay chain(std::make_unique<LandmarkDetector>(), settings);
    int frames = 0;
    int measured = 0;
    outcome.summary = chain.run(clip, [&](const ReplayFrame& frame) {
        if (!references().at(frame.time) || !condition.heldAt(frame.time))
            return;
        ++frames;
        measured += frame.features ? 1 : 0;
        if (frame.state == ZoneState::outside || frame.state == ZoneState::alert)
            outcome.redAt.push_back(frame.time);
    });
    EXPECT_FALSE(outcome.summary.error);
    EXPECT_GT(frames, 20);
    outcome.measured = frames > 0 ? static_cast<double>(measured) / frames : 0;
    return outcome;
}

FrameCondition evening(double light)
{
    return {"evening", light, 4, 0, FrameCondition::Cut::none, 0, 0};
}

} // namespace

// Dusk falls after the height was set in daylight: with the sensor's noise the face stays
// measured, the person sitting at the chosen height never turns red as the picture is
// brightened, and a sink still turns red and alerts.
TEST(FaceConditions, eveningLightKeepsTheFaceMeasuredAndASinkAlerting)
{
    const ClipReplaySettings defaults;
    const PictureMove sinking{14, 26, 0.2, 1, 0.6};
    const Outcome run = replayUnder({"dusk", 0.2, 4, 0, FrameCondition::Cut::none, 8, 2}, {sinking});
    EXPECT_GE(run.measured, 0.9);
    for (const double t : run.redAt)
        EXPECT_TRUE(t >= sinking.start && t < sinking.end + 1) << "red while seated at " << t;
    ASSERT_EQ(run.summary.moves.size(), 1u);
    const MoveFigures& sink = run.summary.moves.front();
    ASSERT_TRUE(sink.redAfter);
    EXPECT_LE(*sink.redAfter, 1.5);
    ASSERT_TRUE(sink.alertAfterRed);
    EXPECT_LE(*sink.alertAfterRed, defaults.delay + 2.5);

    const Outcome darker = replayUnder(evening(0.12));
    EXPECT_GE(darker.measured, 0.5);
    EXPECT_TRUE(darker.redAt.empty());
}

// After the height was set the person tilts the head or slouches until the picture cuts
// the face: it stays measured by its eyes and nose.
TEST(FaceConditions, aTiltedOrCutFaceStaysMeasured)
{
    using Cut = FrameCondition::Cut;
    for (const auto& [condition, share] :
         {std::pair{FrameCondition{"rolled 45", 1, 0, 45, Cut::none, 5, 1}, 0.9},
          std::pair{FrameCondition{"cut at the chin", 1, 0, 0, Cut::chin, 5, 3}, 0.9},
          std::pair{FrameCondition{"cut at the mouth", 1, 0, 0, Cut::mouth, 5, 3}, 0.6}}) {
        SCOPED_TRACE(condition.name);
        EXPECT_GE(replayUnder(condition).measured, share);
    }
}
