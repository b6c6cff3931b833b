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
    if (!m_session->active() || m_session->paused() || m_generation != analysis.generation
        || m_subjectToken->value() != analysis.subject)
        return;
    m_trackingGuidance = QString::fromStdString(analysis.guidance);
    if (analysis.previewAttached)
        publish(m_landmarks, toPoints(analysis.points));
    publish(m_frameAspect, analysis.aspect);

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
    publish(m_hasPose, pose.has_value());

    if (!m_session->paused()) {
        if (!pose)
            receiveWithoutPose(time, loss, fromCameraFrame, previous);
        else if (receiveReacquisition(time, previous))
            receiveByStage(*pose, time);
    }
    recordReading(time);
}

void CameraModel::receiveWithoutPose(double time, FaceLossReason loss, bool fromCameraFrame, double previous)
{
    const bool reviewing = m_setup->heightCaptured();
    if (loss == FaceLossReason::bottom && reviewing) {
        if (const std::optional<ZoneResult> held = m_engine.holdBottomExit(time)) {
            // The face left through the bottom while red: keep counting towards the reminder.
            publish(m_bottomExitHeld, true);
            m_awaitingReacquisition = false;
            m_reacquiredSince.reset();
            m_lossSince.reset();
            publish(m_landmarks, QList<QPointF>());
            publish(m_score, held->score);
            publish(m_state, held->state);
            publish(m_warningProgress, held->warningProgress);
            m_setup->interruptCheck();
            publish(m_message, texts::text(texts::movedBelowCamera));
            if (m_options.presentsVisuals)
                presentResult(*held, true, false, true); // the face is out of view but the episode goes on
            return;
        }
    }

    publish(m_bottomExitHeld, false);
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

    publish(m_landmarks, QList<QPointF>());
    publish(m_warningProgress, 0.0);
    publish(m_score, std::optional<double>());
    (void)m_engine.update(std::nullopt, time);
    m_setup->setProgress(0.0);
    m_setup->interruptCheck();
    hideAlerts();

    if (time - *m_lossSince >= lostAfterSeconds) {
        publish(m_state, ZoneState::lost);
        publish(m_message, texts::text(texts::trackingLost));
    }
}

bool CameraModel::receiveReacquisition(double time, double previous)
{
    if (m_bottomExitHeld) {
        publish(m_bottomExitHeld, false);
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
            publish(m_hasPose, false);
            hideAlerts();
            return false;
        }
        m_awaitingReacquisition = false;
        m_reacquiredSince.reset();
        m_engine.clearRedEpisode();
    }
    m_lossSince.reset();
    if (m_state == ZoneState::lost)
        publish(m_state, ZoneState::ready);
    return true;
}

void CameraModel::receiveByStage(const PoseFeatures& pose, double time)
{
    if (m_setup->stage() == SetupStage::heightSetup && m_setup->capturing()) {
        receiveCapture(pose, time);
    } else if (!m_engine.baseline()) {
        publish(m_state, ZoneState::ready);
        publish(m_message, texts::text(texts::setHeightFirst));
    } else if (m_setup->stage() == SetupStage::review) {
        receiveReview(pose, time);
    } else if (m_setup->stage() == SetupStage::monitoring) {
        receiveMonitoring(pose, time);
    }
}

void CameraModel::receiveCapture(const PoseFeatures& pose, double time)
{
    const ZoneResult result = m_engine.update(pose, time);
    m_setup->setProgress(result.progress);
    if (!result.calibrated) {
        publish(m_message, texts::text(result.calibrationRestarted ? texts::captureRestarted : texts::captureHold));
        return;
    }
    onCaptureQueue([](CaptureWorker& worker) {
        worker.setAnalysisInterval(monitoringInterval);
        worker.configureCaptureRate(false);
    });
    if (m_engine.baseline()->landmarkHeight) {
        m_setup->setYellow(0.45);
        m_setup->setRed(0.85);
    }
    m_setup->setCapturing(false);
    m_setup->setProgress(0.0);
    m_setup->setStage(SetupStage::review);
    publish(m_score, std::optional(0.0));
    publish(m_state, ZoneState::inside);
    m_setup->beginCheck();
    confirm();
}

void CameraModel::receiveReview(const PoseFeatures& pose, double time)
{
    m_setup->followLevels();
    const ZoneResult result = m_engine.update(pose, time);
    publish(m_score, result.score);
    publish(m_state, result.state);
    publish(m_warningProgress, result.warningProgress);
    if (result.score) {
        m_setup->updateCheck(*result.score, time);
    }
    publish(m_message, texts::text(m_persistenceMessage ? texts::heightNotSaved : texts::finishingSetup));
    if (!m_options.presentsVisuals)
        return;
    if (m_persistenceMessage) {
        hideAlerts();
        return;
    }
    m_alerts->setSmokeDepthScale(m_display->smokeDepth());
    presentResult(result, true, m_session->paused(), m_hasPose);
}

void CameraModel::receiveMonitoring(const PoseFeatures& pose, double time)
{
    const ZoneResult result = m_engine.update(pose, time);
    publish(m_state, result.state);
    publish(m_score, result.score);
    publish(m_warningProgress, result.warningProgress);

    const double interval =
        AnalysisCadence::monitoringSpacing(result.state == ZoneState::inside, result.score, m_setup->yellow());
    onCaptureQueue([interval, baseline = m_engine.baseline(), yellow = m_setup->yellow(),
                    red = m_setup->red()](CaptureWorker& worker) { worker.applyMonitoring(interval, baseline, yellow, red); });

    std::string_view sentence = texts::belowRed;
    if (result.state == ZoneState::inside)
        sentence = texts::atHeight;
    else if (result.state == ZoneState::yellow)
        sentence = texts::aLittleLower;
    else if (result.state == ZoneState::lost)
        sentence = texts::trackingLost; // the height could not be measured, not a sink
    publish(m_message, texts::text(sentence));

    if (!m_options.presentsVisuals)
        return;
    m_alerts->setSmokeDepthScale(m_display->smokeDepth());
    presentResult(result, m_setup->stage() == SetupStage::monitoring, m_session->paused(), m_hasPose);
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
    const bool eligible = m_session->active() && m_setup->stage() == SetupStage::monitoring && !m_session->paused()
        && m_hasPose && m_score.has_value();
    m_performance->record(eligible, stateName(m_state), time);
    const double wallTime = m_clock->wallTime();
    m_progressStore->record(m_score, m_setup->yellow(), m_setup->red(), wallTime, eligible);
    m_liveScore->record(m_score, m_setup->yellow(), m_setup->red(), wallTime, eligible);
}

void CameraModel::sendAnalysisInterval(double interval)
{
    onCaptureQueue([interval](CaptureWorker& worker) { worker.setAnalysisInterval(interval); });
}

void CameraModel::resetSubject()
{
    const std::int64_t subject = m_subjectToken->increment();
    publish(m_bottomExitHeld, false);
    onCaptureQueue([subject](CaptureWorker& worker) { worker.resetSubject(subject); });
}

} // namespace verticora
