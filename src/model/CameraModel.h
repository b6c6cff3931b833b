#pragma once

#include "analysis/PoseFeatures.h"
#include "model/CaptureService.h"
#include "model/CameraSession.h"
#include "model/ChangeBatch.h"
#include "model/DisplaySettings.h"
#include "model/HeightSetup.h"
#include "model/PostureEngine.h"
#include "store/PreferencesStore.h"
#include "store/SettingsEnums.h"
#include "store/TrackingLease.h"

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QPointF>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>

class QThread;
class QTimer;

namespace verticora {

class AlertController;
class CameraRunToken;
class CaptureWorker;
class DiagnosticVisualPolicy;
class FaceLandmarkRequest;
class LiveScoreStore;
class ModelClock;
class ProgressStore;
class TaskQueue;
class TrackingPerformance;
struct FrameAnalysis;
enum class SessionOutcome;

// The services the model drives; the application hands in the real ones, tests fakes.
struct CameraModelServices {
    std::unique_ptr<CaptureService> capture;
    std::unique_ptr<AlertController> alerts;
    // Made once, on the capture thread, for the detector's full passes.
    std::function<std::unique_ptr<FaceLandmarkRequest>()> makeLandmarkRequest;
    std::shared_ptr<const ModelClock> clock;           // the system clocks when empty
};

struct CameraModelOptions {
    // False makes a passive model: no discovery, no notifications, no housekeeping timer.
    bool observesLifecycle = true;
    // False keeps the frame loop from driving the alert visuals.
    bool presentsVisuals = true;
    // Tests drive housekeepingTick() themselves in virtual time.
    bool runsHousekeepingTimer = true;
};

// The one observable object of the application: owns the camera session, the frame
// loop, the height setup, the stores and the alert visuals, and publishes everything
// the status item and the controls window show. Main thread only; image work runs on
// the "Verticora.camera" thread.
class CameraModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(verticora::ControlsPage controlsPage READ controlsPage WRITE setControlsPage NOTIFY changed FINAL)
    Q_PROPERTY(verticora::ZoneState state READ state NOTIFY changed FINAL)
    Q_PROPERTY(QString message READ message NOTIFY changed FINAL)
    Q_PROPERTY(QVariant score READ scoreValue NOTIFY changed FINAL)
    Q_PROPERTY(double warningProgress READ warningProgress NOTIFY changed FINAL)
    Q_PROPERTY(bool hasPose READ hasPose NOTIFY changed FINAL)
    Q_PROPERTY(bool bottomExitHeld READ bottomExitHeld NOTIFY changed FINAL)
    Q_PROPERTY(QList<QPointF> landmarks READ landmarks NOTIFY changed FINAL)
    Q_PROPERTY(double frameAspect READ frameAspect NOTIFY changed FINAL)
    Q_PROPERTY(bool hasSavedCalibration READ hasSavedCalibration NOTIFY changed FINAL)
    Q_PROPERTY(QVariant persistenceMessage READ persistenceMessageValue NOTIFY changed FINAL)

public:
    CameraModel(PreferencesStore store, CameraModelServices services, CameraModelOptions options = {},
                QObject* parent = nullptr);
    ~CameraModel() override;

    CameraModel(const CameraModel&) = delete;
    CameraModel& operator=(const CameraModel&) = delete;

    // The parts, each with its own published values.
    [[nodiscard]] CameraSession& session() const { return *m_session; }
    [[nodiscard]] HeightSetup& setup() const { return *m_setup; }
    [[nodiscard]] DisplaySettings& display() const { return *m_display; }

    // Published state.
    [[nodiscard]] ControlsPage controlsPage() const { return m_controlsPage; }
    // The engine's state, or idle (camera off) and error (the camera could not start).
    [[nodiscard]] ZoneState state() const { return m_state; }
    [[nodiscard]] const QString& message() const { return m_message; }
    [[nodiscard]] std::optional<double> score() const { return m_score; }
    [[nodiscard]] QVariant scoreValue() const;
    [[nodiscard]] double warningProgress() const { return m_warningProgress; }
    [[nodiscard]] bool hasPose() const { return m_hasPose; }
    [[nodiscard]] bool bottomExitHeld() const { return m_bottomExitHeld; }
    [[nodiscard]] const QList<QPointF>& landmarks() const { return m_landmarks; }
    [[nodiscard]] double frameAspect() const { return m_frameAspect; }
    [[nodiscard]] bool hasSavedCalibration() const { return m_hasSavedCalibration; }
    [[nodiscard]] const std::optional<QString>& persistenceMessage() const { return m_persistenceMessage; }
    [[nodiscard]] QVariant persistenceMessageValue() const;

