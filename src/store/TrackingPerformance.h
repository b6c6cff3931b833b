#pragma once

#include <QList>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

namespace verticora {

class DiagnosticVisualPolicy;

// Performance samples of the frame loop while a diagnostic lease runs: tracked time and
// readings per band, and every five seconds a row with the process's CPU time and the
// latest frame's diagnostics, appended to performance-samples.json (the newest 180 rows).
// Without a lease it counts nothing and writes nothing. Main thread only.
class TrackingPerformance {
public:
    static constexpr int maximumRows = 180;
    static constexpr double reportInterval = 5;       // seconds of uptime between rows
    static constexpr double maximumSampleGap = 0.65;  // longer gaps between readings count nothing

    // Writes into `directory` and points `policy` at the same folder.
    TrackingPerformance(const QString& directory, std::shared_ptr<DiagnosticVisualPolicy> policy);

    // The latest frame's diagnostics, filled by the frame loop and its housekeeping tick.
    [[nodiscard]] QVariantMap& captureInfo() { return m_captureInfo; }
    [[nodiscard]] const QVariantMap& captureInfo() const { return m_captureInfo; }

    // One processed frame: whether it was a tracked reading, the model's state and the
    // frame's uptime.
    void record(bool valid, const QString& band, double at);
    // The housekeeping tick: appends and writes a row when five seconds have passed.
    void report(bool active, bool paused, bool valid);

    [[nodiscard]] double tracked() const { return m_tracked; }
    [[nodiscard]] int samples() const { return m_samples; }
    [[nodiscard]] const QVariantMap& bands() const { return m_bands; }
    [[nodiscard]] const QList<QVariantMap>& rows() const { return m_rows; }
    [[nodiscard]] const QString& output() const { return m_output; }

private:
    QVariantMap m_captureInfo;
    QString m_output;
    std::shared_ptr<DiagnosticVisualPolicy> m_policy;
    std::optional<double> m_lastValid;
    double m_tracked = 0;
    int m_samples = 0;
    QVariantMap m_bands;
    double m_lastReport = 0;
    QList<QVariantMap> m_rows;
};

// CPU seconds (user plus system) this process has used; none when unknown.
[[nodiscard]] std::optional<double> processCpuSeconds();

} // namespace verticora
