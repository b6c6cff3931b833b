#pragma once

#include "analysis/PoseFeatures.h"
#include "model/CaptureService.h"
#include "model/PostureEngine.h"
#include "model/SetupCheck.h"
#include "store/PreferencesStore.h"
#include "store/SettingsEnums.h"
#include "store/TrackingLease.h"
#include "store/UpdateResumeStore.h"

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

// One entry of the camera list the user chooses from.
struct CameraChoice {
    QString id;
    QString name;

    friend bool operator==(const CameraChoice&, const CameraChoice&) = default;
};

// Why tracking is paused: the user paused it (by hand, for a while, or across an update),
// another app borrowed the camera, or the screen is locked.
enum class PauseReason { user, lent, locked };

// "user", "lent" or "locked": the reason as scripts read it.
[[nodiscard]] QString pauseReasonName(PauseReason reason);

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
    // The running build, compared across an update handoff; "development" when empty.
    QString updateBuild;
    // This process's ID for the update handoff; tests play two instances in one process.
    std::optional<qint32> processID;
};

// Where the controls window stands, for the update handoff: its page name and whether
// it is open.
struct UpdateWindowContext {
    QString page;
    bool visible = true;
};

// The one observable object of the application: owns the camera session, the frame
// loop, the height setup, the stores and the alert visuals, and publishes everything
// the status item and the controls window show. Main thread only; image work runs on
// the "Verticora.camera" thread.
class CameraModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(verticora::ControlsPage controlsPage READ controlsPage WRITE setControlsPage NOTIFY controlsPageChanged FINAL)
    Q_PROPERTY(QList<verticora::CameraChoice> cameras READ cameras NOTIFY camerasChanged FINAL)
    Q_PROPERTY(QString selectedID READ selectedID NOTIFY selectedIDChanged FINAL)
    Q_PROPERTY(bool active READ active NOTIFY activeChanged FINAL)
    Q_PROPERTY(bool loading READ loading NOTIFY loadingChanged FINAL)
    Q_PROPERTY(QString state READ state NOTIFY stateChanged FINAL)
    Q_PROPERTY(QString message READ message NOTIFY messageChanged FINAL)
    Q_PROPERTY(QString stage READ stage NOTIFY stageChanged FINAL)
    Q_PROPERTY(bool capturing READ capturing NOTIFY capturingChanged FINAL)
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged FINAL)
    Q_PROPERTY(QVariant score READ scoreValue NOTIFY scoreChanged FINAL)
    Q_PROPERTY(double warningProgress READ warningProgress NOTIFY warningProgressChanged FINAL)
    Q_PROPERTY(verticora::ReminderMode reminderMode READ reminderMode WRITE setReminderMode NOTIFY reminderModeChanged FINAL)
    Q_PROPERTY(double smokeDepth READ smokeDepth WRITE setSmokeDepth NOTIFY smokeDepthChanged FINAL)
    Q_PROPERTY(verticora::EdgeEffectStyle edgeEffectStyle READ edgeEffectStyle WRITE setEdgeEffectStyle NOTIFY edgeEffectStyleChanged FINAL)
    Q_PROPERTY(verticora::LiveChartMotion liveChartMotion READ liveChartMotion WRITE setLiveChartMotion NOTIFY liveChartMotionChanged FINAL)
    Q_PROPERTY(bool redAlertEnabled READ redAlertEnabled WRITE setRedAlertEnabled NOTIFY redAlertEnabledChanged FINAL)
    Q_PROPERTY(verticora::MenuBarStyle menuBarStyle READ menuBarStyle WRITE setMenuBarStyle NOTIFY menuBarStyleChanged FINAL)
    Q_PROPERTY(bool hasPose READ hasPose NOTIFY hasPoseChanged FINAL)
    Q_PROPERTY(bool bottomExitHeld READ bottomExitHeld NOTIFY bottomExitHeldChanged FINAL)
    Q_PROPERTY(QList<QPointF> landmarks READ landmarks NOTIFY landmarksChanged FINAL)
    Q_PROPERTY(double frameAspect READ frameAspect NOTIFY frameAspectChanged FINAL)
    Q_PROPERTY(double yellow READ yellow WRITE setYellow NOTIFY yellowChanged FINAL)
    Q_PROPERTY(double red READ red WRITE setRed NOTIFY redChanged FINAL)
    Q_PROPERTY(double delay READ delay WRITE setDelay NOTIFY delayChanged FINAL)
    Q_PROPERTY(bool paused READ paused NOTIFY pausedChanged FINAL)
    Q_PROPERTY(QVariant pauseUntil READ pauseUntilValue NOTIFY pauseUntilChanged FINAL)
    Q_PROPERTY(QString pauseReason READ pauseReasonValue NOTIFY pauseReasonChanged FINAL)
    Q_PROPERTY(QString setupCheckPhase READ setupCheckPhase NOTIFY setupCheckPhaseChanged FINAL)
    Q_PROPERTY(bool canUndoHeightReset READ canUndoHeightReset NOTIFY canUndoHeightResetChanged FINAL)
    Q_PROPERTY(bool hasSavedCalibration READ hasSavedCalibration NOTIFY hasSavedCalibrationChanged FINAL)
    Q_PROPERTY(QVariant persistenceMessage READ persistenceMessageValue NOTIFY persistenceMessageChanged FINAL)
    Q_PROPERTY(bool cameraEnabled READ cameraEnabled NOTIFY cameraEnabledChanged FINAL)

