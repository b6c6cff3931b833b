#include "ClipReplay.h"

#include "analysis/AnalysisCadence.h"
#include "analysis/AnalysisFrames.h"
#include "analysis/FaceLandmarkRequest.h"
#include "analysis/FaceMotionGate.h"
#include "analysis/SeatedPoseDetector.h"
#include "analysis/Statistics.h"
#include "model/ModelClock.h"
#include "platform/Y4mClip.h"

#include <algorithm>
#include <cmath>

namespace verticora {

namespace {

constexpr double monitoringInterval = AnalysisCadence::monitoringInterval;
constexpr double trackingRateSpacing = 0.25;

struct Analysed {
    double time = 0;
    bool features = false;
    ZoneState state = ZoneState::ready;
};

bool red(ZoneState state)
{
    return state == ZoneState::outside || state == ZoneState::alert;
}

// Red delay, alert and lost time of one move, from the analysed frames; a frame's state
// holds until the next analysed frame.
MoveFigures figuresOf(const PictureMove& move, const std::vector<Analysed>& frames, double clipEnd)
{
    MoveFigures figures{move, std::nullopt, std::nullopt, 0};
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const Analysed& frame = frames[i];
        const double next = i + 1 < frames.size() ? frames[i + 1].time : clipEnd;
        if (frame.time >= move.end || next <= move.start)
            continue;
        if (!frame.features)
            figures.lostSeconds += std::min(next, move.end) - std::max(frame.time, move.start);
        if (frame.time < move.start)
            continue;
        if (!figures.redAfter && red(frame.state))
            figures.redAfter = frame.time - move.start;
        if (figures.redAfter && !figures.alertAfterRed && frame.state == ZoneState::alert)
            figures.alertAfterRed = frame.time - move.start - *figures.redAfter;
    }
    return figures;
}

} // namespace

double ReplaySummary::redSeconds() const
{
    double total = 0;
    for (const ZoneState state : {ZoneState::outside, ZoneState::alert}) {
        if (const auto it = seconds.find(std::string(zoneStateName(state))); it != seconds.end())
            total += it->second;
    }
    return total;
}

double ReplaySummary::patchShare() const
{
    return monitoredFrames > 0 ? static_cast<double>(monitoredPatchPasses) / monitoredFrames : 0;
}

double ReplaySummary::cpuShare() const
{
    return monitoredSeconds > 0 ? monitoredCpuSeconds / monitoredSeconds : 0;
}

struct ClipReplay::Chain {
    SeatedPoseDetector detector;
    AnalysisFrames frames;
    FaceMotionGate gate;
    PostureEngine engine;

    explicit Chain(std::unique_ptr<FaceLandmarkRequest> landmarks) : detector(true, std::move(landmarks)) {}
};

ClipReplay::ClipReplay(std::unique_ptr<FaceLandmarkRequest> landmarks, ClipReplaySettings settings)
    : m_chain(std::make_unique<Chain>(std::move(landmarks))), m_settings(settings)
{
    m_chain->engine.setYellowThreshold(settings.yellow);
    m_chain->engine.setRedThreshold(settings.red);
    m_chain->engine.setDelay(settings.delay);
}

ClipReplay::~ClipReplay() = default;

