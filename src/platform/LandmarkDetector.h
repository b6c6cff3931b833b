#pragma once

#include "analysis/FaceLandmarkRequest.h"
#include "analysis/FaceObservation.h"
#include "analysis/PixelBuffer.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace verticora {

namespace detail {
class DlibFaceModel;
}

// The landmark model could not be loaded, or the frame cannot be analysed.
class LandmarkDetectionError : public LandmarkRequestError {
    using LandmarkRequestError::LandmarkRequestError;
};

// Finds every face in a frame with its landmarks, as the seated pose detector reads
// them: one reusable object, one perform() call per full pass.
//
// Faces are found with dlib's HOG face detector and measured with its 68-point shape
// predictor. The frame is first resampled so that its longer side is `workingSide`
// pixels (1.75 times a 384-pixel analysis frame), which lets faces from about 32 pixels
// wide upwards be found in such a frame and keeps the cost the same for any frame size.
//
// Each observation carries:
// - `boundingBox`: the detector's box in normalised image coordinates (origin
//   lower-left); it may reach past the image edge for a face cut by it.
// - `confidence`: 1 / (1 + 3/7 · e^(−2·score)) of the detector's score, which increases
//   with the score and is 0.7 at the detector's own threshold (score 0); faces below
//   that threshold are not reported. Scores of clear faces lie between 0.5 and 2.5
//   (confidence 0.86 to 0.997).
// - `yaw`: the head's turn in radians, positive when the face turns towards the image's
//   right side, from a scaled-orthographic fit of a generic head to the eye corners,
//   nose tip, mouth corners and chin; none when the fit degenerates. Good to a few
//   tenths of a radian, enough to correct the apparent eye distance for a turn.
// - the regions faceContour (points 0-16), leftEye (36-41, the eye on the image's
//   left), rightEye (42-47), noseCrest (27-30) and nose (31-35), normalised to the box
//   with the origin at its lower-left corner.
//
// The model (about 100 MB, 1 s to read) is loaded by the first perform(), never by the
// constructor, so it is read on the thread that analyses frames. Not thread-safe.
class LandmarkDetector final : public FaceLandmarkRequest {
public:
    static constexpr const char* defaultModelPath = "/usr/share/dlib/shape_predictor_68_face_landmarks.dat";
    static constexpr int workingSide = 672;

    explicit LandmarkDetector(std::filesystem::path modelPath = defaultModelPath);
    ~LandmarkDetector();
    LandmarkDetector(LandmarkDetector&&) noexcept;
    LandmarkDetector& operator=(LandmarkDetector&&) noexcept;

    // Every face in the frame, surest first. Frames may be BGRA, NV12 ('420v', '420f'),
    // UYVY or YUYV; only their luma is used. Throws LandmarkDetectionError when the model
    // is missing or unreadable; a model that failed to load is not read again, so each
    // later call fails at once with the same message.
    [[nodiscard]] std::vector<FaceObservation> perform(const PixelBufferView& frame) override;
    // Reads the model now rather than on the first perform.
    void prepare() override;

    [[nodiscard]] const std::filesystem::path& modelPath() const { return m_modelPath; }
    [[nodiscard]] bool modelLoaded() const { return m_model != nullptr; }

private:
    void loadModel();
    void readLuma(const PixelBufferView& frame);
    void resampleToWorkingSize();

    std::filesystem::path m_modelPath;
    std::unique_ptr<detail::DlibFaceModel> m_model;
    std::optional<std::string> m_loadFailure;
    // Reused between frames: the frame's luma and its resampled copy.
    std::vector<std::uint8_t> m_luma;
    int m_lumaWidth = 0;
    int m_lumaHeight = 0;
    std::vector<std::uint8_t> m_working;
    int m_workingWidth = 0;
    int m_workingHeight = 0;
};

} // namespace verticora