    // The page the controls window shows; saved by the next persistSettings.
    void setControlsPage(ControlsPage page);

    // Height setup.
    void capture();
    void confirm();
    void restartSetup();
    void undoHeightReset();
    void applyThresholds();
    void setHeightBoundary(double value, bool isRed);
    void setForgiveness(double position);

    // Camera lifecycle.
    void refreshCameras();
    void select(const QString& id);
    void startCamera(bool resumeSaved);
    void stop(const QString& message);
    void setCameraEnabled(bool on);
    void togglePause();
    // A timed pause: pauses like togglePause (or keeps an existing pause) and ends by
    // itself after `seconds`. False when nothing is being tracked that could pause.
    bool pauseFor(double seconds);
    void setPaused(bool paused, bool automatic);
    void pollPause(double wallTime);
    void setPreviewLayer(std::weak_ptr<PreviewSink> preview);
    // The workspace is about to sleep (the platform's notification).
    void systemWillSleep();
    // The user's session was locked or unlocked. Tracking rests while it is locked and
    // resumes on unlocking, unless the user paused it themselves.
    void setScreenLocked(bool locked);

    // For the update handoff (the application's side runs it).
    // A session the previous build had paused: it looks paused with its saved height and
    // levels while the camera stays off, until the user (or the pause's end at
    // `pauseUntil`) resumes and `pause` says how to start the camera.
    struct UpdatePause {
        std::function<void()> resumeAction; // the camera start; startCamera when empty
        std::optional<bool> cameraAuthorized; // stand in for the permission and device
        std::optional<bool> cameraAvailable;  // queries (tests)
    };
    void resumePausedAfterUpdate(const SavedCalibration& calibration, std::optional<double> pauseUntil,
                                 UpdatePause pause);
    // Paused after an update until the user (or the pause's end) resumes: the camera is
    // off though the model shows a paused session.
    [[nodiscard]] bool pausedForUpdate() const { return m_updatePause.has_value(); }
    // A sentence of the shell's own for the user, in the one status line.
    void setMessage(const QString& message);
    // The error state with its sentence.
    void showError(const QString& message);
    void setPersistenceMessage(const QString& message);

    // Settings persistence.
    void persistSettings(bool includeConfirmedBaseline);
    void refreshSavedState(bool loadBoundaries);

    // Frame loop.
    void receive(const std::optional<PoseFeatures>& features, double time, FaceLossReason loss, bool fromCameraFrame);
    void housekeepingTick();
    void resetSubject();

    // Waits until the capture thread has done everything queued so far and, unless told
    // otherwise, applies the results it handed back. For tools and tests that feed frames
    // themselves from a camera whose calls never wait on the main thread.
    void drainCaptureQueue(bool applyResults = true);

    [[nodiscard]] const PostureEngine& engine() const { return m_engine; }
    [[nodiscard]] ProgressStore& progressStore() { return *m_progressStore; }
    [[nodiscard]] LiveScoreStore& liveScore() { return *m_liveScore; }
    [[nodiscard]] const PosturePreferences& preferences() const { return m_preferences; }
    [[nodiscard]] const QString& trackingGuidance() const { return m_trackingGuidance; }
    // The diagnostic lease the visuals and the tracker follow.
    [[nodiscard]] DiagnosticVisualPolicy& diagnostics() const { return *m_diagnostics; }
    [[nodiscard]] const QString& dataDirectory() const { return m_dataDirectory; }
    [[nodiscard]] const std::shared_ptr<const ModelClock>& clock() const { return m_clock; }

Q_SIGNALS:
    // Once after each batch of changes to the published values (one event-loop pass):
    // the one notification every view and reporter refreshes from.
    void changed();
    // Every analysed frame, after it was applied, with what the tracker did: the one way
    // its diagnostics reach the lease's samples and tools.
    void frameHandled(const verticora::FrameDiagnostics& frame);

private:
    template <typename T>
    void publish(T& field, const T& value);