ReplaySummary ClipReplay::run(const std::filesystem::path& clip, const std::function<void(const ReplayFrame&)>& analysed)
{
    Chain& chain = *m_chain;
    ReplaySummary summary;
    std::vector<double> fullMilliseconds;
    std::vector<double> patchMilliseconds;
    try {
        Y4mReader reader(clip);
        const double frameDuration = 1.0 / reader.frameRate().framesPerSecond();
        // A clip at three frames a second stands for a camera running at the tracking rate.
        const bool trackingRateCapture = std::abs(frameDuration - 1.0 / 3.0) <= 0.002;

        // The landmark model is read once, before the clip's time starts.
        {
            const PixelBuffer blank(reader.width(), reader.height(), reader.pixelFormat());
            const double loadStart = threadCpuSeconds();
            try {
                (void)chain.detector.detect(blank.view(), 1.0, -1.0, false);
            } catch (const LandmarkRequestError&) {
                // reported with every frame that needs it
            }
            chain.detector.reset();
            summary.modelLoadSeconds = threadCpuSeconds() - loadStart;
        }

        double analysisInterval = monitoringInterval;
        double lastInference = -1e9;
        std::optional<double> lastPresentation;
        bool calibrationStarted = false;
        std::optional<std::pair<double, ZoneState>> previous;
        std::optional<double> monitoredSince;
        std::vector<Analysed> history;

        while (std::optional<ClipFrame> frame = reader.next()) {
            ++summary.frames;
            const double t = frame->presentationTime;
            const std::optional<PixelBuffer> moved = movedPicture(frame->buffer.view(), m_settings.moves, t);
            const std::optional<PixelBuffer> altered =
                m_settings.alter ? m_settings.alter(moved ? moved->view() : frame->buffer.view(), t) : std::nullopt;
            const PixelBufferView image = altered ? altered->view() : moved ? moved->view() : frame->buffer.view();
            const bool trackingRateDelivery =
                trackingRateCapture && (!lastPresentation || t - *lastPresentation >= trackingRateSpacing);
            lastPresentation = t;

            if (!calibrationStarted && t >= m_settings.calibrateAt) {
                calibrationStarted = true;
                chain.detector.reset();
                chain.gate.clear();
                chain.engine.reset();
                chain.engine.setCalibrating(true);
                analysisInterval = AnalysisCadence::captureInterval;
            }

            const std::optional<double> due = AnalysisCadence::dueInterval(
                t - lastInference, analysisInterval, trackingRateDelivery, [&] { return chain.gate.interval(image); });
            if (!due)
                continue;
            lastInference = t;

            const double cpuStart = threadCpuSeconds();
            const std::optional<PixelBufferView> resized = chain.frames.resized(image);
            const double aspect = static_cast<double>(image.width()) / image.height();
            SeatedDetection detection;
            try {
                detection = chain.detector.detect(resized ? *resized : image, aspect, t,
                                                  analysisInterval >= AnalysisCadence::lightweightMinimumInterval);
            } catch (const std::exception& error) {
                detection = {std::nullopt, error.what(), {}, FaceLossReason::unknown};
            }
            if (detection.features && !trackingRateDelivery)
                chain.gate.remember(image, detection.points);
            else
                chain.gate.clear();
            const double cpuMilliseconds = (threadCpuSeconds() - cpuStart) * 1000.0;

            const bool wasCalibrating = chain.engine.calibrating();
            const bool monitored = !wasCalibrating && chain.engine.baseline().has_value();
            ZoneResult result = chain.engine.update(detection.features, t);
            if (!detection.features && detection.loss == FaceLossReason::bottom) {
                if (const std::optional<ZoneResult> held = chain.engine.holdBottomExit(t))
                    result = *held;
            }
            if (wasCalibrating && result.calibrated) {
                // Confirming the height hands the new reference to the detector at once.
                analysisInterval = monitoringInterval;
                chain.detector.setReference(chain.engine.baseline(), m_settings.yellow, m_settings.red);
            } else if (!wasCalibrating && chain.engine.baseline()) {
                analysisInterval = AnalysisCadence::monitoringSpacing(result.state == ZoneState::inside,
                                                                      result.score, m_settings.yellow);
                chain.detector.setReference(chain.engine.baseline(), m_settings.yellow, m_settings.red);
            }

            ReplayFrame out;
            out.time = t;
            out.path = chain.detector.lastPath();
            out.features = detection.features.has_value();
            out.state = result.state;
            out.score = result.score;
            out.loss = detection.loss;
            out.guidance = detection.guidance;
            out.fallback = chain.detector.lastFallback();
            out.decision = chain.detector.continuity().lastDecision;
            out.faces = chain.detector.lastFaceCount();
            out.cpuMilliseconds = cpuMilliseconds;

            ++summary.analysed;
            summary.cpuSeconds += cpuMilliseconds / 1000.0;
            (out.path == "patch" ? patchMilliseconds : fullMilliseconds).push_back(cpuMilliseconds);
            if (monitored) {
                if (!monitoredSince)
                    monitoredSince = t;
                ++summary.monitoredFrames;
                summary.monitoredPatchPasses += out.path == "patch" ? 1 : 0;
                summary.monitoredCpuSeconds += cpuMilliseconds / 1000.0;
            }
            if (out.path == "full") {
                ++summary.fallbacks[out.fallback];
                if (const std::optional<std::string>& seedFailure = chain.detector.lastSeedFailure())
                    ++summary.seedFailures[*seedFailure];
            }
            history.push_back({t, out.features, out.state});
            if (previous)
                summary.seconds[std::string(zoneStateName(previous->second))] += t - previous->first;
            previous = {t, result.state};
            if (analysed)
                analysed(out);
        }
        summary.clipSeconds = summary.frames * frameDuration;
        if (previous)
            summary.seconds[std::string(zoneStateName(previous->second))] += summary.clipSeconds - previous->first;
        if (monitoredSince)
            summary.monitoredSeconds = summary.clipSeconds - *monitoredSince;
        for (const PictureMove& move : m_settings.moves)
            summary.moves.push_back(figuresOf(move, history, summary.clipSeconds));
    } catch (const ClipError& error) {
        summary.error = error.what();
    }
    summary.fullPasses = static_cast<int>(fullMilliseconds.size());
    summary.patchPasses = static_cast<int>(patchMilliseconds.size());
    summary.fullMillisecondsMedian = median(fullMilliseconds).value_or(0);
    summary.patchMillisecondsMedian = median(patchMilliseconds).value_or(0);
    return summary;
}

} // namespace verticora
