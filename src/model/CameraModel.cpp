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

#include <QFileInfo>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace verticora {

namespace {

constexpr double progressSaveInterval = 30.0;
constexpr double progressPublishInterval = 1.0;
constexpr int housekeepingMilliseconds = 300;
constexpr double staleCameraSeconds = 0.65;

std::shared_ptr<DiagnosticVisualPolicy> makeDiagnostics(const std::shared_ptr<const ModelClock>& clock)
{
    return std::make_shared<DiagnosticVisualPolicy>([clock] { return clock->wallTime(); },
                                                    [clock] { return clock->uptime(); });
}

void registerMetaTypes()
{
    qRegisterMetaType<CameraChoice>();
    qRegisterMetaType<ControlsPage>();
}

} // namespace

CameraModel::CameraModel(PreferencesStore store, CameraModelServices services, CameraModelOptions options,
                         QObject* parent)
    : QObject(parent), m_store(std::move(store)), m_options(options), m_changes(new ChangeBatch(this)),
      m_clock(services.clock ? std::move(services.clock) : std::make_shared<SystemClock>()),
      m_diagnostics(makeDiagnostics(m_clock)),
      m_liveScore(std::make_unique<LiveScoreStore>()), m_capture(std::move(services.capture)),
      m_alerts(std::move(services.alerts)),
      m_display(new DisplaySettings(*m_alerts, *m_changes, [this] { persistSettings(false); }, this)),
      m_session(new CameraSession(*m_capture, *m_changes, this)), m_setup(new HeightSetup(*m_changes, this)),
      m_runToken(std::make_shared<CameraRunToken>()),
      m_subjectToken(std::make_shared<CameraRunToken>())
{
    registerMetaTypes();
    connect(m_changes, &ChangeBatch::changed, this, &CameraModel::changed);
    m_displayedDay = DailyProgressCalendar::dateID(m_clock->wallTime());
    m_message = texts::text(texts::chooseCamera) + texts::text(platformTexts.videoStaysLocal);
    m_trackingGuidance = texts::text(texts::initialGuidance);

    m_dataDirectory = QFileInfo(m_store.path()).absolutePath();
    const auto clock = m_clock;
    m_progressStore = std::make_unique<ProgressStore>(
        m_dataDirectory + QStringLiteral("/") + QString::fromLatin1(dailyProgressFileName),
        [clock] { return clock->wallTime(); }, maximumTrackingGap, progressSaveInterval, progressPublishInterval);

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
    // Without a readable record the defaults are shown.
    m_display->load(m_preferences);
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
    m_capture->shutDown();
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
    m_worker = new CaptureWorker(*m_capture, m_runToken, m_clock, m_diagnostics,
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
    connect(m_capture.get(), &CaptureService::devicesChanged, this, &CameraModel::refreshCameras);
    connect(m_capture.get(), &CaptureService::runtimeError, this,
            [this] { stop(texts::text(texts::interrupted)); });
    if (m_options.runsHousekeepingTimer) {
        m_housekeeping = new QTimer(this);
        m_housekeeping->setInterval(housekeepingMilliseconds);
        connect(m_housekeeping, &QTimer::timeout, this, &CameraModel::housekeepingTick);
        m_housekeeping->start();
    }
}

// Published properties.

QVariant CameraModel::scoreValue() const
{
    return m_score ? QVariant(*m_score) : QVariant();
}

QVariant CameraModel::persistenceMessageValue() const
{
    return m_persistenceMessage ? QVariant(*m_persistenceMessage) : QVariant();
}

void CameraModel::setControlsPage(ControlsPage page)
{
    publish(m_controlsPage, page);
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
    m_session->setSelectedID(p.selectedCameraID.value_or(QString()));
    m_setup->setDelay(p.delay);
    m_setup->setYellow(p.yellow);
    m_setup->setRed(p.red);
}

void CameraModel::refreshSavedState(bool loadBoundaries)
{
    const std::optional<SavedCalibration> calibration = m_preferences.calibration(m_session->selectedID());
    publish(m_hasSavedCalibration, calibration.has_value());
    if (!loadBoundaries)
        return;
    m_setup->setYellow(calibration ? calibration->yellow : m_preferences.yellow);
    m_setup->setRed(calibration ? calibration->red : m_preferences.red);
}

void CameraModel::persistSettings(bool includeConfirmedBaseline)
{
    PosturePreferences& p = m_preferences;
    m_display->storeInto(p);
    p.selectedCameraID = m_session->selectedID().isEmpty() ? std::nullopt : std::optional(m_session->selectedID());
    if (isValidDelay(m_setup->delay()))
        p.delay = m_setup->delay();

    // A setup in progress never overwrites the saved levels.
    const bool levelsMayChange =
        includeConfirmedBaseline || m_setup->stage() == SetupStage::monitoring || !m_session->active();
    if (levelsMayChange && isValidThresholdPair(m_setup->yellow(), m_setup->red())) {
        p.yellow = m_setup->yellow();
        p.red = m_setup->red();
        const std::optional<PoseFeatures>& baseline = m_engine.baseline();
        if (includeConfirmedBaseline && baseline && baseline->valid() && !m_session->selectedID().isEmpty()) {
            SavedCalibration calibration;
            calibration.cameraID = m_session->selectedID();
            const PoseCoreVector core = baseline->coreVector();
            calibration.baseline.assign(core.begin(), core.end());
            calibration.yellow = m_setup->yellow();
            calibration.red = m_setup->red();
            calibration.landmarkHeight = baseline->landmarkHeight;
            p.calibrations[m_session->selectedID()] = calibration;
        } else if (!m_setup->previousCalibration()) {
            if (std::optional<SavedCalibration> existing = p.calibration(m_session->selectedID())) {
                existing->yellow = m_setup->yellow();
                existing->red = m_setup->red();
                p.calibrations[m_session->selectedID()] = *existing;
            }
        }
    }

    if (const std::optional<PreferencesFailure> failure = m_store.save(m_preferences)) {
        m_showingLoadFailure = false;
        publish(m_hasSavedCalibration, false);
        publish(m_persistenceMessage, std::optional(PreferencesStore::saveFailureMessage(*failure)));
        return;
    }
    // The load failure asks the user to set their zones again; it stays in view until
    // they have, rather than vanishing with the first save of a setting.
    if (!m_showingLoadFailure || includeConfirmedBaseline) {
        m_showingLoadFailure = false;
        publish(m_persistenceMessage, std::optional<QString>());
    }
    refreshSavedState(false);
}

// Housekeeping.

void CameraModel::housekeepingTick()
{
    const double wallTime = m_clock->wallTime();
    pollPause(wallTime);

    const bool valid = m_hasPose && m_score.has_value() && !m_session->paused();
    m_performance->report({m_session->active(), m_session->paused(), valid,
                           texts::text(setupStageName(m_setup->stage())), texts::text(zoneStateName(m_state)),
                           m_engine.alert(), m_bottomExitHeld, m_display->menuBarStyle()});

    const QString today = DailyProgressCalendar::dateID(wallTime);
    if (today != m_displayedDay) {
        m_displayedDay = today;
        m_progressStore->announceNewDay();
    }

    const double uptime = m_clock->uptime();
    if (m_session->active() && !m_session->paused() && uptime - m_lastAnalysisTime > staleCameraSeconds)
        receive(std::nullopt, uptime, FaceLossReason::cameraStale, false);
}

void CameraModel::closeStoreIntervals(bool flush)
{
    const double wallTime = m_clock->wallTime();
    m_progressStore->record(std::nullopt, m_setup->yellow(), m_setup->red(), wallTime, false);
    if (flush)
        m_progressStore->flush();
    // The live score marks a gap at once with the neutral levels.
    m_liveScore->record(std::nullopt, 0.6, 1.0, wallTime, false);
}


} // namespace verticora
