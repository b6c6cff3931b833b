#include "analysis/FaceContinuity.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace verticora;

namespace {

const std::vector<double> proportions = {0.4, 0.8};

Rect boxAt(double midX, double midY, double width = 0.2, double height = 0.25)
{
    return {midX - width / 2, midY - height / 2, width, height};
}

FaceCandidate face(Rect box, std::vector<double> signature = proportions, bool green = false)
{
    return {box, std::move(signature), std::nullopt, green};
}

// A signature whose distance from `proportions` is `distance` (only the eye ratio differs).
std::vector<double> signatureAtDistance(double distance)
{
    return {0.4 * (1 - distance * std::sqrt(2.0)), 0.8};
}

// A continuity that acquired a face at `box` at time 0.
FaceContinuity trackingAt(Rect box)
{
    FaceContinuity continuity;
    const std::vector<FaceCandidate> first = {face(box)};
    EXPECT_EQ(continuity.select(first, 0), (FaceSelection{0, FaceLossReason::unknown}));
    return continuity;
}

FaceSelection selectOne(FaceContinuity& c, const FaceCandidate& candidate, double t)
{
    const std::vector<FaceCandidate> list = {candidate};
    return c.select(list, t);
}

FaceSelection selectNone(FaceContinuity& c, double t)
{
    return c.select({}, t);
}

} // namespace

TEST(FaceContinuity, acquiresOnlyACentralCompleteFaceThatClearlyWins)
{
    FaceContinuity offCentre;
    EXPECT_EQ(selectOne(offCentre, face(boxAt(0.81, 0.5)), 0), (FaceSelection{std::nullopt, FaceLossReason::unknown}));
    EXPECT_EQ(offCentre.lastDecision, "no complete initial face");
    EXPECT_FALSE(offCentre.selectedBox);

    FaceContinuity incomplete;
    EXPECT_FALSE(selectOne(incomplete, face(boxAt(0.5, 0.5), {}), 0).index);
    EXPECT_EQ(incomplete.lastDecision, "no complete initial face");

    FaceContinuity central;
    EXPECT_EQ(selectOne(central, face(boxAt(0.79, 0.5)), 0), (FaceSelection{0, FaceLossReason::unknown}));
    EXPECT_EQ(central.lastDecision, "acquired subject");
    EXPECT_EQ(central.selectedBox, boxAt(0.79, 0.5));
    EXPECT_EQ(central.anchorBox, boxAt(0.79, 0.5));
    EXPECT_EQ(central.signature, proportions);

    // Two equally central, equally large faces: nobody is chosen and nothing is learnt.
    FaceContinuity twins;
    const std::vector<FaceCandidate> pair = {face(boxAt(0.4, 0.5)), face(boxAt(0.6, 0.5))};
    EXPECT_EQ(twins.select(pair, 0), (FaceSelection{std::nullopt, FaceLossReason::ambiguous}));
    EXPECT_EQ(twins.lastDecision, "ambiguous initial subjects");
    EXPECT_EQ(twins, [] {
        FaceContinuity expected;
        expected.processedAt = 0;
        expected.lastDecision = "ambiguous initial subjects";
        return expected;
    }());

    // A central face beats one at the side by more than 0.16 and is chosen by its index.
    FaceContinuity clear;
    const std::vector<FaceCandidate> crowd = {face(boxAt(0.75, 0.5)), face(boxAt(0.5, 0.5)), face({2, 2, 0.1, 0.1})};
    EXPECT_EQ(clear.select(crowd, 0), (FaceSelection{1, FaceLossReason::unknown}));
}

TEST(FaceContinuity, refusesTimeRunningBackwardsWithoutTouchingItsState)
{
    FaceContinuity continuity = trackingAt(boxAt(0.5, 0.5));
    EXPECT_EQ(selectOne(continuity, face(boxAt(0.5, 0.5)), 1.0).index, 0u);
    EXPECT_EQ(selectOne(continuity, face(boxAt(0.5, 0.5)), 1.0).index, 0u); // the same time again is fine

    FaceContinuity before = continuity;
    EXPECT_EQ(selectOne(continuity, face(boxAt(0.5, 0.5)), 0.999),
              (FaceSelection{std::nullopt, FaceLossReason::cameraStale}));
    EXPECT_EQ(continuity.lastDecision, "stale timestamp");
    before.lastDecision = "stale timestamp";
    EXPECT_EQ(continuity, before);
    EXPECT_EQ(selectOne(continuity, face(boxAt(0.5, 0.5)), NAN).loss, FaceLossReason::cameraStale);
}

