#pragma once

#include "analysis/FaceLandmarkRequest.h"
#include "analysis/FaceObservation.h"
#include "analysis/PixelBuffer.h"
#include "platform/BlazeFaceFinder.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace verticora {

namespace detail {
class FaceEngine;
struct DetectedFace;
} // namespace detail

// The face models could not be loaded, or the frame cannot be analysed.
class LandmarkDetectionError : public LandmarkRequestError {
    using LandmarkRequestError::LandmarkRequestError;
};

// Finds every face in a frame with its landmarks, as the seated pose detector reads
// them: one reusable object, one perform() call per full pass.
//
// Faces are found with dlib's HOG face detector and measured with its 68-point shape
// predictor, both read from the file the build prepares from dlib's models (read, not
// decoded; see DlibFaceModel). The frame is first resampled so that its longer side is
// `workingSide` pixels (1.75 times a 384-pixel analysis frame), which lets faces from
// about 32 pixels wide upwards be found in such a frame and keeps the cost the same for
// any frame size.
//
// The detector scans an image pyramid, finest level first. While the caller tracks a
// subject (setSearchHint), a pass skips the fine levels that can only hold faces smaller
// than `smallestFaceShare` of the subject: nobody that small can be taken for the subject
// or stand in front of it. Every `wholeRangeInterval` seconds, and whenever no subject is
// tracked, a pass scans the whole pyramid, so a newcomer of any size is still seen.
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
// Dark or flat frames are brightened before the detector and the landmark cascade see
// them: when the subject's face (or, with no subject, the whole frame) has dim highlights
// or little contrast, a tone curve stretches its grey levels from its darkest to its
// brightest percent and lifts its midtones, after a light smoothing where the stretch is
// steep enough to make sensor noise count. Well-lit frames are analysed as they are.
//
// findMissedFaces() looks again with a second face finder (BlazeFaceFinder) for faces
// HOG missed or could not measure: dark, rolled past its reach, or cut by the bottom
// edge. Each face it finds
// gets a box in HOG's convention (where HOG would have put it, fitted on faces both
// find) and the landmarks the cascade gives for that box; a face rolled by more than a
// few degrees is first turned upright, measured, and its landmarks turned back. A face
// whose landmark eyes do not lie near the finder's eyes is dropped.
//
// The models are loaded by the first perform(), or by prepare(), never by the
// constructor, so they are read on the thread that analyses frames; the second finder's
// module (with OpenCV) and model by the first findMissedFaces(). Not thread-safe.
class LandmarkDetector final : public FaceLandmarkRequest {
public:
    static constexpr int workingSide = 672;
    static constexpr double smallestFaceShare = 0.6;
    static constexpr double wholeRangeInterval = 3.0;

    // The face model file this build prepared.
    [[nodiscard]] static std::filesystem::path defaultModelPath();

    explicit LandmarkDetector(std::filesystem::path modelPath = defaultModelPath(),
                              std::filesystem::path finderModelPath = BlazeFaceFinder::defaultModelPath());
    // Uses the engine `load` makes (when the models are first needed) instead of the
    // model file; for comparing detectors. `load` throws detail::FaceModelError.
    explicit LandmarkDetector(std::function<std::unique_ptr<detail::FaceEngine>()> load);
    ~LandmarkDetector() override;
    LandmarkDetector(LandmarkDetector&&) noexcept;
    LandmarkDetector& operator=(LandmarkDetector&&) noexcept;

    // Every face in the frame, surest first. Frames may be BGRA, NV12 ('420v', '420f'),
    // I420 ('y420', 'f420'), UYVY or YUYV; only their luma is used. Throws
    // LandmarkDetectionError when the model is missing or unreadable; a model that failed
    // to load is not read again, so each later call fails at once with the same message.
    [[nodiscard]] std::vector<FaceObservation> perform(const PixelBufferView& frame) override;
    // Reads the model now rather than on the first perform.
    void prepare() override;
    void setSearchHint(const FaceSearchHint& hint) override;
    // The faces the second finder sees in the last perform's frame, measured like
    // perform's (a face perform reported may come again, with other landmarks). `frame`
    // must be that frame. Empty when the second finder's module cannot be loaded or its
    // model cannot be read (finderLoadFailure says why).
    [[nodiscard]] std::vector<FaceObservation> findMissedFaces(const PixelBufferView& frame) override;

    // On by default; off analyses every frame as it comes (for comparisons).
    void setNormalisesLight(bool on) { m_normalisesLight = on; }
    // Whether the last perform brightened its frame.
    [[nodiscard]] bool lastToned() const { return m_toned; }
    [[nodiscard]] std::optional<std::string> finderLoadFailure() const;

    [[nodiscard]] const std::filesystem::path& modelPath() const { return m_modelPath; }
    [[nodiscard]] bool modelLoaded() const { return m_engine != nullptr; }
    // The pyramid level the last perform started at: 0 when it scanned them all.
    [[nodiscard]] int lastFirstLevel() const { return m_lastFirstLevel; }

private:
    void loadModel();
    void readLuma(const PixelBufferView& frame);
    void resampleToWorkingSize();
    [[nodiscard]] int firstLevel();
    void normaliseLight();
    [[nodiscard]] std::optional<detail::DetectedFace> measureFound(const BlazeFace& found, double toWorking);
    void measureUpright(detail::DetectedFace& face, Point center, double roll);

    std::filesystem::path m_modelPath;
    std::function<std::unique_ptr<detail::FaceEngine>()> m_load;
    std::unique_ptr<detail::FaceEngine> m_engine;
    std::optional<std::string> m_loadFailure;
    std::optional<FaceSearchHint> m_hint;
    std::optional<double> m_lastWholeRange; // caller's time of the last whole-pyramid pass
    int m_lastFirstLevel = 0;
    // Reused between frames: the frame's luma, its resampled copy, the resampling taps
    // and the faces found.
    std::vector<std::uint8_t> m_luma;
    std::vector<std::uint8_t> m_halved;
    int m_lumaWidth = 0;
    int m_lumaHeight = 0;
    std::vector<std::uint8_t> m_working;
    int m_workingWidth = 0;
    int m_workingHeight = 0;
    struct Taps;
    std::unique_ptr<Taps> m_taps;
    std::vector<detail::DetectedFace> m_faces;
    bool m_normalisesLight = true;
    bool m_toned = false;
    std::array<std::uint8_t, 256> m_tone{};
    std::vector<std::uint8_t> m_smoothed;
    std::filesystem::path m_finderModelPath;
    std::unique_ptr<BlazeFaceFinder> m_finder;
    std::vector<std::uint8_t> m_upright; // a rolled face turned upright
};

} // namespace verticora