public:
    CameraModel(PreferencesStore store, CameraModelServices services, CameraModelOptions options = {},
                QObject* parent = nullptr);
    ~CameraModel() override;

    CameraModel(const CameraModel&) = delete;
    CameraModel& operator=(const CameraModel&) = delete;

    // Published state.
    [[nodiscard]] ControlsPage controlsPage() const { return m_controlsPage; }
    [[nodiscard]] const QList<CameraChoice>& cameras() const { return m_cameras; }
    [[nodiscard]] const QString& selectedID() const { return m_selectedID; }
    [[nodiscard]] bool active() const { return m_active; }
    [[nodiscard]] bool loading() const { return m_loading; }
    [[nodiscard]] const QString& state() const { return m_state; }
    [[nodiscard]] const QString& message() const { return m_message; }
    [[nodiscard]] const QString& stage() const { return m_stage; }
    [[nodiscard]] bool capturing() const { return m_capturing; }
    [[nodiscard]] double progress() const { return m_progress; }
    [[nodiscard]] std::optional<double> score() const { return m_score; }
    [[nodiscard]] QVariant scoreValue() const;
    [[nodiscard]] double warningProgress() const { return m_warningProgress; }
    [[nodiscard]] ReminderMode reminderMode() const { return m_reminderMode; }
    [[nodiscard]] double smokeDepth() const { return m_smokeDepth; }
    [[nodiscard]] EdgeEffectStyle edgeEffectStyle() const { return m_edgeEffectStyle; }
    [[nodiscard]] LiveChartMotion liveChartMotion() const { return m_liveChartMotion; }
    [[nodiscard]] bool redAlertEnabled() const { return m_redAlertEnabled; }
    [[nodiscard]] MenuBarStyle menuBarStyle() const { return m_menuBarStyle; }
    [[nodiscard]] bool hasPose() const { return m_hasPose; }
    [[nodiscard]] bool bottomExitHeld() const { return m_bottomExitHeld; }
    [[nodiscard]] const QList<QPointF>& landmarks() const { return m_landmarks; }
    [[nodiscard]] double frameAspect() const { return m_frameAspect; }
    [[nodiscard]] double yellow() const { return m_yellow; }
    [[nodiscard]] double red() const { return m_red; }
    [[nodiscard]] double delay() const { return m_delay; }
    [[nodiscard]] bool paused() const { return m_paused; }
    [[nodiscard]] std::optional<double> pauseUntil() const { return m_pauseUntil; }
    [[nodiscard]] QVariant pauseUntilValue() const;
    // Why tracking is paused; none while it is not.
    [[nodiscard]] std::optional<PauseReason> pauseReason() const { return m_pauseReason; }
    // The reason's name, empty while not paused.
    [[nodiscard]] QString pauseReasonValue() const;
    [[nodiscard]] const QString& setupCheckPhase() const { return m_setupCheckPhase; }
    [[nodiscard]] bool canUndoHeightReset() const { return m_canUndoHeightReset; }
    [[nodiscard]] bool hasSavedCalibration() const { return m_hasSavedCalibration; }
    [[nodiscard]] const std::optional<QString>& persistenceMessage() const { return m_persistenceMessage; }
    [[nodiscard]] QVariant persistenceMessageValue() const;
    // The on/off switch: on while starting, or while running and not paused.
    [[nodiscard]] bool cameraEnabled() const { return m_loading || (m_active && !m_paused); }

    // Read-write settings bound by the views; saved by the next persistSettings.
    void setControlsPage(ControlsPage page);
    void setReminderMode(ReminderMode mode);
    void setEdgeEffectStyle(EdgeEffectStyle style);
    void setLiveChartMotion(LiveChartMotion motion);
    void setMenuBarStyle(MenuBarStyle style);
    void setYellow(double yellow);
    void setRed(double red);
    void setDelay(double delay);
    void setSmokeDepth(double depth);
    void setRedAlertEnabled(bool on);

    // Height setup.
    void capture();
    void confirm();
    void restartSetup();
    void undoHeightReset();
    void applyThresholds();
    void setHeightBoundary(double value, bool isRed);
    // The "Posture forgiveness" slider: 0 strict, 0.5 default, 1 forgiving.
    [[nodiscard]] double forgiveness() const;
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

    // Update handoff. The application is quitting (runs once, whoever calls first):
    // answers a pending update request with a receipt of what the camera was doing, then
    // stops the camera, which writes the daily progress.
    void prepareForApplicationTermination();
    // At launch: the receipt a previous build left, if it is genuine and fresh; otherwise
    // none, with the reason in `message` when the user should know it.
    [[nodiscard]] std::optional<UpdateResumeReceipt> consumeUpdateResume();
    // Continues what the previous build was doing. The two overrides stand in for the
    // permission and device queries, the action for the camera start (tests); the
    // application passes none.
    void resumeAfterUpdate(const UpdateSessionState& state, std::optional<bool> cameraAuthorized = {},
                           std::optional<bool> cameraAvailable = {}, std::function<void()> startCameraAction = {});
    // The shell tells the model where its controls window stands; without it the handoff
    // records the current page as open.
    void setUpdateWindowContext(std::function<UpdateWindowContext()> context);
    // A sentence of the shell's own for the user, in the one status line.
    void setMessage(const QString& message);
    [[nodiscard]] UpdateResumeStore& updateResumeStore() { return *m_updateResumeStore; }
    // Paused after an update until the user (or the pause's end) resumes: the camera is
    // off though the model shows a paused session.
    [[nodiscard]] bool pausedForUpdate() const { return m_updatePause.has_value(); }

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