TEST(FaceContinuity, rejectsAFaceOfOtherProportionsEvenOnTheLastBox)
{
    FaceContinuity continuity = trackingAt(boxAt(0.5, 0.5));

    EXPECT_FALSE(selectOne(continuity, face(boxAt(0.5, 0.5), signatureAtDistance(0.23)), 0.1).index);
    EXPECT_EQ(continuity.lastDecision, "landmark proportions mismatch");
    EXPECT_TRUE(continuity.needsReacquisition);

    EXPECT_FALSE(selectOne(continuity, face(boxAt(0.5, 0.5), {}), 0.2).index);
    EXPECT_EQ(continuity.lastDecision, "incomplete returning landmarks");

    EXPECT_EQ(selectOne(continuity, face(boxAt(0.5, 0.5), signatureAtDistance(0.21)), 0.3).index, 0u);
    EXPECT_EQ(continuity.lastDecision, "matched subject");
    EXPECT_FALSE(continuity.needsReacquisition);
    EXPECT_EQ(continuity.signature, proportions); // learnt once, never replaced
}

TEST(FaceContinuity, aTurnedHeadIsComparedByItsYawCorrectedProportions)
{
    FaceContinuity continuity;
    const std::vector<FaceCandidate> frontal = {{boxAt(0.5, 0.5), proportions, 0.0, false}};
    ASSERT_EQ(continuity.select(frontal, 0).index, 0u);

    // Turned by 1 rad the eyes look 46 % closer together: too far apart as measured,
    // identical once corrected for the yaw.
    const std::vector<FaceCandidate> turned = {{boxAt(0.5, 0.5), {0.4 * std::cos(1.0), 0.8}, 1.0, false}};
    EXPECT_EQ(continuity.select(turned, 0.1).index, 0u);
    const std::vector<FaceCandidate> noYaw = {{boxAt(0.5, 0.5), {0.4 * std::cos(1.0), 0.8}, std::nullopt, false}};
    EXPECT_FALSE(continuity.select(noYaw, 0.2).index);
    EXPECT_EQ(continuity.lastDecision, "landmark proportions mismatch");
}

TEST(FaceContinuity, twoCloseMatchesAreAmbiguousUntilOneClearlyWins)
{
    // Last box 0.2 x 0.2: horizontal tolerance 0.13, so a face dx away costs 0.55 x dx / 0.13.
    const Rect last = boxAt(0.5, 0.5, 0.2, 0.2);
    const auto at = [&](double cost, double scale = 1.0) {
        return face(boxAt(0.5 + cost / 0.55 * 0.13, 0.5, 0.2 * scale, 0.2 * scale));
    };

    FaceContinuity continuity = trackingAt(last);
    continuity.seatedSamples = {{last, 0}};
    const std::vector<FaceCandidate> close = {at(0.30), at(0.50)};
    EXPECT_EQ(continuity.select(close, 0.1), (FaceSelection{std::nullopt, FaceLossReason::ambiguous}));
    EXPECT_EQ(continuity.lastDecision, "ambiguous subjects");
    EXPECT_TRUE(continuity.seatedSamples.empty());
    EXPECT_TRUE(continuity.unresolvedAmbiguity);
    EXPECT_TRUE(continuity.needsReacquisition);
    EXPECT_EQ(continuity.selectedBox, last);

    // Nobody in view while the ambiguity is unresolved: still ambiguous.
    EXPECT_EQ(selectNone(continuity, 0.2), (FaceSelection{std::nullopt, FaceLossReason::ambiguous}));

    // 0.30 against 0.555 (0.45 of distance and 0.105 of size change) is clear enough.
    const double sizeCost = 0.105;
    const std::vector<FaceCandidate> apart = {at(0.45, std::exp(sizeCost / 0.36)), at(0.30)};
    EXPECT_EQ(continuity.select(apart, 0.3), (FaceSelection{1, FaceLossReason::unknown}));
    EXPECT_EQ(continuity.lastDecision, "matched subject");
    EXPECT_FALSE(continuity.unresolvedAmbiguity);
    EXPECT_FALSE(continuity.needsReacquisition);
}

