#pragma once

#include "PictureMove.h"

#include "analysis/PoseFeatures.h"
#include "model/PostureEngine.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace verticora {

class FaceLandmarkRequest;

struct ClipReplaySettings {
    double calibrateAt = 0; // clip seconds at which the height capture begins
    double yellow = 0.45;
    double red = 0.85;
    double delay = 2.0;
    std::vector<PictureMove> moves; // applied to the clip's frames before analysis
    // Changes each frame after the moves (its darkness, tilt or cut, say): the frame at
    // clip time t, or none to leave it as it is.
    std::function<std::optional<PixelBuffer>(const PixelBufferView& frame, double t)> alter;
};

// One analysed frame of a replay.
struct ReplayFrame {
    double time = 0;
    std::string path; // "full" or "patch"
    bool features = false;
    ZoneState state = ZoneState::ready;
    std::optional<double> score;
    FaceLossReason loss = FaceLossReason::unknown;
    std::string guidance;
    std::string fallback;
    std::string decision; // the subject selection's last decision
    int faces = 0;
    double cpuMilliseconds = 0;
};

// What one picture move did to the measurement.
struct MoveFigures {
    PictureMove move;
    std::optional<double> redAfter;      // seconds from the move's start to the first red frame in it
    std::optional<double> alertAfterRed; // seconds from that red frame to the first alert in the move
    double lostSeconds = 0;              // seconds of the move without a measured face
};

struct ReplaySummary {
    int frames = 0;
    int analysed = 0;
    int fullPasses = 0;
    int patchPasses = 0;
    double fullMillisecondsMedian = 0;
    double patchMillisecondsMedian = 0;
    double cpuSeconds = 0;       // analysis of the clip's frames
    double modelLoadSeconds = 0; // the landmark model, read once before the clip
    double clipSeconds = 0;
    std::map<std::string, double> seconds; // clip seconds per engine state
    std::map<std::string, int> fallbacks;  // why full passes ran, counted over the whole clip
    std::map<std::string, int> seedFailures; // why full passes left no templates to follow
    // From the first monitored frame on (the height capture runs full passes only).
    int monitoredFrames = 0;
    int monitoredPatchPasses = 0;
    double monitoredCpuSeconds = 0;
    double monitoredSeconds = 0;
    std::vector<MoveFigures> moves;

    [[nodiscard]] double redSeconds() const; // "outside" and "alert"
    [[nodiscard]] double patchShare() const; // of the monitored frames
    [[nodiscard]] double cpuShare() const;   // analysis CPU while monitoring, in cores
    std::optional<std::string> error;      // the clip is damaged
};

// Runs the real analysis chain over a clip as fast as it can, in clip time: the analysis
// cadence with the motion gate, resizing, detection and subject selection, then the
// posture engine, which captures the height from `calibrateAt` on and then monitors.
class ClipReplay {
public:
    ClipReplay(std::unique_ptr<FaceLandmarkRequest> landmarks, ClipReplaySettings settings);
    ~ClipReplay();

    // Calls `analysed` for every analysed frame. A damaged clip ends the replay at the
    // damaged frame; its error is in the summary.
    ReplaySummary run(const std::filesystem::path& clip, const std::function<void(const ReplayFrame&)>& analysed);

private:
    struct Chain;
    std::unique_ptr<Chain> m_chain;
    ClipReplaySettings m_settings;
};

} // namespace verticora
