// The frame loop on the main thread: hand-over, receive and the reminders it drives.

#include "model/CameraModel.h"

#include "analysis/AnalysisCadence.h"
#include "analysis/ThresholdRules.h"
#include "model/AlertController.h"
#include "model/CameraRunToken.h"
#include "model/CaptureWorker.h"
#include "model/ModelClock.h"
#include "model/ModelTexts.h"
#include "model/ZoneAppearance.h"
#include "store/LiveScoreStore.h"
#include "store/ProgressStore.h"
#include "store/TrackingPerformance.h"

#include <cmath>

namespace verticora {

namespace {

constexpr double monitoringInterval = AnalysisCadence::monitoringInterval;
constexpr double lostAfterSeconds = 1.0;
constexpr double reacquisitionSeconds = 0.35;

QString stateName(ZoneState state)
{
    return texts::text(zoneStateName(state));
}

QList<QPointF> toPoints(const std::vector<Point>& points)
{
    QList<QPointF> result;
    result.reserve(static_cast<qsizetype>(points.size()));
    for (const Point& p : points)
        result.append(QPointF(p.x, p.y));
    return result;
}

} // namespace

void CameraModel::handleAnalysis(FrameAnalysis analysis)
{
    if (!m_active || m_paused || m_generation != analysis.generation || m_subjectToken->value() != analysis.subject)
        return;
    m_trackingGuidance = QString::fromStdString(analysis.guidance);
    if (analysis.previewAttached)
        publish(m_landmarks, toPoints(analysis.points), &CameraModel::landmarksChanged);
    publish(m_frameAspect, analysis.aspect, &CameraModel::frameAspectChanged);

    receive(analysis.features, analysis.time, analysis.loss, true);

    FrameDiagnostics& frame = analysis.diagnostics;
    const double uptime = m_clock->uptime();
    frame.reacquiring = m_awaitingReacquisition;
    frame.analysisAgeSeconds = uptime - m_lastAnalysisTime;
    frame.pipelineMilliseconds = (uptime - analysis.time) * 1000.0;
    emit frameHandled(frame);
}

void CameraModel::receive(const std::optional<PoseFeatures>& features, double time, FaceLossReason loss,
                          bool fromCameraFrame)
{
    if (!std::isfinite(time))
        return;
    if (fromCameraFrame)
        m_lastAnalysisTime = time;

    std::optional<PoseFeatures> pose;
    if (features && features->valid())
        pose = features;
    const double previous = m_lastFrame;
    if (pose)
        m_lastFrame = time;
    m_pose = pose;
    publish(m_hasPose, pose.has_value(), &CameraModel::hasPoseChanged);

    if (!m_paused) {
        if (!pose)
            receiveWithoutPose(time, loss, fromCameraFrame, previous);
        else if (receiveReacquisition(time, previous))
            receiveByStage(*pose, time);
    }
    recordReading(time);
}

void CameraModel::receiveWithoutPose(double time, FaceLossReason loss, bool fromCameraFrame, double previous)
{
    const bool reviewing = m_stage == QLatin1String("monitoring") || m_stage == QLatin1String("review");
    if (loss == FaceLossReason::bottom && reviewing) {
        if (const std::optional<ZoneResult> held = m_engine.holdBottomExit(time)) {
            // The face left through the bottom while red: keep counting towards the reminder.
            publish(m_bottomExitHeld, true, &CameraModel::bottomExitHeldChanged);
            m_awaitingReacquisition = false;
            m_reacquiredSince.reset();
            m_lossSince.reset();
            publish(m_landmarks, QList<QPointF>(), &CameraModel::landmarksChanged);
            publish(m_score, held->score, &CameraModel::scoreChanged);
            publish(m_state, stateName(held->state), &CameraModel::stateChanged);
            publish(m_warningProgress, held->warningProgress, &CameraModel::warningProgressChanged);
            m_setupCheck.lowerSince.reset();
            m_setupCheck.lastTime.reset();
            publish(m_message, texts::text(texts::movedBelowCamera), &CameraModel::messageChanged);
            if (m_options.presentsVisuals)
                presentResult(*held, true, false, true); // the face is out of view but the episode goes on
            return;
        }
    }

    publish(m_bottomExitHeld, false, &CameraModel::bottomExitHeldChanged);
    sendAnalysisInterval(monitoringInterval);
    if (!m_lossSince)
        m_lossSince = time;
    // A short silence of the camera right after a good frame is not a real loss.
    const double sinceGoodFrame = time - previous;
    const bool shortSilence = loss == FaceLossReason::cameraStale && !fromCameraFrame && sinceGoodFrame >= 0
        && sinceGoodFrame <= maximumTrackingGap;
    if (!shortSilence) {
        m_awaitingReacquisition = true;
        m_reacquiredSince.reset();
    }

    publish(m_landmarks, QList<QPointF>(), &CameraModel::landmarksChanged);
    publish(m_warningProgress, 0.0, &CameraModel::warningProgressChanged);
    publish(m_score, std::optional<double>(), &CameraModel::scoreChanged);
    (void)m_engine.update(std::nullopt, time);
    publish(m_progress, 0.0, &CameraModel::progressChanged);
    m_setupCheck.lowerSince.reset();
    m_setupCheck.lastTime.reset();
    hideAlerts();

    if (time - *m_lossSince >= lostAfterSeconds) {
        publish(m_state, QStringLiteral("lost"), &CameraModel::stateChanged);
        publish(m_message, texts::text(texts::trackingLost), &CameraModel::messageChanged);
    }
}

bool CameraModel::receiveReacquisition(double time, double previous)
{
    if (m_bottomExitHeld) {
        publish(m_bottomExitHeld, false, &CameraModel::bottomExitHeldChanged);
        m_awaitingReacquisition = false;
        m_reacquiredSince.reset();
    }
    if (m_awaitingReacquisition) {
        const double gap = time - previous;
        if (gap > maximumTrackingGap || gap < 0)
            m_reacquiredSince.reset();
        if (!m_reacquiredSince)
            m_reacquiredSince = time;
        if (time - *m_reacquiredSince < reacquisitionSeconds) {
            // A face must be seen steadily before tracking resumes.
            publish(m_hasPose, false, &CameraModel::hasPoseChanged);
            hideAlerts();
            return false;
        }
        m_awaitingReacquisition = false;
        m_reacquiredSince.reset();
        m_engine.clearRedEpisode();
    }
    m_lossSince.reset();
    if (m_state == QLatin1String("lost"))
        publish(m_state, QStringLiteral("ready"), &CameraModel::stateChanged);
    return true;
}

void CameraModel::receiveByStage(const PoseFeatures& pose, double time)
{
    if (m_stage == QLatin1String("green") && m_capturing) {
        receiveCapture(pose, time);
    } else if (!m_engine.baseline()) {
        publish(m_state, QStringLiteral("ready"), &CameraModel::stateChanged);
        publish(m_message, texts::text(texts::setHeightFirst), &CameraModel::messageChanged);
    } else if (m_stage == QLatin1String("review")) {
        receiveReview(pose, time);
    } else if (m_stage == QLatin1String("monitoring")) {
        receiveMonitoring(pose, time);
    }
}

void CameraModel::receiveCapture(const PoseFeatures& pose, double time)
{
    const ZoneResult result = m_engine.update(pose, time);
    publish(m_progress, result.progress, &CameraModel::progressChanged);
    if (!result.calibrated) {
        publish(m_message, texts::text(result.calibrationRestarted ? texts::captureRestarted : texts::captureHold),
                &CameraModel::messageChanged);
        return;
    }
    onCaptureQueue([](CaptureWorker& worker) {
        worker.setAnalysisInterval(monitoringInterval);
        worker.configureCaptureRate(false);
    });
    if (m_engine.baseline()->landmarkHeight) {
        setYellow(0.45);
        setRed(0.85);
    }
    publish(m_capturing, false, &CameraModel::capturingChanged);
    publish(m_progress, 0.0, &CameraModel::progressChanged);
    publish(m_stage, QStringLiteral("review"), &CameraModel::stageChanged);
    publish(m_score, std::optional(0.0), &CameraModel::scoreChanged);
    publish(m_state, QStringLiteral("inside"), &CameraModel::stateChanged);
    restartSetupCheck();
    m_reviewThresholds = {m_yellow, m_red};
    confirm();
}

void CameraModel::receiveReview(const PoseFeatures& pose, double time)
{
    refreshSetupCheckThresholds();
    const ZoneResult result = m_engine.update(pose, time);
    publish(m_score, result.score, &CameraModel::scoreChanged);
    publish(m_state, stateName(result.state), &CameraModel::stateChanged);
    publish(m_warningProgress, result.warningProgress, &CameraModel::warningProgressChanged);
    if (result.score) {
        m_setupCheck.update(*result.score, m_yellow, m_red, time);
        publish(m_setupCheckPhase, texts::text(setupCheckPhaseName(m_setupCheck.phase)),
                &CameraModel::setupCheckPhaseChanged);
    }
    publish(m_message, texts::text(m_persistenceMessage ? texts::heightNotSaved : texts::finishingSetup),
            &CameraModel::messageChanged);
    if (!m_options.presentsVisuals)
        return;
    if (m_persistenceMessage) {
        hideAlerts();
        return;
    }
    m_alerts->setSmokeDepthScale(m_smokeDepth);
    presentResult(result, true, m_paused, m_hasPose);
}

void CameraModel::receiveMonitoring(const PoseFeatures& pose, double time)
{
    const ZoneResult result = m_engine.update(pose, time);
    publish(m_state, stateName(result.state), &CameraModel::stateChanged);
    publish(m_score, result.score, &CameraModel::scoreChanged);
    publish(m_warningProgress, result.warningProgress, &CameraModel::warningProgressChanged);

    const double interval =
        AnalysisCadence::monitoringSpacing(result.state == ZoneState::inside, result.score, m_yellow);
    onCaptureQueue([interval, baseline = m_engine.baseline(), yellow = m_yellow, red = m_red](CaptureWorker& worker) {
        worker.applyMonitoring(interval, baseline, yellow, red);
    });

    std::string_view sentence = texts::belowRed;
    if (result.state == ZoneState::inside)
        sentence = texts::atHeight;
    else if (result.state == ZoneState::yellow)
        sentence = texts::aLittleLower;
    else if (result.state == ZoneState::lost)
        sentence = texts::trackingLost; // the height could not be measured, not a sink
    publish(m_message, texts::text(sentence), &CameraModel::messageChanged);

    if (!m_options.presentsVisuals)
        return;
    m_alerts->setSmokeDepthScale(m_smokeDepth);
    presentResult(result, m_stage == QLatin1String("monitoring"), m_paused, m_hasPose);
}

void CameraModel::presentResult(const ZoneResult& result, bool monitoring, bool paused, bool tracking)
{
    m_alerts->setAppearance(resolveZoneAppearance(result, monitoring, paused, tracking));
    m_alerts->setSeverity(result.severity);
    m_alerts->setProgress(result.warningProgress);
    m_alerts->presentCurrent();
}

void CameraModel::hideAlerts()
{
    m_alerts->setAppearance(ZoneAppearance::hidden);
    m_alerts->presentCurrent();
}

void CameraModel::recordReading(double time)
{
    const bool eligible =
        m_active && m_stage == QLatin1String("monitoring") && !m_paused && m_hasPose && m_score.has_value();
    m_performance->record(eligible, m_state, time);
    const double wallTime = m_clock->wallTime();
    m_progressStore->record(m_score, m_yellow, m_red, wallTime, eligible);
    m_liveScore->record(m_score, m_yellow, m_red, wallTime, eligible);
}

void CameraModel::sendAnalysisInterval(double interval)
{
    onCaptureQueue([interval](CaptureWorker& worker) { worker.setAnalysisInterval(interval); });
}

void CameraModel::resetSubject()
{
    const std::int64_t subject = m_subjectToken->increment();
    publish(m_bottomExitHeld, false, &CameraModel::bottomExitHeldChanged);
    onCaptureQueue([subject](CaptureWorker& worker) { worker.resetSubject(subject); });
}

} // namespace verticora