TEST(FaceContinuity, aFaceSinkingOutOfTheBottomIsReportedAsABottomLossUntilItReturns)
{
    // Slides down (and a little right) over half a second until its box starts at 0.1.
    FaceContinuity continuity = trackingAt(boxAt(0.5, 0.6));
    for (int step = 1; step <= 5; ++step) {
        const FaceSelection s = selectOne(continuity, face(boxAt(0.5 + 0.036 * step, 0.6 - 0.075 * step)), 0.1 * step);
        ASSERT_EQ(s.index, 0u);
        EXPECT_EQ(s.loss, step == 5 ? FaceLossReason::bottom : FaceLossReason::unknown) << step;
    }
    ASSERT_NEAR(continuity.selectedBox->minY, 0.1, 1e-9);

    EXPECT_EQ(selectNone(continuity, 0.6), (FaceSelection{std::nullopt, FaceLossReason::bottom}));
    EXPECT_EQ(continuity.inferredLoss, FaceLossReason::bottom);
    EXPECT_EQ(selectNone(continuity, 3.0), (FaceSelection{std::nullopt, FaceLossReason::bottom}));

    // 0.4 anchor heights above the first position: neither the anchor nor the last box.
    const Rect anchor = *continuity.anchorBox;
    const FaceCandidate above = face(boxAt(anchor.midX() + 0.02, anchor.midY() + 0.4 * anchor.height));
    EXPECT_EQ(selectOne(continuity, above, 3.1), (FaceSelection{std::nullopt, FaceLossReason::bottom}));
    EXPECT_EQ(continuity.lastDecision, "position or scale mismatch");

    // Far below the first position and too far left of the last box to match in place:
    // it returns through the anchor.
    const FaceCandidate below = face(boxAt(anchor.midX() + 0.02, 0.3));
    EXPECT_EQ(selectOne(continuity, below, 3.2), (FaceSelection{0, FaceLossReason::unknown}));
    EXPECT_EQ(continuity.lastDecision, "matched subject");
    EXPECT_EQ(continuity.inferredLoss, FaceLossReason::unknown);
    EXPECT_EQ(continuity.anchorBox, anchor);
}

TEST(FaceContinuity, aFaceLeavingThroughASideIsReportedAsASideLoss)
{
    FaceContinuity continuity = trackingAt(boxAt(0.3, 0.5));
    EXPECT_EQ(selectOne(continuity, face(boxAt(0.2, 0.5)), 0.2).loss, FaceLossReason::unknown);
    // At the left edge and moving left: already a side loss while still tracked.
    EXPECT_EQ(selectOne(continuity, face(boxAt(0.15, 0.5)), 0.4), (FaceSelection{0, FaceLossReason::side}));
    FaceContinuity late = continuity;
    EXPECT_EQ(selectNone(continuity, 0.5), (FaceSelection{std::nullopt, FaceLossReason::side}));

    // More than a second after the last sighting nothing can be inferred.
    EXPECT_EQ(selectNone(late, 1.41), (FaceSelection{std::nullopt, FaceLossReason::unknown}));
}

TEST(FaceContinuity, remembersWhereTheSubjectSatStillInGreenAndLetsItReturnThere)
{
    const Rect seat = boxAt(0.5, 0.5);
    const auto sitting = [&](double dx) { return face(boxAt(0.5 + dx, 0.5), proportions, true); };

    // Two samples 0.6 s apart are not enough; the third settles it.
    FaceContinuity continuity;
    ASSERT_EQ(selectOne(continuity, sitting(0), 0.0).index, 0u);
    ASSERT_EQ(selectOne(continuity, sitting(0.01), 0.6).index, 0u);
    EXPECT_FALSE(continuity.seatedReturnBox);
    ASSERT_EQ(selectOne(continuity, sitting(0), 0.7).index, 0u);
    EXPECT_EQ(continuity.seatedReturnBox, seat);

    // A gap of more than 0.75 s starts the samples over.
    FaceContinuity gap;
    ASSERT_EQ(selectOne(gap, sitting(0), 0.0).index, 0u);
    ASSERT_EQ(selectOne(gap, sitting(0), 0.3).index, 0u);
    ASSERT_EQ(selectOne(gap, sitting(0), 1.1).index, 0u);
    EXPECT_FALSE(gap.seatedReturnBox);
    EXPECT_EQ(gap.seatedSamples.size(), 1u);

    // A face outside green is no sample.
    ASSERT_EQ(selectOne(gap, face(boxAt(0.5, 0.5)), 1.2).index, 0u);
    EXPECT_TRUE(gap.seatedSamples.empty());

    // Having moved away and been lost, the subject returns at the seat it last settled
    // on although that is too far from where it was last seen.
    FaceContinuity moved = continuity;
    const Rect away = boxAt(0.5 + 0.12, 0.5 + 0.2);
    ASSERT_EQ(selectOne(moved, face(away), 0.8).index, 0u);
    ASSERT_EQ(selectOne(moved, face(boxAt(0.5 + 0.24, 0.5 + 0.2)), 0.9).index, 0u);
    moved.anchorBox = boxAt(0.9, 0.9); // keep the first acquisition out of the way
    EXPECT_FALSE(selectNone(moved, 1.0).index);
    EXPECT_EQ(selectOne(moved, face(seat), 1.1), (FaceSelection{0, FaceLossReason::unknown}));
}

