#pragma once

#include "platform/DlibFaceModel.h"

#include <array>
#include <filesystem>
#include <memory>

// dlib's own face models, as dlib loads and runs them. The build converts them into the
// file the application maps (convertFaceModels); the benchmark and the tests compare the
// application's detector with dlib's (DlibReferenceEngine, dlibLandmarks).
namespace verticora::facemodels {

inline constexpr const char* dlibShapePredictorPath = "/usr/share/dlib/shape_predictor_68_face_landmarks.dat";

// How the landmark trees' leaves are kept: as dlib's floats, or as 16-bit integers with a
// scale per leaf, half the size (platform/FaceModelFormat.h).
enum class LeafPrecision { exact, compact };

// Writes the face model file from dlib's built-in frontal face detector and the shape
// predictor at `shapePredictor`: first to `output` + ".part", then renamed, so a reader
// never sees half a file. Throws std::runtime_error with one sentence.
void convertFaceModels(const std::filesystem::path& shapePredictor, const std::filesystem::path& output,
                       LeafPrecision leafPrecision = LeafPrecision::compact);

// Face finding as the application did it before the prepared models: dlib's detector
// decoded from its built-in description, over the whole pyramid whatever level is asked
// for, and its shape predictor read from the 100-MB file, landmarks rounded to whole
// pixels.
class DlibReferenceEngine final : public detail::FaceEngine {
public:
    explicit DlibReferenceEngine(const std::filesystem::path& shapePredictor = dlibShapePredictorPath);
    ~DlibReferenceEngine() override;

    void detect(const detail::GreyView& image, int firstLevel, std::vector<detail::DetectedFace>& faces) override;
    void measure(const detail::GreyView& image, detail::DetectedFace& face) override;

private:
    struct Models;
    std::unique_ptr<Models> m_models;
};

// dlib's shape predictor run step by step on the face box (whole pixels, right and bottom
// inclusive), its result before dlib rounds it to whole pixels.
class DlibLandmarks {
public:
    explicit DlibLandmarks(const std::filesystem::path& shapePredictor = dlibShapePredictorPath);
    ~DlibLandmarks();

    [[nodiscard]] std::array<Point, detail::faceLandmarkCount> predict(const detail::GreyView& image, long left,
                                                                       long top, long right, long bottom) const;

private:
    struct Cascade;
    std::unique_ptr<Cascade> m_cascade;
};

} // namespace verticora::facemodels
