#include "store/TrackingPerformance.h"

#include "store/DataFolder.h"
#include "store/DiagnosticVisualPolicy.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/resource.h>

namespace verticora {

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

void TrackingPerformance::report(bool active, bool paused, bool valid)
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
    row.insert(QStringLiteral("active"), active);
    row.insert(QStringLiteral("paused"), paused);
    row.insert(QStringLiteral("valid"), valid);
    row.insert(QStringLiteral("capture"), m_captureInfo);
    const std::string_view mode = rawName(m_policy->currentMode());
    row.insert(QStringLiteral("visual_mode"), QString::fromUtf8(mode.data(), qsizetype(mode.size())));
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
