#include "model/CaptureWorker.h"

#include "analysis/AnalysisCadence.h"
#include "analysis/AnalysisFrames.h"
#include "analysis/FaceLandmarkRequest.h"
#include "analysis/FaceMotionGate.h"
#include "analysis/SeatedPoseDetector.h"
#include "model/CameraRunToken.h"
#include "model/ModelClock.h"
#include "model/ModelTexts.h"

#include <QMetaObject>

#include <cmath>

namespace verticora {

namespace {

constexpr double monitoringInterval = AnalysisCadence::monitoringInterval;
constexpr double trackingRateSpacing = 0.25;
constexpr double monitoringRate = 3;
constexpr double heightCaptureRate = 9;
// Within 2 ms a frame of three frames a second, the camera itself keeps the cadence.
constexpr double trackingRateTolerance = 0.018;

} // namespace

bool FrameMailbox::offer(CapturedFrame frame)
{
    std::lock_guard lock(m_lock);
    const bool wasEmpty = !m_pending.has_value();
    m_pending = std::move(frame);
    return wasEmpty;
}

std::optional<CapturedFrame> FrameMailbox::take()
{
    std::lock_guard lock(m_lock);
    std::optional<CapturedFrame> frame = std::move(m_pending);
    m_pending.reset();
    return frame;
}

CaptureWorker::CaptureWorker(CaptureService& session, std::shared_ptr<CameraRunToken> runToken,
                             std::shared_ptr<const ModelClock> clock, std::shared_ptr<const TrackingLease> lease,
                             std::unique_ptr<FaceLandmarkRequest> landmarks, Callbacks callbacks)
    : m_tasks(new TaskQueue(this)), m_session(session), m_runToken(std::move(runToken)), m_clock(std::move(clock)), m_lease(std::move(lease)),
      m_callbacks(std::move(callbacks)),
      m_detector(std::make_unique<SeatedPoseDetector>(true, std::move(landmarks))),
      m_analysisFrames(std::make_unique<AnalysisFrames>()), m_motionGate(std::make_unique<FaceMotionGate>())
{
}

CaptureWorker::~CaptureWorker()
{
    m_session.setAvailabilityReceiver({});
}

void CaptureWorker::offerFrame(CapturedFrame frame)
{
    if (m_mailbox.offer(std::move(frame)))
        m_tasks->post([this] { processPendingFrame(); });
}

void CaptureWorker::processPendingFrame()
{
    if (std::optional<CapturedFrame> frame = m_mailbox.take())
        analyse(*frame);
}

void CaptureWorker::startSession(std::int64_t generation, const QString& deviceID)
{
    if (m_runToken->value() != generation) {
        m_callbacks.sessionStarted(generation, SessionOutcome::abandoned, false);
        return;
    }
    m_session.setAvailabilityReceiver([tasks = m_tasks, this](CameraAvailability availability, std::uint64_t output) {
        tasks->post([this, availability, output] { availabilityChanged(availability, output); });
    });
    const SessionOutcome outcome = open(generation, deviceID);
    if (outcome != SessionOutcome::configured) {
        m_callbacks.sessionStarted(generation, outcome, false);
        return;
    }
    if (m_runToken->value() != generation) {
        m_callbacks.sessionStarted(generation, SessionOutcome::abandoned, false);
        return;
    }
    const bool free = run();
    m_callbacks.sessionStarted(generation, free ? SessionOutcome::configured : SessionOutcome::busy,
                               m_session.isRunning());
}

SessionOutcome CaptureWorker::open(std::int64_t generation, const QString& deviceID)
{
    m_pendingDevice.reset();
    m_currentVideoOutput.reset();
    m_cameraLent = false;
    if (m_session.openSession(deviceID)) {
        if (!m_session.cameraBusy())
            return SessionOutcome::openFailed;
        m_pendingDevice = deviceID;
        m_pendingOutput = m_session.currentOutput();
        m_captureGeneration = generation;
        m_analysisPaused = true;
        m_cameraLent = true;
        return SessionOutcome::busy;
    }
    m_session.setFrameReceiver([this](CapturedFrame frame) { offerFrame(std::move(frame)); });

    m_currentVideoOutput = m_session.currentOutput();
    m_captureGeneration = generation;
    m_lastInference = 0;
    m_lastCapturePresentation.reset();
    m_analysisPaused = false;
    m_analysisInterval = monitoringInterval;

    // The landmark model is read now, while the user sees "Opening…", so the first frames
    // are analysed without a second's pause.
    m_detector->prepare();
    return SessionOutcome::configured;
}

bool CaptureWorker::run()
{
    m_lastInference = 0;
    m_session.startRunning();
    configureCaptureRate(false);
    m_cameraLent = !m_session.isRunning() && m_session.cameraBusy();
    return !m_cameraLent;
}

void CaptureWorker::stopSession()
{
    m_currentVideoOutput.reset();
    m_pendingDevice.reset();
    invalidateResizer();
    clearMotionGate();
    m_detector->reset();
    // A lent camera is not running, yet the service still waits for it to be free.
    if (m_session.isRunning() || m_cameraLent)
        m_session.stopRunning();
    m_cameraLent = false;
}

void CaptureWorker::setCapturePaused(std::int64_t generation, bool paused, bool halt)
{
    if (m_runToken->value() != generation)
        return;
    m_analysisPaused = paused;
    m_analysisInterval = monitoringInterval;
    if (!paused) {
        resumeCapture(generation);
        return;
    }
    if (!m_currentVideoOutput)
        return;
    if (halt) {
        m_session.stopRunning();
        m_cameraLent = false;
    }
    invalidateResizer();
}

void CaptureWorker::resumeCapture(std::int64_t generation)
{
    if (!m_currentVideoOutput && m_pendingDevice) {
        // Busy when the camera was turned on: this is its first real opening.
        const QString device = *m_pendingDevice;
        const SessionOutcome outcome = open(generation, device);
        if (outcome == SessionOutcome::busy)
            reportLent(generation);
        else if (outcome == SessionOutcome::openFailed)
            m_callbacks.sessionStarted(generation, SessionOutcome::openFailed, false);
        else if (!run())
            reportLent(generation);
        return;
    }
    if (!m_currentVideoOutput || m_session.isRunning())
        return;
    if (!run())
        reportLent(generation);
}

void CaptureWorker::availabilityChanged(CameraAvailability availability, std::uint64_t output)
{
    const bool ours = (m_currentVideoOutput && *m_currentVideoOutput == output)
        || (m_pendingDevice && m_pendingOutput == output);
    if (!ours || m_captureGeneration != m_runToken->value())
        return;
    if (availability == CameraAvailability::lent) {
        reportLent(m_captureGeneration);
        return;
    }
    if (m_callbacks.availability)
        m_callbacks.availability(m_captureGeneration, availability);
}

void CaptureWorker::reportLent(std::int64_t generation)
{
    m_cameraLent = true;
    m_analysisPaused = true;
    invalidateResizer();
    if (m_callbacks.availability)
        m_callbacks.availability(generation, CameraAvailability::lent);
}

void CaptureWorker::setAnalysisInterval(double interval)
{
    m_analysisInterval = interval;
}

void CaptureWorker::applyMonitoring(double interval, const std::optional<PoseFeatures>& baseline, double yellow,
                                    double red)
{
    m_analysisInterval = interval;
    m_detector->setReference(baseline, yellow, red);
}

void CaptureWorker::setReference(const std::optional<PoseFeatures>& baseline, double yellow, double red)
{
    m_detector->setReference(baseline, yellow, red);
}

void CaptureWorker::resetSubject(std::int64_t subject)
{
    m_detector->reset();
    clearMotionGate();
    m_captureSubject = subject;
}

void CaptureWorker::setPreview(std::weak_ptr<PreviewSink> preview)
{
    m_preview = std::move(preview);
}

void CaptureWorker::invalidateResizer()
{
    // A fresh resizer drops the buffers made for the old camera geometry.
    m_analysisFrames = std::make_unique<AnalysisFrames>();
}

void CaptureWorker::clearMotionGate()
{
    m_motionGate->clear();
}

void CaptureWorker::configureCaptureRate(bool calibrating)
{
    m_trackingRateCapture = false;
    const std::vector<double> candidates = calibrating ? std::vector<double>{heightCaptureRate}
                                                       : std::vector<double>{monitoringRate, heightCaptureRate};
    for (const double rate : candidates) {
        const std::optional<double> achieved = m_session.requestRate(rate);
        if (!achieved)
            continue; // out of the camera's reach: the rate stays as it was
        m_trackingRateCapture = rate == monitoringRate && std::abs(*achieved - monitoringRate) <= trackingRateTolerance;
        m_lastCapturePresentation.reset();
        return;
    }
}

void CaptureWorker::analyse(const CapturedFrame& frame)
{
    if (!m_currentVideoOutput || frame.output != *m_currentVideoOutput || m_captureGeneration != m_runToken->value()
        || m_analysisPaused)
        return;
    const std::shared_ptr<PreviewSink> preview = m_preview.lock();
    if (preview)
        preview->enqueue(frame);
    ++m_deliveredFrames;
    const double now = m_clock->uptime();
    if (!frame.image)
        return;
    const PixelBufferView& image = *frame.image;

    const double elapsed = now - m_lastInference;
    const double presentation = frame.presentationTime;
    const bool trackingRateDelivery = m_trackingRateCapture
        && (!m_lastCapturePresentation
            || (std::isfinite(presentation - *m_lastCapturePresentation)
                && presentation - *m_lastCapturePresentation >= trackingRateSpacing));
    m_lastCapturePresentation = std::isfinite(presentation) ? std::optional(presentation) : std::nullopt;

    const std::optional<double> due = AnalysisCadence::dueInterval(
        elapsed, m_analysisInterval, trackingRateDelivery, [&] { return m_motionGate->interval(image); });
    if (!due)
        return;
    m_lastInference = now;

    FrameAnalysis result;
    result.generation = m_captureGeneration;
    result.subject = m_captureSubject;
    result.time = now;
    result.previewAttached = preview != nullptr;

    const double analysisStart = threadCpuSeconds();
    const std::optional<PixelBufferView> resized = m_analysisFrames->resized(image);
    const double resizeEnd = threadCpuSeconds();
    m_resizeCPU += resizeEnd - analysisStart;
    const PixelBufferView& analysed = resized ? *resized : image;
    result.aspect = static_cast<double>(image.width()) / image.height();

    FrameDiagnostics& info = result.diagnostics;
    SeatedDetection detection = detect(analysed, result.aspect, now, info);
    const double visionEnd = threadCpuSeconds();
    m_visionCPU += visionEnd - resizeEnd;

    if (detection.features && !trackingRateDelivery)
        m_motionGate->remember(image, detection.points);
    else
        clearMotionGate();

    info.frames = m_deliveredFrames;
    info.format = image.format();
    info.width = image.width();
    info.height = image.height();
    info.featuresValid = detection.features.has_value();
    describeTracker(info);
    info.trackingRateDelivery = trackingRateDelivery;
    info.analysisInterval = *due;
    info.observationGap = elapsed;
    info.resizeCpuSeconds = m_resizeCPU;
    info.visionCpuSeconds = m_visionCPU;
    m_analysisCPU += threadCpuSeconds() - analysisStart;
    info.analysisCpuSeconds = m_analysisCPU;
    info.previewAttached = result.previewAttached;

    result.guidance = std::move(detection.guidance);
    result.points = std::move(detection.points);
    result.features = std::move(detection.features);
    result.loss = detection.loss;
    m_callbacks.analysed(std::move(result));
}

SeatedDetection CaptureWorker::detect(const PixelBufferView& image, double aspect, double now, FrameDiagnostics& info)
{
    const double wallTime = m_clock->wallTime();
    const bool forcesFullTracker = m_lease->forcesFullTracker(wallTime, now);
    const int radius = honouredTrackerRadius(m_lease->trackerRadius(wallTime, now));
    if (radius != m_detector->patchRadius())
        m_detector->replacePatchTracker(radius);
    try {
        SeatedDetection detection = m_detector->detect(
            image, aspect, now, m_analysisInterval >= AnalysisCadence::lightweightMinimumInterval && !forcesFullTracker);
        info.trackerAblationFull = forcesFullTracker;
        return detection;
    } catch (const std::exception&) {
        return {std::nullopt, std::string(texts::analysisInterrupted), {}, FaceLossReason::unknown};
    }
}

void CaptureWorker::describeTracker(FrameDiagnostics& diagnostics) const
{
    diagnostics.trackerRadius = m_detector->patchRadius();
    diagnostics.trackerPath = m_detector->lastPath();
    diagnostics.trackerFullPasses = m_detector->fullPasses();
    diagnostics.trackerFaces = m_detector->lastFaceCount();
    diagnostics.trackerDecision = m_detector->continuity().lastDecision;
    diagnostics.trackerSeedFailures = m_detector->seedFailureCounts();
    diagnostics.trackerPatchPasses = m_detector->patchPasses();
    diagnostics.trackerFallbacks = m_detector->fallbackCounts();
    diagnostics.trackerSeedFailure = m_detector->lastSeedFailure();
    if (std::isfinite(m_motionGate->difference()))
        diagnostics.motionDifference = m_motionGate->difference();
    diagnostics.motionVerticalShift = m_motionGate->verticalShift();
}

} // namespace verticora
