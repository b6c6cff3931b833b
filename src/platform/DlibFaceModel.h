#pragma once

#include "analysis/Geometry.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <vector>

namespace verticora::detail {

inline constexpr std::size_t faceLandmarkCount = 68;

// One face found in a grey image, in that image's pixels: x to the right, y down, pixel
// centres at whole numbers.
struct DetectedFace {
    double left = 0;   // outer edges of the face box
    double top = 0;
    double right = 0;
    double bottom = 0;
    double score = 0;  // the detector's margin: 0 at its threshold, higher is surer
    std::array<Point, faceLandmarkCount> points{};
};

// A failure to load the landmark model, with the reason in one sentence.
class FaceModelError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The dlib face detector and 68-point shape predictor behind LandmarkDetector. dlib's
// headers stay in DlibFaceModel.cpp, which is also built optimised in every build:
// unoptimised, its templates take seconds per frame.
class DlibFaceModel {
public:
    // Reads the shape predictor (about 100 MB); throws FaceModelError.
    explicit DlibFaceModel(const std::filesystem::path& shapeModelPath);
    ~DlibFaceModel();
    DlibFaceModel(const DlibFaceModel&) = delete;
    DlibFaceModel& operator=(const DlibFaceModel&) = delete;

    // Every face whose detection score reaches 0, best first.
    [[nodiscard]] std::vector<DetectedFace> detect(const std::uint8_t* grey, int width, int height,
                                                   std::size_t bytesPerRow);

private:
    struct Engine;
    std::unique_ptr<Engine> m_engine;
};

} // namespace verticora::detail
