#include "model/CameraModel.h"

#include "analysis/FaceLandmarkRequest.h"
#include "analysis/ThresholdRules.h"
#include "model/AlertController.h"
#include "model/CameraRunToken.h"
#include "model/CaptureWorker.h"
#include "model/ModelClock.h"
#include "model/ModelTexts.h"
#include "model/TaskQueue.h"
#include "store/DailyProgressCalendar.h"
#include "store/DataFolder.h"
#include "store/DiagnosticVisualPolicy.h"
#include "store/LiveScoreStore.h"
#include "store/ProgressStore.h"
#include "store/TrackingPerformance.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>

#include <unistd.h>

namespace verticora {

namespace {

constexpr double progressSaveInterval = 30.0;
constexpr double progressPublishInterval = 1.0;
constexpr int housekeepingMilliseconds = 300;
constexpr double staleCameraSeconds = 0.65;
constexpr double defaultSmokeDepth = 8;
constexpr double maximumSmokeDepth = 10;

std::shared_ptr<DiagnosticVisualPolicy> makeDiagnostics(const std::shared_ptr<const ModelClock>& clock)
{
    return std::make_shared<DiagnosticVisualPolicy>([clock] { return clock->wallTime(); },
                                                    [clock] { return clock->uptime(); });
}

void registerMetaTypes()
{
    qRegisterMetaType<CameraChoice>();
    qRegisterMetaType<ControlsPage>();
    qRegisterMetaType<ReminderMode>();
    qRegisterMetaType<EdgeEffectStyle>();
    qRegisterMetaType<LiveChartMotion>();
    qRegisterMetaType<MenuBarStyle>();
}

} // namespace

QString pauseReasonName(PauseReason reason)
{
    switch (reason) {
    case PauseReason::lent:
        return QStringLiteral("lent");
    case PauseReason::locked:
        return QStringLiteral("locked");
    case PauseReason::user:
        break;
    }
    return QStringLiteral("user");
}

CameraModel::CameraModel(PreferencesStore store, CameraModelServices services, CameraModelOptions options,
                         QObject* parent)
    : QObject(parent), m_store(std::move(store)), m_options(options),
      m_clock(services.clock ? std::move(services.clock) : std::make_shared<SystemClock>()),
      m_diagnostics(makeDiagnostics(m_clock)),
      m_liveScore(std::make_unique<LiveScoreStore>()), m_session(std::move(services.capture)),
      m_alerts(std::move(services.alerts)), m_runToken(std::make_shared<CameraRunToken>()),
      m_subjectToken(std::make_shared<CameraRunToken>())
{
    registerMetaTypes();
    m_displayedDay = DailyProgressCalendar::dateID(m_clock->wallTime());
    m_message = texts::text(texts::chooseCamera) + texts::text(platformTexts.videoStaysLocal);
    m_trackingGuidance = texts::text(texts::initialGuidance);

    m_dataDirectory = QFileInfo(m_store.path()).absolutePath();
    const auto clock = m_clock;
    m_progressStore = std::make_unique<ProgressStore>(
        m_dataDirectory + QStringLiteral("/") + QString::fromLatin1(dailyProgressFileName),
        [clock] { return clock->wallTime(); }, maximumTrackingGap, progressSaveInterval, progressPublishInterval);
    m_updateResumeStore = std::make_unique<UpdateResumeStore>(
        m_dataDirectory, m_options.updateBuild.isEmpty() ? QStringLiteral("development") : m_options.updateBuild,
        m_options.processID.value_or(static_cast<qint32>(::getpid())), [clock] { return clock->wallTime(); });

    // The reminders follow the diagnostic lease's visual mode and present again whenever
    // it changes; the lease starts being read once the samples have their folder.
    m_alerts->setVisualModeProvider([policy = m_diagnostics] { return policy->currentMode(); });
    connect(m_diagnostics.get(), &DiagnosticVisualPolicy::modeChanged, this,
            [this] { m_alerts->diagnosticVisualPolicyChanged(); });
    m_performance = std::make_unique<TrackingPerformance>(m_dataDirectory, m_diagnostics);
    connect(this, &CameraModel::frameHandled, this,
            [performance = m_performance.get()](const FrameDiagnostics& frame) { performance->frameAnalysed(frame); });

    startCaptureThread(std::move(services.makeLandmarkRequest));
    loadPreferences();
    pushDisplaySettings();
    if (m_options.observesLifecycle)
        refreshCameras();
    refreshSavedState(true);
    if (m_hasSavedCalibration)
        m_message = texts::text(texts::zonesSaved);

    m_alerts->setPauseAction([model = QPointer(this)] {
        if (model)
            model->togglePause();
    });
    if (m_options.observesLifecycle)
        observeLifecycle();
}

CameraModel::~CameraModel()
{
    if (m_housekeeping)
        m_housekeeping->stop();
    closeStoreIntervals(true);
    // The session stops delivering before the worker that receives its frames goes away;
    // work still queued for the capture thread is dropped with it.
    m_session->shutDown();
    m_captureThread->quit();
    m_captureThread->wait(); // the worker is deleted on its own thread as that ends
    m_worker = nullptr;
}

void CameraModel::startCaptureThread(std::function<std::unique_ptr<FaceLandmarkRequest>()> makeLandmarkRequest)
{
    CaptureWorker::Callbacks callbacks;
    m_fromCapture = new TaskQueue(this);
    callbacks.analysed = [this, queue = m_fromCapture](FrameAnalysis analysis) {
        queue->post([this, analysis = std::move(analysis)]() mutable { handleAnalysis(std::move(analysis)); });
    };
    callbacks.sessionStarted = [this, queue = m_fromCapture](std::int64_t generation, SessionOutcome outcome,
                                                             bool running) {
        queue->post([this, generation, outcome, running] { sessionStarted(generation, outcome, running); });
    };
    callbacks.availability = [this, queue = m_fromCapture](std::int64_t generation, CameraAvailability availability) {
        queue->post([this, generation, availability] { cameraAvailabilityChanged(generation, availability); });
    };
    m_worker = new CaptureWorker(*m_session, m_runToken, m_clock, m_diagnostics,
                                 makeLandmarkRequest ? makeLandmarkRequest() : nullptr, std::move(callbacks));
    m_captureThread = std::make_unique<QThread>();
    m_captureThread->setObjectName(QStringLiteral("Verticora.camera"));
    m_worker->moveToThread(m_captureThread.get());
    connect(m_captureThread.get(), &QThread::finished, m_worker, &QObject::deleteLater);
    m_captureThread->start();
}

void CameraModel::onCaptureQueue(std::function<void(CaptureWorker&)> work)
{
    m_worker->tasks().post([worker = m_worker, work = std::move(work)] { work(*worker); });
}

void CameraModel::drainCaptureQueue(bool applyResults)
{
    m_worker->tasks().waitUntilIdle();
    if (applyResults)
        m_fromCapture->runPending();
}

void CameraModel::observeLifecycle()
{
    connect(m_session.get(), &CaptureService::devicesChanged, this, &CameraModel::refreshCameras);
    connect(m_session.get(), &CaptureService::runtimeError, this,
            [this] { stop(texts::text(texts::interrupted)); });
    if (QCoreApplication::instance()) {
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this,
                &CameraModel::prepareForApplicationTermination);
    }
    if (m_options.runsHousekeepingTimer) {
        m_housekeeping = new QTimer(this);
        m_housekeeping->setInterval(housekeepingMilliseconds);
        connect(m_housekeeping, &QTimer::timeout, this, &CameraModel::housekeepingTick);
        m_housekeeping->start();
    }
}

