#pragma once

#include "store/SettingsEnums.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace verticora {

inline constexpr int defaultTrackerRadius = 7;

// The patch radius a lease may ask for: 7, 10 or 12; anything else gives the default.
[[nodiscard]] constexpr int honouredTrackerRadius(long long radius)
{
    return radius == 7 || radius == 10 || radius == 12 ? static_cast<int>(radius) : defaultTrackerRadius;
}

// What a diagnostic lease may impose on the tracker and the visuals. Read on both
// threads; implementations guard their own state. Without a lease: lightweight passes
// allowed, patch radius 7, every visual shown.
class TrackingLease {
public:
    virtual ~TrackingLease() = default;
    [[nodiscard]] virtual bool forcesFullTracker(double wallTime, double uptime) const = 0;
    [[nodiscard]] virtual int trackerRadius(double wallTime, double uptime) const = 0;
    [[nodiscard]] virtual DiagnosticVisualMode mode(double wallTime, double uptime) const = 0;
};

class NoTrackingLease final : public TrackingLease {
public:
    [[nodiscard]] bool forcesFullTracker(double, double) const override { return false; }
    [[nodiscard]] int trackerRadius(double, double) const override { return defaultTrackerRadius; }
    [[nodiscard]] DiagnosticVisualMode mode(double, double) const override { return DiagnosticVisualMode::full; }
};

// What the tracker did with one analysed frame: filled on the capture thread, completed
// on the main thread, and handed to the lease's samples and to tools. The samples write
// it under the lower-case names of its fields ("tracker_full_passes").
struct FrameDiagnostics {
    std::int64_t frames = 0; // delivered since the model was made
    std::uint32_t format = 0;
    int width = 0;
    int height = 0;
    std::optional<bool> trackerAblationFull{}; // a lease forced full passes; absent when detection failed
    int trackerRadius = defaultTrackerRadius;
    std::string trackerPath{};
    int trackerFullPasses = 0;
    int trackerFaces = 0;
    std::string trackerDecision{};
    bool featuresValid = false;
    std::map<std::string, int> trackerSeedFailures{};
    int trackerPatchPasses = 0;
    std::map<std::string, int> trackerFallbacks{};
    std::optional<std::string> trackerSeedFailure{};
    bool trackingRateDelivery = false;
    double analysisInterval = 0; // the spacing that made the frame due
    double observationGap = 0;   // seconds since the previous analysed frame
    double resizeCpuSeconds = 0; // these three accumulate over the model's life
    double visionCpuSeconds = 0;
    double analysisCpuSeconds = 0;
    std::optional<double> motionDifference{}; // only when finite
    double motionVerticalShift = 0;
    bool previewAttached = false;

    // Main thread.
    bool reacquiring = false;
    double analysisAgeSeconds = 0;
    double pipelineMilliseconds = 0; // from the capture side to the main thread
};

} // namespace verticora
