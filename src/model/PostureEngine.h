#pragma once

#include "analysis/PoseFeatures.h"

#include <optional>
#include <string_view>
#include <vector>

namespace verticora {

// What a measurement means. The engine never gives idle or error: the camera model adds
// them for a camera that is off or could not start.
enum class ZoneState {
    idle,
    error,
    paused,
    ready,
    lost,
    calibrating,
    inside,
    yellow,
    outside,
    alert,
};

// The lower-case name shown to users and written by tools ("inside", "alert", ...).
[[nodiscard]] std::string_view zoneStateName(ZoneState state);

struct ZoneResult {
    ZoneState state = ZoneState::ready;
    std::optional<double> score; // smoothed deviation after this update
    double progress = 0;         // calibration progress, 0 up to 0.99
    bool alert = false;
    bool calibrated = false;           // calibration finished on this update
    bool calibrationRestarted = false; // the calibration window was thrown away on this update
    double severity = 0;               // halo severity, 0 to 3
    double warningProgress = 0;        // share of the delay already spent in red

    friend bool operator==(const ZoneResult&, const ZoneResult&) = default;
};

// Learns the comfortable height, then classifies every later face measurement against
// it and decides when the red reminder is due. Times are seconds on one monotonic clock
// chosen by the caller; the engine only subtracts them. Not thread-safe.
class PostureEngine {
public:
    struct CalibrationSample {
        double time = 0;
        PoseFeatures features;
    };

    ZoneResult update(const std::optional<PoseFeatures>& features, double time);
    // Keeps a running red episode counting while the face has left through the bottom
    // edge; none (and nothing changed) when there is no such episode to keep.
    std::optional<ZoneResult> holdBottomExit(double time);
    void reset();
    // Installs a saved calibration; refuses (false, nothing changed) an invalid baseline,
    // threshold pair or delay.
    bool restoreValidated(const PoseFeatures& baseline, double yellow, double red, double delay);

    // Deviation to a severity from 0 (chosen height) over 1 (yellow) and 2 (red) to 3.
    [[nodiscard]] static double haloSeverity(double score, double yellow, double red);

    [[nodiscard]] double delay() const { return m_delay; }
    [[nodiscard]] double sensitivity() const { return m_sensitivity; }
    [[nodiscard]] double yellowThreshold() const { return m_yellowThreshold; }
    [[nodiscard]] double redThreshold() const { return m_redThreshold; }
    [[nodiscard]] const std::optional<PoseFeatures>& baseline() const { return m_baseline; }
    [[nodiscard]] bool calibrating() const { return m_calibrating; }
    [[nodiscard]] bool paused() const { return m_paused; }
    [[nodiscard]] bool alert() const { return m_alert; }
    [[nodiscard]] const std::vector<CalibrationSample>& samples() const { return m_samples; }
    [[nodiscard]] std::optional<double> lastTime() const { return m_lastTime; }
    [[nodiscard]] std::optional<double> score() const { return m_score; }
    [[nodiscard]] std::optional<double> outSince() const { return m_outSince; }

    // Written directly by the owner.
    void setDelay(double delay) { m_delay = delay; }
    void setYellowThreshold(double yellow) { m_yellowThreshold = yellow; }
    void setRedThreshold(double red) { m_redThreshold = red; }
    void setCalibrating(bool calibrating) { m_calibrating = calibrating; }
    void setPaused(bool paused) { m_paused = paused; }
    // Forgets the running red episode and the smoothing, as the owner does when the
    // thresholds change.
    void clearRedEpisode();
    // Also forgets the time of the last update, so the next frame starts a fresh
    // interval (after a pause or a confirmed setup).
    void clearTiming();

private:
    ZoneResult calibrationStep(const PoseFeatures& features, double time);
    ZoneResult lost();
    [[nodiscard]] ZoneResult classification(double time) const;
    [[nodiscard]] ZoneResult alertResult() const;

    double m_delay = 2.0;
    double m_sensitivity = 1.0;
    double m_yellowThreshold = 0.6;
    double m_redThreshold = 1.0;
    std::optional<PoseFeatures> m_baseline;
    bool m_calibrating = false;
    bool m_paused = false;
    bool m_alert = false;
    std::vector<CalibrationSample> m_samples;
    std::optional<double> m_lastTime;
    std::optional<double> m_score;
    std::optional<double> m_outSince;
};

} // namespace verticora
