#include "model/PostureEngine.h"

#include "analysis/PostureBand.h"
#include "analysis/ThresholdRules.h"

#include <algorithm>
#include <cmath>

namespace verticora {

namespace {

constexpr double maximumFrameGap = 0.65;   // longer gaps (or a clock running backwards) restart the smoothing
constexpr double smoothingTimeConstant = 0.2;
constexpr double calibrationSeconds = 3.0;
constexpr std::size_t calibrationMinimumSamples = 20;
constexpr double calibrationMaximumProgress = 0.99;
constexpr double calibrationTolerancePerScale = 0.025;

ZoneResult stateOnly(ZoneState state)
{
    ZoneResult result;
    result.state = state;
    return result;
}

ZoneState zoneState(PostureBand band)
{
    switch (band) {
    case PostureBand::green:
        return ZoneState::inside;
    case PostureBand::yellow:
        return ZoneState::yellow;
    case PostureBand::red:
        break;
    }
    return ZoneState::outside;
}

ZoneResult calibratingResult(double progress, bool restarted)
{
    ZoneResult result = stateOnly(ZoneState::calibrating);
    result.progress = progress;
    result.calibrationRestarted = restarted;
    return result;
}

struct Spread {
    double mean = 0;
    double deviation = 0; // population standard deviation
};

template <typename Value>
Spread spreadOf(const std::vector<PostureEngine::CalibrationSample>& samples, Value value)
{
    const auto n = static_cast<double>(samples.size());
    double sum = 0;
    for (const auto& sample : samples)
        sum += value(sample.features);
    const double mean = sum / n;
    double squares = 0;
    for (const auto& sample : samples) {
        const double d = value(sample.features) - mean;
        squares += d * d;
    }
    return {mean, std::sqrt(squares / n)};
}

} // namespace

std::string_view zoneStateName(ZoneState state)
{
    switch (state) {
    case ZoneState::idle:
        return "idle";
    case ZoneState::error:
        return "error";
    case ZoneState::paused:
        return "paused";
    case ZoneState::ready:
        return "ready";
    case ZoneState::lost:
        return "lost";
    case ZoneState::calibrating:
        return "calibrating";
    case ZoneState::inside:
        return "inside";
    case ZoneState::yellow:
        return "yellow";
    case ZoneState::outside:
        return "outside";
    case ZoneState::alert:
        return "alert";
    }
    return "lost";
}

ZoneResult PostureEngine::update(const std::optional<PoseFeatures>& features, double time)
{
    if (m_paused)
        return stateOnly(ZoneState::paused);
    if (!std::isfinite(time))
        return lost();

    double dt = 0;
    if (m_lastTime) {
        dt = time - *m_lastTime;
        if (dt > maximumFrameGap || dt < 0) {
            clearRedEpisode();
            m_samples.clear();
        }
    }
    m_lastTime = time;

    if (!features || !features->valid())
        return lost();
    if (m_calibrating)
        return calibrationStep(*features, time);
    if (!m_baseline)
        return stateOnly(ZoneState::ready);

    const double raw = deviationFromBaseline(*m_baseline, *features) * m_sensitivity;
    if (!std::isfinite(raw)) {
        clearRedEpisode();
        return stateOnly(ZoneState::lost);
    }

    // Rises are smoothed, drops are taken at once.
    const double alpha = dt > 0 && dt <= maximumFrameGap ? 1 - std::exp(-dt / smoothingTimeConstant) : 1.0;
    m_score = m_score && raw >= *m_score ? *m_score + alpha * (raw - *m_score) : raw;

    if (raw < m_redThreshold) {
        m_outSince.reset();
        if (m_alert) {
            m_alert = false;
            m_score = raw;
        }
    } else if (m_alert) {
        return alertResult();
    } else if (*m_score >= m_redThreshold) {
        if (!m_outSince)
            m_outSince = time;
        if (time - *m_outSince >= m_delay) {
            m_alert = true;
            return alertResult();
        }
    } else {
        m_outSince.reset();
    }
    return classification(time);
}

ZoneResult PostureEngine::calibrationStep(const PoseFeatures& features, double time)
{
    m_samples.push_back({time, features});

    const Spread scale = spreadOf(m_samples, [](const PoseFeatures& f) { return f.scale; });
    const Spread centerY = spreadOf(m_samples, [](const PoseFeatures& f) { return f.centerY; });
    const double tolerance = calibrationTolerancePerScale * scale.mean;
    const auto withLandmarks = static_cast<std::size_t>(std::count_if(
        m_samples.begin(), m_samples.end(), [](const CalibrationSample& s) { return s.features.heightLandmarks.has_value(); }));
    const bool allLandmarks = withLandmarks == m_samples.size();

    bool unstable = scale.deviation > tolerance || centerY.deviation > tolerance
        || (withLandmarks > 0 && !allLandmarks);
    Spread eyes, nose, chin;
    if (!unstable && allLandmarks) {
        eyes = spreadOf(m_samples, [](const PoseFeatures& f) { return f.heightLandmarks->eyesY; });
        nose = spreadOf(m_samples, [](const PoseFeatures& f) { return f.heightLandmarks->noseY; });
        chin = spreadOf(m_samples, [](const PoseFeatures& f) { return f.heightLandmarks->chinY; });
        unstable = eyes.deviation > tolerance || nose.deviation > tolerance || chin.deviation > tolerance;
    }
    if (unstable) {
        m_samples.erase(m_samples.begin(), m_samples.end() - 1);
        return calibratingResult(0, true);
    }

    const double elapsed = time - m_samples.front().time;
    if (elapsed < calibrationSeconds || m_samples.size() < calibrationMinimumSamples)
        return calibratingResult(std::min(elapsed / calibrationSeconds, calibrationMaximumProgress), false);

    PoseCoreVector means{};
    for (const auto& sample : m_samples) {
        const PoseCoreVector core = sample.features.coreVector();
        for (std::size_t i = 0; i < poseCoreSize; ++i)
            means[i] += core[i];
    }
    for (double& mean : means)
        mean /= static_cast<double>(m_samples.size());
    PoseFeatures baseline = *PoseFeatures::fromCoreVector(means);

    if (allLandmarks) {
        baseline.landmarkHeight = LandmarkHeightCalibration::capture(FaceHeightLandmarks{eyes.mean, nose.mean, chin.mean});
        if (!baseline.landmarkHeight) {
            m_samples.clear();
            return calibratingResult(0, true);
        }
    }

    m_baseline = baseline;
    m_calibrating = false;
    m_samples.clear();
    m_score = 0.0;
    ZoneResult result = stateOnly(ZoneState::inside);
    result.score = 0.0;
    result.calibrated = true;
    return result;
}

ZoneResult PostureEngine::lost()
{
    clearRedEpisode();
    m_samples.clear();
    return stateOnly(ZoneState::lost);
}

ZoneResult PostureEngine::classification(double time) const
{
    const double score = *m_score;
    ZoneResult result;
    result.state = zoneState(bandOf(score, m_yellowThreshold, m_redThreshold));
    result.score = score;
    result.severity = haloSeverity(score, m_yellowThreshold, m_redThreshold);
    if (m_outSince)
        result.warningProgress = std::clamp((time - *m_outSince) / std::max(m_delay, 0.01), 0.0, 1.0);
    return result;
}

ZoneResult PostureEngine::alertResult() const
{
    ZoneResult result;
    result.state = ZoneState::alert;
    result.score = m_score;
    result.alert = true;
    result.severity = haloSeverity(m_score.value_or(0), m_yellowThreshold, m_redThreshold);
    result.warningProgress = 1;
    return result;
}

std::optional<ZoneResult> PostureEngine::holdBottomExit(double time)
{
    if (m_paused || !m_baseline || !std::isfinite(time) || !m_lastTime || *m_lastTime > time
        || time - *m_lastTime > maximumFrameGap || !m_score || *m_score < m_redThreshold || !m_outSince)
        return std::nullopt;

    m_lastTime = time;
    const double elapsed = time - *m_outSince;
    if (elapsed >= m_delay)
        m_alert = true;
    if (m_alert)
        return alertResult();

    ZoneResult result;
    result.state = ZoneState::outside;
    result.score = m_score;
    result.severity = haloSeverity(*m_score, m_yellowThreshold, m_redThreshold);
    result.warningProgress = std::clamp(elapsed / std::max(m_delay, 0.01), 0.0, 1.0);
    return result;
}

void PostureEngine::reset()
{
    m_baseline.reset();
    m_calibrating = false;
    m_paused = false;
    m_samples.clear();
    m_lastTime.reset();
    clearRedEpisode();
}

void PostureEngine::clearRedEpisode()
{
    m_outSince.reset();
    m_alert = false;
    m_score.reset();
}

void PostureEngine::clearTiming()
{
    m_lastTime.reset();
    clearRedEpisode();
}

bool PostureEngine::restoreValidated(const PoseFeatures& baseline, double yellow, double red, double delay)
{
    if (!baseline.valid() || !isValidThresholdPair(yellow, red) || !isValidDelay(delay))
        return false;
    reset();
    m_baseline = baseline;
    m_yellowThreshold = yellow;
    m_redThreshold = red;
    m_delay = delay;
    m_sensitivity = 1.0;
    return true;
}

double PostureEngine::haloSeverity(double score, double yellow, double red)
{
    if (!std::isfinite(score) || !isValidThresholdPair(yellow, red))
        return 0;
    const double s = std::max(score, 0.0);
    if (s <= yellow)
        return s / yellow;
    return std::min(1 + (s - yellow) / (red - yellow), 3.0);
}

} // namespace verticora