Q_SIGNALS:
    // Emitted once before the first property change of a batch (one event-loop pass).
    void willChange();
    // Every analysed frame, after it was applied, with what the tracker did: the one way
    // its diagnostics reach the lease's samples and tools.
    void frameHandled(const verticora::FrameDiagnostics& frame);

    void controlsPageChanged();
    void camerasChanged();
    void selectedIDChanged();
    void activeChanged();
    void loadingChanged();
    void stateChanged();
    void messageChanged();
    void stageChanged();
    void capturingChanged();
    void progressChanged();
    void scoreChanged();
    void warningProgressChanged();
    void reminderModeChanged();
    void smokeDepthChanged();
    void edgeEffectStyleChanged();
    void liveChartMotionChanged();
    void redAlertEnabledChanged();
    void menuBarStyleChanged();
    void hasPoseChanged();
    void bottomExitHeldChanged();
    void landmarksChanged();
    void frameAspectChanged();
    void yellowChanged();
    void redChanged();
    void delayChanged();
    void pausedChanged();
    void pauseUntilChanged();
    void pauseReasonChanged();
    void setupCheckPhaseChanged();
    void canUndoHeightResetChanged();
    void hasSavedCalibrationChanged();
    void persistenceMessageChanged();
    void cameraEnabledChanged();