    // Construction.
    void loadPreferences();
    void startCaptureThread(std::function<std::unique_ptr<FaceLandmarkRequest>()> makeLandmarkRequest);
    void observeLifecycle();

    // Frame loop.
    void handleAnalysis(FrameAnalysis analysis);
    void receiveWithoutPose(double time, FaceLossReason loss, bool fromCameraFrame, double previous);
    // False while a returning face has not yet been seen steadily.
    bool receiveReacquisition(double time, double previous);
    void receiveByStage(const PoseFeatures& pose, double time);
    void receiveMonitoring(const PoseFeatures& pose, double time);
    void receiveReview(const PoseFeatures& pose, double time);
    void receiveCapture(const PoseFeatures& pose, double time);
    void recordReading(double time);
    void presentResult(const ZoneResult& result, bool monitoring, bool paused, bool tracking);
    void hideAlerts();
    void sendAnalysisInterval(double interval);

    // Setup.
    void closeStoreIntervals(bool flush);

    // Session.
    void continueStart(bool authorized);
    void sessionStarted(std::int64_t generation, SessionOutcome outcome, bool running);
    bool restoreSavedCalibration();
    // Gives the engine the calibration's baseline and levels with the current delay;
    // false when the engine refuses them.
    [[nodiscard]] bool restoreEngine(const SavedCalibration& calibration);
    void setCapturePaused(bool paused, bool halt = true);
    void pauseTracking(PauseReason reason);
    void resumeTracking();
    // A locked screen pauses a running camera, or takes over a lent camera's pause.
    void restWhileLocked();
    void cameraAvailabilityChanged(std::int64_t generation, CameraAvailability availability);

    // Update handoff.
    void resumeFromUpdatePause(bool automatic);

    // Queues work onto the capture thread's worker.
    void onCaptureQueue(std::function<void(CaptureWorker&)> work);

    PreferencesStore m_store;
    CameraModelOptions m_options;
    ChangeBatch* m_changes = nullptr;
    std::shared_ptr<const ModelClock> m_clock;
    std::shared_ptr<DiagnosticVisualPolicy> m_diagnostics;
    std::unique_ptr<LiveScoreStore> m_liveScore;
    std::unique_ptr<CaptureService> m_capture;
    PostureEngine m_engine;
    std::unique_ptr<AlertController> m_alerts;
    DisplaySettings* m_display = nullptr;
    CameraSession* m_session = nullptr;
    HeightSetup* m_setup = nullptr;
    std::shared_ptr<CameraRunToken> m_runToken;
    std::shared_ptr<CameraRunToken> m_subjectToken;
    std::unique_ptr<QThread> m_captureThread;
    CaptureWorker* m_worker = nullptr; // deleted on the capture thread when that stops
    TaskQueue* m_fromCapture = nullptr; // results of the capture thread, run on the main thread
    std::unique_ptr<ProgressStore> m_progressStore;
    std::unique_ptr<TrackingPerformance> m_performance;
    QTimer* m_housekeeping = nullptr;
    QString m_dataDirectory;

    PosturePreferences m_preferences;
    QString m_displayedDay;
    std::int64_t m_generation = 0;
    double m_lastFrame = 0;
    double m_lastAnalysisTime = 0;
    std::optional<PoseFeatures> m_pose;
    std::optional<double> m_lossSince;
    std::optional<double> m_reacquiredSince;
    bool m_awaitingReacquisition = false;
    QString m_trackingGuidance;
    bool m_startResumesSaved = false;

    std::optional<UpdatePause> m_updatePause; // a paused session carried over an update

    ControlsPage m_controlsPage = ControlsPage::posture;
    ZoneState m_state = ZoneState::idle;
    QString m_message;
    std::optional<double> m_score;
    double m_warningProgress = 0;
    bool m_hasPose = false;
    bool m_bottomExitHeld = false;
    QList<QPointF> m_landmarks;
    double m_frameAspect = 16.0 / 9.0;
    bool m_hasSavedCalibration = false;
    std::optional<QString> m_persistenceMessage;
    bool m_showingLoadFailure = false; // m_persistenceMessage is the load failure
};

template <typename T>
void CameraModel::publish(T& field, const T& value)
{
    m_changes->publish(field, value);
}

} // namespace verticora

Q_DECLARE_METATYPE(verticora::ControlsPage)
