#pragma once

#include "analysis/FaceContinuity.h"
#include "analysis/FaceObservation.h"
#include "analysis/LandmarkPatchTracker.h"
#include "analysis/PixelBuffer.h"
#include "analysis/PoseFeatures.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace verticora {

class FaceLandmarkRequest;

namespace guidance {
inline constexpr std::string_view landmarksHidden =
    "Keep your eyes, nose and chin visible to the camera. A little more light may help.";
inline constexpr std::string_view moveCloser = "Move a little closer and face the camera.";
inline constexpr std::string_view measuring =
    "Tracking measures how far your face drops below your comfortable height.";
inline constexpr std::string_view trackingHeight = "Tracking your height.";
inline constexpr std::string_view waitingForClearMatch =
    "Keep the person setting their height centered. Waiting for a clear match.";
inline constexpr std::string_view lookingForFace = "Looking for your face. Keep your eyes, nose and chin visible.";
} // namespace guidance

// Turns one analysis frame into the measurement of the one person being tracked. A full
// pass runs the landmark request and lets subject selection pick the person; between
// full passes, while monitoring, a patch pass follows the last landmarks by template
// matching and falls back to a full pass at the first doubt. Used on one thread.
class SeatedPoseDetector {
public:
    // The calibrated pose and the two zone boundaries that patch passes are checked against.
    struct Reference {
        PoseFeatures baseline;
        double yellow = 0;
        double red = 0;
    };

    SeatedPoseDetector(bool lightweight, std::unique_ptr<FaceLandmarkRequest> request);
    ~SeatedPoseDetector();
    SeatedPoseDetector(const SeatedPoseDetector&) = delete;
    SeatedPoseDetector& operator=(const SeatedPoseDetector&) = delete;

    // Throws the landmark request's error (LandmarkRequestError); the tracker has been
    // cleared and the fallback counted by then.
    [[nodiscard]] SeatedDetection detect(const PixelBufferView& frame, double aspect, double time,
                                         bool allowLightweight);
    void setReference(const std::optional<PoseFeatures>& baseline, double yellow, double red);
    void reset();
    // Lets the landmark request get ready (read its model) before the first frame.
    void prepare();
    // Installs a tracker of another patch radius; the verified band no longer holds.
    void replacePatchTracker(int radius);

    // Reads the eyes, nose and chin of one observation and measures the face.
    [[nodiscard]] static SeatedDetection landmarks(const FaceObservation& observation, double aspect);

    // Diagnostics.
    [[nodiscard]] int patchRadius() const { return m_patchRadius; }
    [[nodiscard]] const std::string& lastPath() const { return m_lastPath; }
    [[nodiscard]] int fullPasses() const { return m_fullPasses; }
    [[nodiscard]] int lastFaceCount() const { return m_lastFaceCount; }
    [[nodiscard]] const FaceContinuity& continuity() const { return m_continuity; }
    [[nodiscard]] const std::map<std::string, int>& seedFailureCounts() const { return m_seedFailureCounts; }
    [[nodiscard]] int patchPasses() const { return m_patchPasses; }
    [[nodiscard]] const std::map<std::string, int>& fallbackCounts() const { return m_fallbackCounts; }
    [[nodiscard]] const std::string& lastFallback() const { return m_lastFallback; }
    [[nodiscard]] const std::optional<std::string>& lastSeedFailure() const { return m_lastSeedFailure; }
    [[nodiscard]] std::optional<int> verifiedBand() const { return m_verifiedBand; }
    [[nodiscard]] const std::optional<Reference>& reference() const { return m_reference; }
    [[nodiscard]] std::optional<double> lastVerifiedYaw() const { return m_lastVerifiedYaw; }
    [[nodiscard]] bool lightweight() const { return m_lightweight; }

private:
    // The zone band (0 green, 1 yellow, 2 red) of features against the reference.
    [[nodiscard]] std::optional<int> band(const std::optional<PoseFeatures>& features) const;
    std::optional<SeatedDetection> patchPass(const PixelBufferView& frame, double aspect, double time,
                                             std::string& fallback);
    SeatedDetection fullPass(const PixelBufferView& frame, double aspect, double time, bool patchAllowed,
                             const std::string& fallback);
    SeatedDetection select(FaceContinuity& continuity, const std::vector<FaceObservation>& faces,
                           const std::vector<SeatedDetection>& detections, double time);

    std::unique_ptr<FaceLandmarkRequest> m_request;
    FaceContinuity m_continuity;
    std::optional<double> m_lastVerifiedYaw;
    LandmarkPatchTracker m_patches;
    int m_patchRadius = 7;
    bool m_lightweight;
    std::optional<Reference> m_reference;
    std::optional<int> m_verifiedBand;
    int m_fullPasses = 0;
    int m_lastFaceCount = 0;
    std::map<std::string, int> m_seedFailureCounts;
    int m_patchPasses = 0;
    std::string m_lastPath = "full";
    std::string m_lastFallback = "initial";
    std::optional<std::string> m_lastSeedFailure;
    std::map<std::string, int> m_fallbackCounts;
};

} // namespace verticora
