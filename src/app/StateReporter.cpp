#include "app/StateReporter.h"

#include "analysis/Statistics.h"
#include "model/CameraModel.h"
#include "model/ModelClock.h"
#include "model/ModelTexts.h"
#include "store/DailyProgressCalendar.h"
#include "store/ProgressStore.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>

#include <cstdio>
#include <sys/resource.h>

namespace verticora {

namespace {

void printLine(const QJsonObject& object)
{
    const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact);
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

StateReporter::StateReporter(CameraModel& model, const ModelClock& clock, QObject* parent)
    : QObject(parent), m_model(model), m_clock(clock)
{
    connect(&m_model, &CameraModel::changed, this, &StateReporter::report);
    connect(&m_model, &CameraModel::frameHandled, this, [this](const FrameDiagnostics& frame) {
        m_pipelineMilliseconds.push_back(frame.pipelineMilliseconds);
        m_lastFrame = frame;
    });
    // The first line once the application has started.
    QMetaObject::invokeMethod(this, &StateReporter::report, Qt::QueuedConnection);
}

void StateReporter::report()
{
    QJsonObject state{
        {QStringLiteral("stage"), texts::text(setupStageName(m_model.setup().stage()))},
        {QStringLiteral("state"), texts::text(zoneStateName(m_model.state()))},
        {QStringLiteral("message"), m_model.message()},
        {QStringLiteral("score"), m_model.score() ? QJsonValue(*m_model.score()) : QJsonValue()},
        {QStringLiteral("hasPose"), m_model.hasPose()},
        {QStringLiteral("warningProgress"), m_model.warningProgress()},
        {QStringLiteral("paused"), m_model.session().paused()},
        {QStringLiteral("pauseReason"),
         m_model.session().paused() ? QJsonValue(m_model.session().pauseReasonValue()) : QJsonValue()},
        {QStringLiteral("active"), m_model.session().active()},
    };
    const QString line = QString::fromUtf8(QJsonDocument(state).toJson(QJsonDocument::Compact));
    if (line == m_lastLine)
        return;
    m_lastLine = line;
    state.insert(QStringLiteral("uptime"), m_clock.uptime());
    printLine(state);
}

void StateReporter::printSummary(const QString& failure)
{
    report(); // the state line of changes still waiting comes first

    const QString today = DailyProgressCalendar::dateID(m_clock.wallTime());
    double green = 0;
    double yellow = 0;
    double red = 0;
    for (const DayProgress& day : m_model.progressStore().days()) {
        if (day.dateID == today) {
            green = day.greenSeconds;
            yellow = day.yellowSeconds;
            red = day.redSeconds;
        }
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;

    QJsonObject summary{
        {QStringLiteral("green_seconds"), green},
        {QStringLiteral("yellow_seconds"), yellow},
        {QStringLiteral("red_seconds"), red},
        {QStringLiteral("cpu_seconds"), cpuSeconds},
        {QStringLiteral("peak_memory_mb"), static_cast<double>(usage.ru_maxrss) / 1024.0},
        {QStringLiteral("analysed_frames"), static_cast<double>(m_pipelineMilliseconds.size())},
        {QStringLiteral("pipeline_ms_median"), median(m_pipelineMilliseconds).value_or(0)},
    };
    if (m_lastFrame) {
        // The tracker's totals over the run, as the last analysed frame left them.
        summary.insert(QStringLiteral("analysis_cpu_seconds"), m_lastFrame->analysisCpuSeconds);
        summary.insert(QStringLiteral("vision_cpu_seconds"), m_lastFrame->visionCpuSeconds);
        summary.insert(QStringLiteral("resize_cpu_seconds"), m_lastFrame->resizeCpuSeconds);
        summary.insert(QStringLiteral("tracker_full_passes"), static_cast<double>(m_lastFrame->trackerFullPasses));
        summary.insert(QStringLiteral("tracker_patch_passes"), static_cast<double>(m_lastFrame->trackerPatchPasses));
        QJsonObject fallbacks;
        for (const auto& [reason, count] : m_lastFrame->trackerFallbacks)
            fallbacks.insert(QString::fromStdString(reason), count);
        summary.insert(QStringLiteral("tracker_fallbacks"), fallbacks);
    }
    if (!failure.isEmpty())
        summary.insert(QStringLiteral("clip_error"), failure);
    printLine(QJsonObject{{QStringLiteral("summary"), summary}});
}

} // namespace verticora
