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

// A grey image owned by someone else.
struct GreyView {
    const std::uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    std::size_t bytesPerRow = 0;
};

struct HogKernels;

// A failure to load the face models, with the reason in one sentence.
class FaceModelError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Finds faces with their 68 landmarks in a grey image.
class FaceEngine {
public:
    virtual ~FaceEngine() = default;
    // Every face whose detection score reaches 0, best first, into `faces` (cleared
    // first). The detector scans an image pyramid whose level l is the image shrunk l
    // times by 5/6; `firstLevel` skips the finer levels, and with them the faces smaller
    // than `levelFaceSide(firstLevel)` or so.
    virtual void detect(const GreyView& image, int firstLevel, std::vector<DetectedFace>& faces) = 0;
    // The 68 landmarks of the face whose box `face` holds (its edges, as detect gives
    // them), for a face another finder found.
    virtual void measure(const GreyView& image, DetectedFace& face) = 0;
};

// The side in pixels of the face box the detector reports for a face found on pyramid
// level `level` (the finest level finds faces of about 73 pixels, each coarser one 6/5
// times larger ones). A level also finds faces down to about 0.85 of its side.
[[nodiscard]] double levelFaceSide(int level);

// dlib's HOG frontal face detector and 68-point shape predictor, read from the file the
// build prepares from them (platform/FaceModelFormat.h). Loading reads the file as it is
// and checks it: some 20 ms of CPU, where dlib's own loading decodes for a second.
//
// The detector gives the faces, boxes and scores dlib's own gives (scores equal to the
// last few bits), and the landmarks dlib's cascade gives for those boxes: exactly from a
// file with dlib's leaves, nearly from one with the compact leaves the build prepares
// (FaceModelFormat.h); dlib rounds them to whole pixels, these are not rounded. Every
// buffer of a detection is kept for the next one, so a pass over frames of an unchanged
// size allocates nothing. Not thread-safe.
class DlibFaceModel final : public FaceEngine {
public:
    // Reads and checks the prepared model file; throws FaceModelError. The scan runs the
    // fastest kernels this processor has, or those given.
    explicit DlibFaceModel(const std::filesystem::path& modelPath);
    DlibFaceModel(const std::filesystem::path& modelPath, const HogKernels& kernels);
    ~DlibFaceModel() override;
    DlibFaceModel(const DlibFaceModel&) = delete;
    DlibFaceModel& operator=(const DlibFaceModel&) = delete;

    void detect(const GreyView& image, int firstLevel, std::vector<DetectedFace>& faces) override;
    void measure(const GreyView& image, DetectedFace& face) override;

private:
    struct Engine;
    std::unique_ptr<Engine> m_engine;
};

} // namespace verticora::detail
