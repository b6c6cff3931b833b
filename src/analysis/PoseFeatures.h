#pragma once

#include "analysis/Geometry.h"

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace verticora {

// Eye, nose and chin heights of one face, top-down (0 at the top of the image), so a
// sinking face makes all three grow.
struct FaceHeightLandmarks {
    double eyesY = 0;
    double noseY = 0;
    double chinY = 0;

    // Finite, inside the image, and eyes above nose above chin.
    [[nodiscard]] bool valid() const;

    friend bool operator==(const FaceHeightLandmarks&, const FaceHeightLandmarks&) = default;
};

// The comfortable height: the averaged landmarks of the calibrated pose and the line
// one third of the way from nose to chin that the nose is measured against.
struct LandmarkHeightCalibration {
    FaceHeightLandmarks landmarks;
    double referenceLineY = 0;

    [[nodiscard]] static std::optional<LandmarkHeightCalibration> capture(
        const std::optional<FaceHeightLandmarks>& landmarks);

    // How far `current` has sunk below the comfortable height: 0 at or above it, 0.45
    // with the nose on the reference line, about 0.4 more per eye-to-nose distance
    // below. None for an invalid calibration or landmark triple.
    [[nodiscard]] std::optional<double> deviation(const FaceHeightLandmarks& current) const;

    [[nodiscard]] bool valid() const;

    friend bool operator==(const LandmarkHeightCalibration&, const LandmarkHeightCalibration&) = default;
};

inline constexpr std::size_t poseCoreSize = 6;
using PoseCoreVector = std::array<double, poseCoreSize>;

// One face measurement. The first six fields are the core vector, in this order.
struct PoseFeatures {
    double headX = 0;
    double headY = 0;
    double slope = 0;
    double scale = 0;
    double centerX = 0;
    double centerY = 0;
    std::optional<FaceHeightLandmarks> heightLandmarks;
    std::optional<LandmarkHeightCalibration> landmarkHeight;

    // The first six values become the core fields; extra values are ignored and a
    // shorter vector gives none.
    [[nodiscard]] static std::optional<PoseFeatures> fromCoreVector(std::span<const double> values);
    [[nodiscard]] PoseCoreVector coreVector() const;

    [[nodiscard]] bool valid() const;

    friend bool operator==(const PoseFeatures&, const PoseFeatures&) = default;
};

// The deviation of `current` from a calibrated `baseline`, before sensitivity and
// smoothing: by the landmark calibration when the baseline has one, else by the drop of
// the face centre in units of the calibrated face width (negative drops count as 0).
// NaN when it cannot be computed.
[[nodiscard]] double deviationFromBaseline(const PoseFeatures& baseline, const PoseFeatures& current);

enum class FaceLossReason {
    unknown,
    bottom,
    side,
    ambiguous,
    cameraStale,
};

[[nodiscard]] std::string_view faceLossReasonName(FaceLossReason reason);

// The outcome of analysing one frame for the tracked person.
struct SeatedDetection {
    std::optional<PoseFeatures> features;
    std::string guidance;
    std::vector<Point> points; // left eye, right eye, nose, chin; empty when unmeasured
    FaceLossReason loss = FaceLossReason::unknown;
};

// One face offered to subject selection.
struct FaceCandidate {
    Rect box;
    std::vector<double> signature; // empty, or [eye distance, eye-to-chin height] relative to the box
    std::optional<double> yaw;
    bool returnAnchorEligible = false;
    // The chin was read on the picture's bottom edge: the face may go on below it, so the
    // eye-to-chin height of the signature is only a lower bound.
    bool chinOnBottomEdge = false;
};

// Eye distance and eye-to-chin height relative to the box, from the four points in the
// order left eye, right eye, nose, chin; empty unless there are exactly four points and
// the ratios are finite. Both are measured along the face's own axes (the eye line and
// across it), so a rolled head has the proportions it has upright.
[[nodiscard]] std::vector<double> candidateSignature(const Rect& box, std::span<const Point> points);
// Whether the chin of the four points lies on the picture's bottom edge.
[[nodiscard]] bool chinOnBottomEdge(std::span<const Point> points);

} // namespace verticora