TEST(FaceContinuity, aChinCutByTheBottomEdgeOnlyBoundsTheEyeToChinHeight)
{
    // The subject sank until the bottom edge cut the chin: the eye-to-chin height it
    // shows is shorter than the learnt one, which says nothing about who it is.
    FaceContinuity continuity = trackingAt(boxAt(0.5, 0.2));
    const auto cut = [](std::vector<double> signature) {
        FaceCandidate candidate = face(boxAt(0.5, 0.18), std::move(signature));
        candidate.chinOnBottomEdge = true;
        return candidate;
    };
    EXPECT_EQ(selectOne(continuity, cut({0.4, 0.5}), 0.1).index, 0u);
    EXPECT_EQ(continuity.lastDecision, "matched subject");

    // The eye distance still tells another person apart, and so does a cut face whose
    // eye-to-chin height already exceeds the subject's.
    EXPECT_FALSE(selectOne(continuity, cut({0.4 * (1 - 0.23), 0.5}), 0.2).index);
    EXPECT_EQ(continuity.lastDecision, "landmark proportions mismatch");
    EXPECT_FALSE(selectOne(continuity, cut({0.4, 1.3}), 0.3).index);
    EXPECT_EQ(continuity.lastDecision, "landmark proportions mismatch");

    // The same shortened height with the chin in view is another face.
    EXPECT_FALSE(selectOne(continuity, face(boxAt(0.5, 0.18), {0.4, 0.5}), 0.4).index);

    // Cut at the mouth, the box reaches a third of its height below the picture: still
    // followed, but never taken as a new subject.
    FaceCandidate deep = cut({0.4, 0.3});
    deep.box = boxAt(0.5, 0.04);
    EXPECT_EQ(selectOne(continuity, deep, 0.6).index, 0u) << continuity.lastDecision;
    FaceContinuity fresh;
    EXPECT_FALSE(selectOne(fresh, deep, 0).index);
    EXPECT_EQ(fresh.lastDecision, "no complete initial face");
}

TEST(FaceContinuity, learnsTheProportionsOnlyFromAFaceWithItsChinInView)
{
    FaceContinuity continuity;
    FaceCandidate cut = face(boxAt(0.5, 0.6), {0.4, 0.5});
    cut.chinOnBottomEdge = true;
    ASSERT_EQ(selectOne(continuity, cut, 0).index, 0u);
    EXPECT_TRUE(continuity.signature.empty());
    // Without learnt proportions no lower face is ever taken back.
    FaceContinuity unlearnt = continuity;
    for (double t = 0.4; t < 5; t += 0.4)
        EXPECT_FALSE(selectOne(unlearnt, face(boxAt(0.5, 0.3)), t).index);

    ASSERT_EQ(selectOne(continuity, face(boxAt(0.5, 0.6)), 0.1).index, 0u);
    EXPECT_EQ(continuity.signature, proportions);
}

namespace {

// A subject seated at (0.5, 0.6) and lost at t = 0.2 when it dropped by 0.3 at once, too
// far for its last box (0.21 high) and for the place it was acquired (0.14).
FaceContinuity lostAfterAQuickDrop()
{
    FaceContinuity continuity = trackingAt(boxAt(0.5, 0.6));
    EXPECT_EQ(selectOne(continuity, face(boxAt(0.5, 0.6)), 0.1).index, 0u);
    EXPECT_FALSE(selectOne(continuity, face(boxAt(0.5, 0.3)), 0.2).index);
    return continuity;
}

} // namespace

