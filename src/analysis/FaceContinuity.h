#pragma once

#include "analysis/Geometry.h"
#include "analysis/PoseFeatures.h"

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace verticora {

// The outcome of one subject selection: the chosen candidate, if any, and why the
// subject is missing or where it is heading.
struct FaceSelection {
    std::optional<std::size_t> index;
    FaceLossReason loss = FaceLossReason::unknown;

    friend bool operator==(const FaceSelection&, const FaceSelection&) = default;
};

// Decides, frame by frame, which of the faces in view is the person being tracked, so
// that somebody walking past never takes over the measurement. It acquires the most
// central, reasonably large complete face when it clearly beats the runner-up, follows
// it by position, size and face proportions, infers whether a lost subject left through
// the bottom or a side, and lets it return near where it first sat or last sat still.
// A subject that dropped too fast to follow, or sat down lower after a break, is taken
// back once it is the one face in view and has stayed put at or below its seat.
// A plain value: the detector tries a selection on a copy and keeps it only on success.
// Boxes are normalised image coordinates (origin lower-left); times are seconds.
struct FaceContinuity {
    struct TimedBox {
        Rect box;
        double at = 0;

        friend bool operator==(const TimedBox&, const TimedBox&) = default;
    };

    // A lone face watched while the subject is lost, until it has stayed put long enough.
    struct SettlingFace {
        Rect box;        // where it was first seen
        double since = 0;
        double seenAt = 0;
        int sightings = 0;

        friend bool operator==(const SettlingFace&, const SettlingFace&) = default;
    };

    std::optional<Rect> selectedBox;  // most recently accepted face
    std::string lastDecision = "initial";
    std::optional<Rect> anchorBox;      // first face accepted since fresh
    std::optional<Rect> seatedReturnBox; // latest place where the subject sat still in green
    std::vector<TimedBox> seatedSamples; // recent green, central boxes (at most 6 within 1.6 s)
    std::vector<double> signature;       // face proportions learnt at the first acceptance
    std::optional<double> signatureYaw;
    std::vector<TimedBox> recentBoxes;   // accepted boxes of the last second (at most 8)
    std::optional<double> selectedAt;
    std::optional<double> processedAt;
    FaceLossReason inferredLoss = FaceLossReason::unknown;
    bool unresolvedAmbiguity = false;
    bool needsReacquisition = false;
    std::optional<SettlingFace> settlingFace;

    // Picks the tracked face among `candidates` at time `t` and updates the record.
    [[nodiscard]] FaceSelection select(std::span<const FaceCandidate> candidates, double t);

    friend bool operator==(const FaceContinuity&, const FaceContinuity&) = default;

private:
    struct Match {
        std::size_t index = 0;
        double cost = 0;
    };

    FaceSelection acquire(std::span<const FaceCandidate> candidates, std::span<const std::size_t> usable, double t);
    std::optional<double> matchCost(const FaceCandidate& candidate);
    [[nodiscard]] std::optional<double> distanceFromSignature(const FaceCandidate& candidate) const;
    [[nodiscard]] bool couldBeSettledSubject(const FaceCandidate& candidate) const;
    std::optional<std::size_t> settledLoneFace(std::span<const FaceCandidate> candidates,
                                               std::span<const std::size_t> usable, double t);
    void accept(const FaceCandidate& candidate, double t);
    void noteSeatedSample(const FaceCandidate& candidate, double t);
    [[nodiscard]] FaceLossReason directionalLoss(double t) const;

    // Relative distance of signature `b` from the learnt `a`; with `bLowerBound` the
    // eye-to-chin height of `b` only counts where it already exceeds `a`'s.
    [[nodiscard]] static std::optional<double> signatureDistance(std::span<const double> a, std::span<const double> b,
                                                                 bool bLowerBound = false);
    [[nodiscard]] static std::optional<std::vector<double>> facingSignature(std::span<const double> signature,
                                                                           std::optional<double> yaw);
};

} // namespace verticora
