#pragma once

#include "store/SettingsEnums.h"
#include "store/TrackingLease.h"

#include <QList>
#include <QString>
#include <QVariantMap>

#include <memory>
#include <optional>

namespace verticora {

class DiagnosticVisualPolicy;

// The model at a housekeeping tick, as a sample row records it.
struct ModelDiagnostics {
    bool active = false;
    bool paused = false;
    bool valid = false; // a pose with a score, not paused
    QString stage{};
    QString state{};
    bool alert = false;
    bool bottomExitHeld = false;
    MenuBarStyle menuStyle = MenuBarStyle::color;
};

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

    // One analysed frame; the next row shows the latest, whenever it came.
    void frameAnalysed(const FrameDiagnostics& frame) { m_lastFrame = frame; }
    // One processed frame: whether it was a tracked reading, the model's state and the
    // frame's uptime.
    void record(bool valid, const QString& band, double at);
    // The housekeeping tick: appends and writes a row when five seconds have passed.
    void report(const ModelDiagnostics& model);

    [[nodiscard]] double tracked() const { return m_tracked; }
    [[nodiscard]] int samples() const { return m_samples; }
    [[nodiscard]] const QVariantMap& bands() const { return m_bands; }
    [[nodiscard]] const QString& output() const { return m_output; }

private:
    std::optional<FrameDiagnostics> m_lastFrame;
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
