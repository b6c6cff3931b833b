#include "analysis/SeatedGeometry.h"

#include <array>
#include <cmath>

namespace verticora {

namespace {

constexpr double minimumConfidence = 0.7;
constexpr double minimumBoxWidth = 0.05;
constexpr double minimumBoxHeight = 0.08;
constexpr double minimumEyeDistance = 0.025;

bool insideImage(Point p)
{
    return std::isfinite(p.x) && std::isfinite(p.y) && p.x >= 0 && p.x <= 1 && p.y >= 0 && p.y <= 1;
}

} // namespace

std::optional<PoseFeatures> SeatedGeometry::features(const Rect& face, Point leftEye, Point rightEye, Point nose,
                                                     std::optional<Point> chin, double confidence, double aspect)
{
    const std::array<Point, 4> points{leftEye, rightEye, nose, chin.value_or(Point{})};
    const std::size_t count = chin ? 4 : 3;

    if (!(confidence >= minimumConfidence) || !std::isfinite(aspect) || !(aspect > 0))
        return std::nullopt;
    if (!std::isfinite(face.width) || !std::isfinite(face.height) || !(face.width > minimumBoxWidth)
        || !(face.height > minimumBoxHeight))
        return std::nullopt;
    double sumY = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (!insideImage(points[i]))
            return std::nullopt;
        sumY += points[i].y;
    }

    const double eyeDistance = std::abs(leftEye.x - rightEye.x) * aspect;
    if (!(eyeDistance > minimumEyeDistance))
        return std::nullopt;

    const double eyeMidX = (leftEye.x + rightEye.x) / 2;
    const double eyeMidY = (leftEye.y + rightEye.y) / 2;
    const double norm = std::hypot(eyeDistance, leftEye.y - rightEye.y);

    PoseFeatures result;
    // Rise from the image-left eye to the image-right eye, whichever point is which.
    result.slope = leftEye.x < rightEye.x ? (rightEye.y - leftEye.y) / eyeDistance
                                          : (leftEye.y - rightEye.y) / eyeDistance;
    result.scale = face.width * aspect;
    result.centerX = face.midX() * aspect;
    result.centerY = 1 - sumY / static_cast<double>(count);
    result.headX = (nose.x - eyeMidX) * aspect / norm;
    result.headY = (eyeMidY - nose.y) / norm;
    if (chin)
        result.heightLandmarks = FaceHeightLandmarks{1 - eyeMidY, 1 - nose.y, 1 - chin->y};

    if (!result.valid())
        return std::nullopt;
    return result;
}

} // namespace verticora
