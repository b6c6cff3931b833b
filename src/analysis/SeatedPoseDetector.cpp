#include "analysis/SeatedPoseDetector.h"

#include "analysis/SeatedGeometry.h"

#include <optional>

namespace verticora {

namespace {

Point toImage(const Rect& box, Point p)
{
    return {box.minX + p.x * box.width, box.minY + p.y * box.height};
}

// The lowest contour point stands in for the chin; the first wins a tie.
std::optional<Point> lowestContourPoint(const FaceObservation& observation)
{
    const auto& contour = observation.faceContour;
    if (!contour || contour->pointCount < 1 || contour->normalizedPoints.empty())
        return std::nullopt;
    const Point* lowest = &contour->normalizedPoints.front();
    for (const Point& p : contour->normalizedPoints) {
        if (p.y < lowest->y)
            lowest = &p;
    }
    return toImage(observation.boundingBox, *lowest);
}

// An empty point list is treated like a missing region rather than dividing by zero.
std::optional<Point> center(const Rect& box, const std::optional<LandmarkRegion>& region)
{
    if (!region || region->pointCount <= 0 || region->normalizedPoints.empty())
        return std::nullopt;
    double sumX = 0;
    double sumY = 0;
    for (const Point& p : region->normalizedPoints) {
        sumX += p.x;
        sumY += p.y;
    }
    const auto n = static_cast<double>(region->normalizedPoints.size());
    return toImage(box, {sumX / n, sumY / n});
}

} // namespace

SeatedDetection SeatedPoseDetector::landmarks(const FaceObservation& observation, double aspect)
{
    const Rect& box = observation.boundingBox;
    const std::optional<Point> chin = lowestContourPoint(observation);
    const std::optional<Point> leftEye = center(box, observation.leftEye);
    const std::optional<Point> rightEye = center(box, observation.rightEye);
    const std::optional<Point> nose = center(box, observation.noseCrest ? observation.noseCrest : observation.nose);

    if (!chin || !leftEye || !rightEye || !nose)
        return {std::nullopt, std::string(guidance::landmarksHidden), {}, FaceLossReason::unknown};

    auto features = SeatedGeometry::features(box, *leftEye, *rightEye, *nose, chin,
                                             static_cast<double>(observation.confidence), aspect);
    if (!features)
        return {std::nullopt, std::string(guidance::moveCloser), {}, FaceLossReason::unknown};
    return {std::move(features), std::string(guidance::measuring), {*leftEye, *rightEye, *nose, *chin},
            FaceLossReason::unknown};
}

} // namespace verticora