// Published properties.

void CameraModel::openBatch()
{
    if (m_batchOpen)
        return;
    m_batchOpen = true;
    emit willChange();
    QMetaObject::invokeMethod(this, [this] { m_batchOpen = false; }, Qt::QueuedConnection);
}

QVariant CameraModel::scoreValue() const
{
    return m_score ? QVariant(*m_score) : QVariant();
}

QVariant CameraModel::pauseUntilValue() const
{
    return m_pauseUntil ? QVariant(*m_pauseUntil) : QVariant();
}

QString CameraModel::pauseReasonValue() const
{
    return m_pauseReason ? pauseReasonName(*m_pauseReason) : QString();
}

QVariant CameraModel::persistenceMessageValue() const
{
    return m_persistenceMessage ? QVariant(*m_persistenceMessage) : QVariant();
}

void CameraModel::setControlsPage(ControlsPage page)
{
    publish(m_controlsPage, page, &CameraModel::controlsPageChanged);
}

void CameraModel::setReminderMode(ReminderMode mode)
{
    publish(m_reminderMode, mode, &CameraModel::reminderModeChanged);
}

void CameraModel::setEdgeEffectStyle(EdgeEffectStyle style)
{
    if (style == m_edgeEffectStyle)
        return;
    publish(m_edgeEffectStyle, style, &CameraModel::edgeEffectStyleChanged);
    m_alerts->setEdgeEffectStyle(style);
}

