#include "analysis/PoseFeatures.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace verticora {

namespace {

bool inUnitRange(double v)
{
    return std::isfinite(v) && v >= 0 && v <= 1;
}

constexpr double restingDeviation = 0.45;
// One unit in the last place below 0.4: 0.85 - 0.45 in double arithmetic, so that a
// ratio of exactly 1 lands on 0.85.
constexpr double deviationPerEyeNoseDistance = 0.39999999999999997;

} // namespace

bool FaceHeightLandmarks::valid() const
{
    return inUnitRange(eyesY) && inUnitRange(noseY) && inUnitRange(chinY) && noseY - eyesY > 0.003
        && noseY < chinY;
}

std::optional<LandmarkHeightCalibration> LandmarkHeightCalibration::capture(
    const std::optional<FaceHeightLandmarks>& landmarks)
{
    if (!landmarks || !landmarks->valid())
        return std::nullopt;
    LandmarkHeightCalibration calibration{*landmarks, landmarks->noseY + (landmarks->chinY - landmarks->noseY) / 3};
    if (!calibration.valid())
        return std::nullopt;
    return calibration;
}

bool LandmarkHeightCalibration::valid() const
{
    return landmarks.valid() && std::isfinite(referenceLineY) && referenceLineY <= 1
        && referenceLineY > landmarks.noseY;
}

std::optional<double> LandmarkHeightCalibration::deviation(const FaceHeightLandmarks& current) const
{
    if (!valid() || !current.valid())
        return std::nullopt;
    const double ratio = (current.noseY - referenceLineY) / (current.noseY - current.eyesY);
    double d = 0;
    if (ratio < 0) {
        const double base = (landmarks.noseY - referenceLineY) / (landmarks.noseY - landmarks.eyesY);
        d = std::max((ratio - base) / -base, 0.0) * restingDeviation;
    } else {
        d = ratio * deviationPerEyeNoseDistance + restingDeviation;
    }
    if (!std::isfinite(d))
        return std::nullopt;
    return std::max(d, 0.0);
}

std::optional<PoseFeatures> PoseFeatures::fromCoreVector(std::span<const double> values)
{
    if (values.size() < poseCoreSize)
        return std::nullopt;
    return PoseFeatures{values[0], values[1], values[2], values[3], values[4], values[5], std::nullopt, std::nullopt};
}

PoseCoreVector PoseFeatures::coreVector() const
{
    return {headX, headY, slope, scale, centerX, centerY};
}

bool PoseFeatures::valid() const
{
    const PoseCoreVector core = coreVector();
    if (!std::all_of(core.begin(), core.end(), [](double v) { return std::isfinite(v); }))
        return false;
    if (!(scale > 0.08))
        return false;
    if (heightLandmarks && !heightLandmarks->valid())
        return false;
    if (landmarkHeight && !landmarkHeight->valid())
        return false;
    return true;
}

double deviationFromBaseline(const PoseFeatures& baseline, const PoseFeatures& current)
{
    constexpr double notComputable = std::numeric_limits<double>::quiet_NaN();
    if (!baseline.landmarkHeight) {
        const double drop = (current.centerY - baseline.centerY) / (baseline.scale * 0.22);
        return std::isnan(drop) || drop < 0 ? 0 : drop;
    }
    if (!current.heightLandmarks)
        return notComputable;
    return baseline.landmarkHeight->deviation(*current.heightLandmarks).value_or(notComputable);
}

std::string_view faceLossReasonName(FaceLossReason reason)
{
    switch (reason) {
    case FaceLossReason::unknown:
        return "unknown";
    case FaceLossReason::bottom:
        return "bottom";
    case FaceLossReason::side:
        return "side";
    case FaceLossReason::ambiguous:
        return "ambiguous";
    case FaceLossReason::cameraStale:
        return "cameraStale";
    }
    return "unknown";
}

std::vector<double> candidateSignature(const Rect& box, std::span<const Point> points)
{
    if (points.size() != 4)
        return {};
    // In units of the box's sides (a face box is square in pixels), and along the face's
    // own axes, so that a rolled head keeps the proportions it has upright.
    const Point& leftEye = points[0];
    const Point& rightEye = points[1];
    const Point& chin = points[3];
    double acrossX = (rightEye.x - leftEye.x) / box.width;
    double acrossY = (rightEye.y - leftEye.y) / box.height;
    if (acrossX < 0) { // whichever eye is on the image's left
        acrossX = -acrossX;
        acrossY = -acrossY;
    }
    const double eyeDistance = std::hypot(acrossX, acrossY);
    const double chinX = ((leftEye.x + rightEye.x) / 2 - chin.x) / box.width;
    const double chinY = ((leftEye.y + rightEye.y) / 2 - chin.y) / box.height;
    const double eyeToChin = (acrossX * chinY - acrossY * chinX) / eyeDistance; // across the eye line
    if (!std::isfinite(eyeDistance) || !std::isfinite(eyeToChin))
        return {};
    return {eyeDistance, eyeToChin};
}

bool chinOnBottomEdge(std::span<const Point> points)
{
    return points.size() == 4 && points[3].y <= 0;
}

} // namespace verticora
