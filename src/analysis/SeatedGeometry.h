#pragma once

#include "analysis/Geometry.h"
#include "analysis/PoseFeatures.h"

#include <optional>

namespace verticora {

struct SeatedGeometry {
    // Reduces one face to its measurement. Points and box are normalised image
    // coordinates; aspect is the camera frame's width / height. None for low confidence,
    // a degenerate box, points outside the image (the range is inclusive), eyes too
    // close together, or a result that is not valid.
    [[nodiscard]] static std::optional<PoseFeatures> features(const Rect& face, Point leftEye, Point rightEye,
                                                              Point nose, std::optional<Point> chin,
                                                              double confidence, double aspect);
};

} // namespace verticora
