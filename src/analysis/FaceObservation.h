#pragma once

#include "analysis/Geometry.h"

#include <optional>
#include <vector>

namespace verticora {

// One landmark region of a detected face: points normalised to the face box, origin at
// the box's lower-left corner.
struct LandmarkRegion {
    int pointCount = 0;
    std::vector<Point> normalizedPoints;
};

// One face as the landmark detector reports it.
struct FaceObservation {
    Rect boundingBox;        // normalised image coordinates, origin lower-left
    float confidence = 0;    // single precision, as the detector delivers it
    std::optional<double> yaw; // radians, when the detector estimates it
    std::optional<LandmarkRegion> faceContour;
    std::optional<LandmarkRegion> leftEye; // image-left
    std::optional<LandmarkRegion> rightEye;
    std::optional<LandmarkRegion> noseCrest;
    std::optional<LandmarkRegion> nose;
};

} // namespace verticora