void CameraModel::setLiveChartMotion(LiveChartMotion motion)
{
    publish(m_liveChartMotion, motion, &CameraModel::liveChartMotionChanged);
}

void CameraModel::setMenuBarStyle(MenuBarStyle style)
{
    publish(m_menuBarStyle, style, &CameraModel::menuBarStyleChanged);
}

void CameraModel::setYellow(double yellow)
{
    publish(m_yellow, yellow, &CameraModel::yellowChanged);
}

void CameraModel::setRed(double red)
{
    publish(m_red, red, &CameraModel::redChanged);
}

void CameraModel::setDelay(double delay)
{
    publish(m_delay, delay, &CameraModel::delayChanged);
}

void CameraModel::setSmokeDepth(double depth)
{
    if (!std::isfinite(depth))
        return;
    const double clamped = std::clamp(depth, 0.0, maximumSmokeDepth);
    if (clamped == m_smokeDepth)
        return;
    publish(m_smokeDepth, clamped, &CameraModel::smokeDepthChanged);
    m_alerts->setSmokeDepthScale(clamped);
    persistSettings(false);
}

void CameraModel::setRedAlertEnabled(bool on)
{
    if (on == m_redAlertEnabled)
        return;
    publish(m_redAlertEnabled, on, &CameraModel::redAlertEnabledChanged);
    if (m_alerts->redAlertEnabled() != on) {
        m_alerts->setRedAlertEnabled(on);
        m_alerts->presentCurrent();
    }
    persistSettings(false);
}

// Preferences.

void CameraModel::loadPreferences()
{
    // The store sets an unreadable file aside (or refuses to write over it) before it
    // allows any save, so the settings that follow can never replace it unseen.
    const PreferencesLoad loaded = m_store.load();
    if (loaded.failure) {
        m_persistenceMessage = PreferencesStore::loadFailureMessage(*loaded.failure);
        m_showingLoadFailure = true;
        return;
    }
    if (!loaded.preferences)
        return;
    m_preferences = *loaded.preferences;
    const PosturePreferences& p = m_preferences;
    m_redAlertEnabled = p.redAlertEnabled.value_or(true);
    m_liveChartMotion = LiveChartMotion::responsive;
    if (p.liveChartMotion) {
        m_liveChartMotion = fromRawName<LiveChartMotion>(p.liveChartMotion->toStdString()).value_or(
            LiveChartMotion::responsive);
    }
    m_menuBarStyle = MenuBarStyle::color;
    m_edgeEffectStyle = p.edgeEffectStyle.value_or(EdgeEffectStyle::tide);
    // Every smoke variant of older versions is shown as the one smoke reminder.
    m_reminderMode = p.reminderMode == ReminderMode::menuBar ? ReminderMode::menuBar : ReminderMode::smoke;
    m_smokeDepth = std::clamp(p.smokeDepth.value_or(defaultSmokeDepth), 0.0, maximumSmokeDepth);
    m_selectedID = p.selectedCameraID.value_or(QString());
    m_delay = p.delay;
    m_yellow = p.yellow;
    m_red = p.red;
}

void CameraModel::pushDisplaySettings()
{
    m_alerts->setSmokeDepthScale(m_smokeDepth);
    m_alerts->setEdgeEffectStyle(m_edgeEffectStyle);
    if (m_alerts->redAlertEnabled() != m_redAlertEnabled) {
        m_alerts->setRedAlertEnabled(m_redAlertEnabled);
        m_alerts->presentCurrent();
    }
}

