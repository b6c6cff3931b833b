#pragma once

#include "store/SettingsEnums.h"
#include "store/TrackingLease.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <mutex>
#include <optional>

class QTimer;

namespace verticora {

inline constexpr char performanceRequestFileName[] = "performance-request.json";
inline constexpr char performanceSamplesFileName[] = "performance-samples.json";

// The content of performance-request.json, which an outside tool writes to start a
// diagnostic lease.
struct DiagnosticVisualRequest {
    static constexpr double maximumLease = 900; // seconds

    double expires = 0;                  // end of the lease, seconds since 1970
    std::optional<QString> visualMode;   // a DiagnosticVisualMode raw name; "full" when absent
    std::optional<QString> trackerMode;  // "full" forces full detector passes
    std::optional<qint64> trackerRadius; // only 7, 10 and 12 are honoured

    // The request in `data` when it may start a lease at wall time `now`: it decodes, and
    // it ends after `now` but at most 15 minutes after it. None for anything else,
    // including a missing file.
    [[nodiscard]] static std::optional<DiagnosticVisualRequest> accepted(const std::optional<QByteArray>& data,
                                                                         double now);
};

// A lease as the application holds it. It ends by the wall clock (`expires`) and by the
// monotonic clock (`deadline`), so setting the system clock back never extends it.
struct DiagnosticVisualLease {
    std::optional<DiagnosticVisualRequest> request;
    bool observed = false;            // some file content (or its absence) was seen
    std::optional<QByteArray> lastData;
    std::optional<double> lastExpiry; // the `expires` value `deadline` was computed for
    double deadline = 0;              // uptime at which the lease ends

    // Takes in the file's current content; the same content as last time changes nothing,
    // and a rewritten file with the same `expires` keeps the deadline it had.
    void replace(const std::optional<QByteArray>& data, double wallTime, double uptime);

    [[nodiscard]] bool active(double wallTime, double uptime) const;
    // Seconds until either clock ends the lease; 0 without one.
    [[nodiscard]] double remaining(double wallTime, double uptime) const;
    [[nodiscard]] DiagnosticVisualMode mode(double wallTime, double uptime) const;
    [[nodiscard]] bool forcesFullTracker(double wallTime, double uptime) const;
    [[nodiscard]] int trackerRadius(double wallTime, double uptime) const;
};

// Reads performance-request.json every five seconds and publishes the visual mode its
// lease imposes. The lease queries are safe on any thread (the frame analysis reads the
// tracker settings on the capture thread); everything else runs on the main thread,
// where the timers live.
class DiagnosticVisualPolicy : public QObject, public TrackingLease {
    Q_OBJECT

public:
    using Clock = std::function<double()>;

    static constexpr int reloadMilliseconds = 5000;

    // `wallTime` gives seconds since 1970, `uptime` monotonic seconds.
    DiagnosticVisualPolicy(Clock wallTime, Clock uptime, QObject* parent = nullptr);
    ~DiagnosticVisualPolicy() override;

    // Watches performance-request.json in `directory`: reads it at once when the folder
    // is new, then every five seconds. Hops to the policy's thread when called elsewhere.
    void configure(const QString& directory);
    // Reads the request file again and publishes the resulting mode.
    void refresh();

    // A lease is running now.
    [[nodiscard]] bool isEnabled() const;
    [[nodiscard]] DiagnosticVisualMode mode(double wallTime, double uptime) const override;
    [[nodiscard]] bool forcesFullTracker(double wallTime, double uptime) const override;
    [[nodiscard]] int trackerRadius(double wallTime, double uptime) const override;
    // The mode at this moment, by the policy's own clocks.
    [[nodiscard]] DiagnosticVisualMode currentMode() const;
    [[nodiscard]] DiagnosticVisualMode publishedMode() const { return m_publishedMode; }

    [[nodiscard]] double wallTime() const { return m_wallTime(); }
    [[nodiscard]] double uptime() const { return m_uptime(); }

    // The timers, for tests: whether the reload runs, and in how many milliseconds the
    // pending expiry refresh fires (none when no lease runs).
    [[nodiscard]] bool reloading() const;
    [[nodiscard]] std::optional<int> expiryDelay() const;

Q_SIGNALS:
    // The published mode changed (the platform's VerticoraDiagnosticVisualPolicyChanged);
    // listeners read the mode they need.
    void modeChanged();

private:
    void publishMode();

    Clock m_wallTime;
    Clock m_uptime;
    mutable std::mutex m_lock; // guards m_lease only; never held while timers or signals run
    DiagnosticVisualLease m_lease;
    std::optional<QString> m_requestPath;
    QTimer* m_reloadTimer = nullptr;
    QTimer* m_expiryTimer = nullptr;
    DiagnosticVisualMode m_publishedMode = DiagnosticVisualMode::full;
};

} // namespace verticora
