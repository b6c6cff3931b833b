#include "store/TrackingPerformance.h"

#include "store/DataFolder.h"
#include "store/DiagnosticVisualPolicy.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/resource.h>

namespace verticora {

namespace {

QString text(std::string_view name)
{
    return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}

QVariantMap countsToVariant(const std::map<std::string, int>& counts)
{
    QVariantMap map;
    for (const auto& [key, count] : counts)
        map.insert(QString::fromStdString(key), count);
    return map;
}

// A row's "capture": the latest analysed frame, when there was one, and the model now.
QVariantMap captureInfo(const std::optional<FrameDiagnostics>& frame, const ModelDiagnostics& model)
{
    QVariantMap info;
    if (frame) {
        info.insert(QStringLiteral("frames"), static_cast<qlonglong>(frame->frames));
        info.insert(QStringLiteral("format"), static_cast<uint>(frame->format));
        info.insert(QStringLiteral("width"), frame->width);
        info.insert(QStringLiteral("height"), frame->height);
        if (frame->trackerAblationFull)
            info.insert(QStringLiteral("tracker_ablation_full"), *frame->trackerAblationFull);
        info.insert(QStringLiteral("tracker_radius"), frame->trackerRadius);
        info.insert(QStringLiteral("tracker_path"), QString::fromStdString(frame->trackerPath));
        info.insert(QStringLiteral("tracker_full_passes"), frame->trackerFullPasses);
        info.insert(QStringLiteral("tracker_faces"), frame->trackerFaces);
        info.insert(QStringLiteral("tracker_decision"), QString::fromStdString(frame->trackerDecision));
        info.insert(QStringLiteral("features_valid"), frame->featuresValid);
        info.insert(QStringLiteral("tracker_seed_failures"), countsToVariant(frame->trackerSeedFailures));
        info.insert(QStringLiteral("tracker_patch_passes"), frame->trackerPatchPasses);
        info.insert(QStringLiteral("tracker_fallbacks"), countsToVariant(frame->trackerFallbacks));
        if (frame->trackerSeedFailure)
            info.insert(QStringLiteral("tracker_seed_failure"), QString::fromStdString(*frame->trackerSeedFailure));
        info.insert(QStringLiteral("tracking_rate_delivery"), frame->trackingRateDelivery);
        info.insert(QStringLiteral("analysis_interval"), frame->analysisInterval);
        info.insert(QStringLiteral("observation_gap"), frame->observationGap);
        info.insert(QStringLiteral("resize_cpu_seconds"), frame->resizeCpuSeconds);
        info.insert(QStringLiteral("vision_cpu_seconds"), frame->visionCpuSeconds);
        if (frame->motionDifference)
            info.insert(QStringLiteral("motion_difference"), *frame->motionDifference);
        info.insert(QStringLiteral("motion_vertical_shift"), frame->motionVerticalShift);
        info.insert(QStringLiteral("analysis_cpu_seconds"), frame->analysisCpuSeconds);
        info.insert(QStringLiteral("preview_attached"), frame->previewAttached);
        info.insert(QStringLiteral("reacquiring"), frame->reacquiring);
        info.insert(QStringLiteral("analysis_age_seconds"), frame->analysisAgeSeconds);
        info.insert(QStringLiteral("pipeline_ms"), frame->pipelineMilliseconds);
    }
    info.insert(QStringLiteral("stage"), model.stage);
    info.insert(QStringLiteral("state"), model.state);
    info.insert(QStringLiteral("alert"), model.alert);
    info.insert(QStringLiteral("bottom_exit_held"), model.bottomExitHeld);
    info.insert(QStringLiteral("menu_style"), text(rawName(model.menuStyle)));
    return info;
}

} // namespace

std::optional<double> processCpuSeconds()
{
    rusage usage{};
    if (::getrusage(RUSAGE_SELF, &usage) != 0)
        return std::nullopt;
    const auto seconds = [](const timeval& time) { return double(time.tv_sec) + double(time.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

TrackingPerformance::TrackingPerformance(const QString& directory, std::shared_ptr<DiagnosticVisualPolicy> policy)
    : m_output(directory + u'/' + QLatin1StringView(performanceSamplesFileName)), m_policy(std::move(policy))
{
    m_policy->configure(directory);
    removeAbandonedTemporaries(m_output);
}

void TrackingPerformance::record(bool valid, const QString& band, double at)
{
    if (!valid || !m_policy->isEnabled()) {
        m_lastValid.reset();
        return;
    }
    if (m_lastValid && *m_lastValid <= at && at - *m_lastValid <= maximumSampleGap)
        m_tracked += at - *m_lastValid;
    m_lastValid = at;
    ++m_samples;
    m_bands[band] = m_bands.value(band).toInt() + 1;
}

void TrackingPerformance::report(const ModelDiagnostics& model)
{
    if (!m_policy->isEnabled())
        return;
    const double uptime = m_policy->uptime();
    if (uptime - m_lastReport < reportInterval)
        return;
    m_lastReport = uptime;
    const std::optional<double> cpu = processCpuSeconds();
    if (!cpu)
        return;

    QVariantMap row;
    row.insert(QStringLiteral("uptime"), uptime);
    row.insert(QStringLiteral("cpu_seconds"), *cpu);
    row.insert(QStringLiteral("tracked_seconds"), m_tracked);
    row.insert(QStringLiteral("valid_samples"), m_samples);
    row.insert(QStringLiteral("bands"), m_bands);
    row.insert(QStringLiteral("active"), model.active);
    row.insert(QStringLiteral("paused"), model.paused);
    row.insert(QStringLiteral("valid"), model.valid);
    row.insert(QStringLiteral("capture"), captureInfo(m_lastFrame, model));
    row.insert(QStringLiteral("visual_mode"), text(rawName(m_policy->currentMode())));
    if (m_rows.size() >= maximumRows)
        m_rows.removeFirst();
    m_rows.append(std::move(row));

    QJsonArray array;
    for (const QVariantMap& each : std::as_const(m_rows))
        array.append(QJsonObject::fromVariantMap(each)); // QJsonObject keeps its keys sorted
    // A sample that cannot be written is simply missing from the file.
    (void)writeDataFile(m_output, QJsonDocument(array).toJson(QJsonDocument::Compact));
}

} // namespace verticora