void CameraModel::refreshSavedState(bool loadBoundaries)
{
    const std::optional<SavedCalibration> calibration = m_preferences.calibration(m_selectedID);
    publish(m_hasSavedCalibration, calibration.has_value(), &CameraModel::hasSavedCalibrationChanged);
    if (!loadBoundaries)
        return;
    setYellow(calibration ? calibration->yellow : m_preferences.yellow);
    setRed(calibration ? calibration->red : m_preferences.red);
}

void CameraModel::persistSettings(bool includeConfirmedBaseline)
{
    PosturePreferences& p = m_preferences;
    p.liveChartMotion = texts::text(rawName(m_liveChartMotion));
    p.menuBarStyle = texts::text(rawName(MenuBarStyle::color));
    p.redAlertEnabled = m_redAlertEnabled;
    p.edgeEffectStyle = m_edgeEffectStyle;
    p.reminderMode = m_reminderMode;
    p.smokeDepth = m_smokeDepth;
    p.selectedCameraID = m_selectedID.isEmpty() ? std::nullopt : std::optional(m_selectedID);
    if (isValidDelay(m_delay))
        p.delay = m_delay;

    // A setup in progress never overwrites the saved levels.
    const bool levelsMayChange = includeConfirmedBaseline || m_stage == QLatin1String("monitoring") || !m_active;
    if (levelsMayChange && isValidThresholdPair(m_yellow, m_red)) {
        p.yellow = m_yellow;
        p.red = m_red;
        const std::optional<PoseFeatures>& baseline = m_engine.baseline();
        if (includeConfirmedBaseline && baseline && baseline->valid() && !m_selectedID.isEmpty()) {
            SavedCalibration calibration;
            calibration.cameraID = m_selectedID;
            const PoseCoreVector core = baseline->coreVector();
            calibration.baseline.assign(core.begin(), core.end());
            calibration.yellow = m_yellow;
            calibration.red = m_red;
            calibration.landmarkHeight = baseline->landmarkHeight;
            p.calibrations[m_selectedID] = calibration;
        } else if (!m_previousCalibration) {
            if (std::optional<SavedCalibration> existing = p.calibration(m_selectedID)) {
                existing->yellow = m_yellow;
                existing->red = m_red;
                p.calibrations[m_selectedID] = *existing;
            }
        }
    }

    if (const std::optional<PreferencesFailure> failure = m_store.save(m_preferences)) {
        m_showingLoadFailure = false;
        publish(m_hasSavedCalibration, false, &CameraModel::hasSavedCalibrationChanged);
        publish(m_persistenceMessage, std::optional(PreferencesStore::saveFailureMessage(*failure)),
                &CameraModel::persistenceMessageChanged);
        return;
    }
    // The load failure asks the user to set their zones again; it stays in view until
    // they have, rather than vanishing with the first save of a setting.
    if (!m_showingLoadFailure || includeConfirmedBaseline) {
        m_showingLoadFailure = false;
        publish(m_persistenceMessage, std::optional<QString>(), &CameraModel::persistenceMessageChanged);
    }
    refreshSavedState(false);
}

// Housekeeping.

void CameraModel::housekeepingTick()
{
    const double wallTime = m_clock->wallTime();
    pollPause(wallTime);

    m_performance->report({m_active, m_paused, m_hasPose && m_score.has_value() && !m_paused, m_stage, m_state,
                           m_engine.alert(), m_bottomExitHeld, m_menuBarStyle});

    const QString today = DailyProgressCalendar::dateID(wallTime);
    if (today != m_displayedDay) {
        m_displayedDay = today;
        m_progressStore->announceNewDay();
    }

    const double uptime = m_clock->uptime();
    if (m_active && !m_paused && uptime - m_lastAnalysisTime > staleCameraSeconds)
        receive(std::nullopt, uptime, FaceLossReason::cameraStale, false);
}

void CameraModel::closeStoreIntervals(bool flush)
{
    const double wallTime = m_clock->wallTime();
    m_progressStore->record(std::nullopt, m_yellow, m_red, wallTime, false);
    if (flush)
        m_progressStore->flush();
    // The live score marks a gap at once with the neutral levels.
    m_liveScore->record(std::nullopt, 0.6, 1.0, wallTime, false);
}


} // namespace verticora
