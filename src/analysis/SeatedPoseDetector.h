#pragma once

#include "analysis/FaceObservation.h"
#include "analysis/PoseFeatures.h"

#include <string_view>

namespace verticora {

namespace guidance {
inline constexpr std::string_view landmarksHidden =
    "Keep your eyes, nose and chin visible to the camera. A little more light may help.";
inline constexpr std::string_view moveCloser = "Move a little closer and face the camera.";
inline constexpr std::string_view measuring =
    "Tracking measures how far your face drops below your comfortable height.";
} // namespace guidance

class SeatedPoseDetector {
public:
    // Reads the eyes, nose and chin of one observation and measures the face.
    [[nodiscard]] static SeatedDetection landmarks(const FaceObservation& observation, double aspect);
};

} // namespace verticora