TEST(FaceContinuity, theOneFaceThatStaysPutBelowALostSubjectIsTakenBackAfterTwoSeconds)
{
    // Seen first on the frame that lost it; talking and turning move the box a little.
    FaceContinuity continuity = lostAfterAQuickDrop();
    for (const double t : {0.6, 1.0, 1.4, 1.8, 2.19}) {
        const double jitter = t < 1.2 ? 0.04 : -0.04;
        EXPECT_EQ(selectOne(continuity, face(boxAt(0.5 + jitter, 0.3 + jitter / 2)), t),
                  (FaceSelection{std::nullopt, FaceLossReason::unknown}))
            << t;
        EXPECT_EQ(continuity.lastDecision, "settling lone face");
    }
    EXPECT_EQ(selectOne(continuity, face(boxAt(0.5, 0.3)), 2.2), (FaceSelection{0, FaceLossReason::unknown}));
    EXPECT_EQ(continuity.lastDecision, "settled lone face");
    EXPECT_EQ(continuity.selectedBox, boxAt(0.5, 0.3));
    EXPECT_FALSE(continuity.needsReacquisition);
    EXPECT_EQ(continuity.anchorBox, boxAt(0.5, 0.6)) << "the first seat is still where it may return";
    EXPECT_EQ(selectOne(continuity, face(boxAt(0.5, 0.3)), 2.5).index, 0u);
}

TEST(FaceContinuity, aSecondFaceAMoveOrALongAbsenceStartsTheWaitOver)
{
    const FaceCandidate slumped = face(boxAt(0.5, 0.3));
    // Offers the slumped face from `from` on: refused for two seconds, then taken back.
    const auto expectTakenBackTwoSecondsAfter = [&](FaceContinuity continuity, double from) {
        for (const double dt : {0.0, 0.5, 1.0, 1.5, 1.9})
            EXPECT_FALSE(selectOne(continuity, slumped, from + dt).index) << from + dt;
        EXPECT_EQ(selectOne(continuity, slumped, from + 2.1).index, 0u) << from + 2.1;
    };

    FaceContinuity seen = lostAfterAQuickDrop();
    ASSERT_FALSE(selectOne(seen, slumped, 0.4).index);

    // A visitor in view, even one whose landmarks are hidden, keeps the subject refused.
    FaceContinuity visited = seen;
    const std::vector<FaceCandidate> withVisitor = {slumped, face(boxAt(0.15, 0.6), {})};
    for (double t = 0.8; t < 4; t += 0.4)
        EXPECT_FALSE(visited.select(withVisitor, t).index) << t;
    expectTakenBackTwoSecondsAfter(visited, 4.0);

    // A missed frame or two is no reason to start over; 1.6 s without the face is.
    FaceContinuity missed = seen;
    EXPECT_FALSE(selectNone(missed, 1.0).index);
    EXPECT_FALSE(selectOne(missed, slumped, 1.8).index);
    EXPECT_EQ(selectOne(missed, slumped, 2.3).index, 0u);
    expectTakenBackTwoSecondsAfter(seen, 2.0);

    // Moving by more than half its box is walking, not sitting.
    FaceContinuity moving = lostAfterAQuickDrop();
    ASSERT_FALSE(selectOne(moving, face(boxAt(0.39, 0.3)), 0.4).index);
    expectTakenBackTwoSecondsAfter(moving, 0.8);
}

struct RefusedReturn {
    const char* name;
    FaceCandidate candidate;

    friend void PrintTo(const RefusedReturn& value, std::ostream* out)
    {
        *out << value.name;
    }
};

class FaceContinuityRefusedReturn : public ::testing::TestWithParam<RefusedReturn> {};

// Only a face where the subject could have sunk is taken back.
TEST_P(FaceContinuityRefusedReturn, isNeverTakenForTheLostSubject)
{
    FaceContinuity continuity = lostAfterAQuickDrop();
    for (double t = 0.4; t < 5; t += 0.4)
        EXPECT_FALSE(selectOne(continuity, GetParam().candidate, t).index) << t;
}

INSTANTIATE_TEST_SUITE_P(
    Faces, FaceContinuityRefusedReturn,
    ::testing::Values(RefusedReturn{"standingAboveTheSeat", face(boxAt(0.5, 0.9))},
                      RefusedReturn{"lowerButOffToTheSide", face(boxAt(0.8, 0.3))},
                      RefusedReturn{"lowerButFurtherBack", face(boxAt(0.5, 0.3, 0.12, 0.15))},
                      RefusedReturn{"otherProportions", face(boxAt(0.5, 0.3), signatureAtDistance(0.23))},
                      RefusedReturn{"withoutLandmarks", face(boxAt(0.5, 0.3), {})}),
    [](const auto& info) { return std::string(info.param.name); });
