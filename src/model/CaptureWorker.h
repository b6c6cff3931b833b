#pragma once

#include "analysis/PoseFeatures.h"
#include "model/CaptureService.h"
#include "model/TaskQueue.h"
#include "store/TrackingLease.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace verticora {

class AnalysisFrames;
class CameraRunToken;
class FaceLandmarkRequest;
class FaceMotionGate;
class ModelClock;
class SeatedPoseDetector;

// What one analysed frame hands to the main thread.
struct FrameAnalysis {
    std::int64_t generation = 0;
    std::int64_t subject = 0;
    std::string guidance;
    bool previewAttached = false;
    std::vector<Point> points;
    double aspect = 16.0 / 9.0;
    std::optional<PoseFeatures> features;
    FaceLossReason loss = FaceLossReason::unknown;
    double time = 0; // capture-side uptime of the frame
    FrameDiagnostics diagnostics;
};

// How a session start on the capture thread ended. `busy`: another program has the
// camera; the session is taken once the service says it is free and the model resumes.
enum class SessionOutcome { abandoned, openFailed, configured, busy };

// Keeps only the newest camera frame that the capture thread has not picked up yet, so
// a slow analysis drops late frames instead of queueing them.
class FrameMailbox {
public:
    // Returns true when the mailbox was empty (the caller schedules a pickup).
    bool offer(CapturedFrame frame);
    std::optional<CapturedFrame> take();

private:
    std::mutex m_lock;
    std::optional<CapturedFrame> m_pending;
};

// The capture queue: lives on the "Verticora.camera" thread and does all image work.
// The main thread reaches it only through queued calls; it answers through the
// callbacks it was given, which hop back to the main thread.
class CaptureWorker : public QObject {
    Q_OBJECT

public:
    struct Callbacks {
        std::function<void(FrameAnalysis)> analysed;
        std::function<void(std::int64_t generation, SessionOutcome outcome, bool running)> sessionStarted;
        // Another program took the camera (or held it when a resume tried), or it is free again.
        std::function<void(std::int64_t generation, CameraAvailability availability)> availability;
    };

    CaptureWorker(CaptureService& session, std::shared_ptr<CameraRunToken> runToken,
                  std::shared_ptr<const ModelClock> clock, std::shared_ptr<const TrackingLease> lease,
                  std::unique_ptr<FaceLandmarkRequest> landmarks, Callbacks callbacks);
    ~CaptureWorker() override;

    // All of these run on the capture thread.
    void startSession(std::int64_t generation, const QString& deviceID);
    void stopSession();
    // Pausing halts the camera unless `halt` is false: a camera lent to another program
    // was halted by the service, which keeps watching for it to be free.
    void setCapturePaused(std::int64_t generation, bool paused, bool halt = true);
    void setAnalysisInterval(double interval);
    // The monitoring block: the next spacing and the detector's reference.
    void applyMonitoring(double interval, const std::optional<PoseFeatures>& baseline, double yellow, double red);
    void setReference(const std::optional<PoseFeatures>& baseline, double yellow, double red);
    void resetSubject(std::int64_t subject);
    void configureCaptureRate(bool calibrating);
    void setPreview(std::weak_ptr<PreviewSink> preview);

    // Called by the session on any thread.
    void offerFrame(CapturedFrame frame);

    [[nodiscard]] bool trackingRateCapture() const { return m_trackingRateCapture; }
    // Work for the capture thread, in order; the main thread's only way in.
    [[nodiscard]] TaskQueue& tasks() { return *m_tasks; }

private:
    // Opens the device and prepares the session; `busy` leaves the device pending.
    SessionOutcome open(std::int64_t generation, const QString& deviceID);
    // Starts the opened session; false when another program holds the camera.
    bool run();
    void resumeCapture(std::int64_t generation);
    void availabilityChanged(CameraAvailability availability, std::uint64_t output);
    void reportLent(std::int64_t generation);
    void processPendingFrame();
    void analyse(const CapturedFrame& frame);
    // Runs the detector as a diagnostic lease steers it; a detector that fails gives a
    // frame without a face.
    SeatedDetection detect(const PixelBufferView& image, double aspect, double now, FrameDiagnostics& info);
    // The detector's and the motion gate's part of a frame's diagnostics.
    void describeTracker(FrameDiagnostics& diagnostics) const;
    void clearMotionGate();
    void invalidateResizer();

    TaskQueue* m_tasks; // a child, so it moves to the capture thread with the worker
    CaptureService& m_session;
    std::shared_ptr<CameraRunToken> m_runToken;
    std::shared_ptr<const ModelClock> m_clock;
    std::shared_ptr<const TrackingLease> m_lease;
    Callbacks m_callbacks;
    FrameMailbox m_mailbox;

    std::unique_ptr<SeatedPoseDetector> m_detector;
    std::unique_ptr<AnalysisFrames> m_analysisFrames;
    std::unique_ptr<FaceMotionGate> m_motionGate;

    std::optional<std::uint64_t> m_currentVideoOutput;
    // A camera that was busy when opened: opened again when the model resumes.
    std::optional<QString> m_pendingDevice;
    std::uint64_t m_pendingOutput = 0;
    bool m_cameraLent = false;
    std::int64_t m_captureGeneration = 0;
    std::int64_t m_captureSubject = 0;
    bool m_analysisPaused = false;
    double m_analysisInterval = 1.0 / 3.0;
    bool m_trackingRateCapture = false;
    std::optional<double> m_lastCapturePresentation;
    double m_lastInference = 0;
    std::int64_t m_deliveredFrames = 0;
    double m_resizeCPU = 0;
    double m_visionCPU = 0;
    double m_analysisCPU = 0;
    std::weak_ptr<PreviewSink> m_preview;
};

} // namespace verticora