private:
    template <typename T>
    void publish(T& field, const T& value, void (CameraModel::*changed)());
    void openBatch();

    // Construction.
    void loadPreferences();
    void pushDisplaySettings();
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
    void refreshSetupCheckThresholds();
    void restartSetupCheck();
    void closeStoreIntervals(bool flush);

    // Session.
    void continueStart(bool authorized);
    void sessionStarted(std::int64_t generation, SessionOutcome outcome, bool running);
    bool restoreSavedCalibration();
    // Gives the engine the calibration's baseline and levels with the current delay;
    // false when the engine refuses them.
    [[nodiscard]] bool restoreEngine(const SavedCalibration& calibration);
    void setCapturePaused(bool paused, bool halt = true);
    [[nodiscard]] bool deviceAvailable(const QString& id) const;
    void publishPaused(bool paused, PauseReason reason = PauseReason::user);
    void pauseTracking(PauseReason reason);
    void resumeTracking();
    // A locked screen pauses a running camera, or takes over a lent camera's pause.
    void restWhileLocked();
    void cameraAvailabilityChanged(std::int64_t generation, CameraAvailability availability);

    // Update handoff.
    [[nodiscard]] UpdateSessionState sessionStateForUpdate() const;
    void resumePausedAfterUpdate(const UpdateSessionState& state, const SavedCalibration& calibration,
                                 std::optional<bool> cameraAuthorized, std::optional<bool> cameraAvailable,
                                 std::function<void()> startCameraAction);
    void resumeFromUpdatePause(bool automatic);

    // Queues work onto the capture thread's worker.
    void onCaptureQueue(std::function<void(CaptureWorker&)> work);

    PreferencesStore m_store;
    CameraModelOptions m_options;
    std::shared_ptr<const ModelClock> m_clock;
    std::shared_ptr<DiagnosticVisualPolicy> m_diagnostics;
    std::unique_ptr<LiveScoreStore> m_liveScore;
    std::unique_ptr<CaptureService> m_session;
    PostureEngine m_engine;
    std::unique_ptr<AlertController> m_alerts;
    std::shared_ptr<CameraRunToken> m_runToken;
    std::shared_ptr<CameraRunToken> m_subjectToken;
    std::unique_ptr<QThread> m_captureThread;
    CaptureWorker* m_worker = nullptr; // deleted on the capture thread when that stops
    TaskQueue* m_fromCapture = nullptr; // results of the capture thread, run on the main thread
    std::unique_ptr<ProgressStore> m_progressStore;
    std::unique_ptr<UpdateResumeStore> m_updateResumeStore;
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
    SetupCheck m_setupCheck;
    std::optional<std::pair<double, double>> m_reviewThresholds;
    std::optional<SavedCalibration> m_previousCalibration;
    bool m_batchOpen = false;
    bool m_startResumesSaved = false;

    // A paused session carried over an update: how to start the camera when the user
    // resumes, and the permission and device answers that stand in for the queries.
    struct UpdatePause {
        std::function<void()> resumeAction;
        std::optional<bool> cameraAuthorized;
        std::optional<bool> cameraAvailable;
    };
    std::optional<UpdatePause> m_updatePause;
    bool m_terminationHandled = false;
    std::function<UpdateWindowContext()> m_updateWindowContext;

    ControlsPage m_controlsPage = ControlsPage::posture;
    QList<CameraChoice> m_cameras;
    QString m_selectedID;
    bool m_active = false;
    bool m_loading = false;
    QString m_state = QStringLiteral("idle");
    QString m_message;
    QString m_stage = QStringLiteral("idle");
    bool m_capturing = false;
    double m_progress = 0;
    std::optional<double> m_score;
    double m_warningProgress = 0;
    ReminderMode m_reminderMode = ReminderMode::smoke;
    double m_smokeDepth = 8;
    EdgeEffectStyle m_edgeEffectStyle = EdgeEffectStyle::tide;
    LiveChartMotion m_liveChartMotion = LiveChartMotion::responsive;
    bool m_redAlertEnabled = true;
    MenuBarStyle m_menuBarStyle = MenuBarStyle::color;
    bool m_hasPose = false;
    bool m_bottomExitHeld = false;
    QList<QPointF> m_landmarks;
    double m_frameAspect = 16.0 / 9.0;
    double m_yellow = 0.45;
    double m_red = 0.85;
    double m_delay = 2.0;
    bool m_paused = false;
    std::optional<double> m_pauseUntil;
    std::optional<PauseReason> m_pauseReason; // set while paused
    bool m_screenLocked = false;
    QString m_setupCheckPhase = QStringLiteral("lower");
    bool m_canUndoHeightReset = false;
    bool m_hasSavedCalibration = false;
    std::optional<QString> m_persistenceMessage;
    bool m_showingLoadFailure = false; // m_persistenceMessage is the load failure
};

template <typename T>
void CameraModel::publish(T& field, const T& value, void (CameraModel::*changed)())
{
    if (field == value)
        return;
    openBatch();
    const bool wasEnabled = cameraEnabled();
    field = value;
    emit(this->*changed)();
    if (cameraEnabled() != wasEnabled)
        emit cameraEnabledChanged();
}

} // namespace verticora

Q_DECLARE_METATYPE(verticora::CameraChoice)
Q_DECLARE_METATYPE(verticora::ControlsPage)
Q_DECLARE_METATYPE(verticora::ReminderMode)
Q_DECLARE_METATYPE(verticora::EdgeEffectStyle)
Q_DECLARE_METATYPE(verticora::LiveChartMotion)
Q_DECLARE_METATYPE(verticora::MenuBarStyle)
