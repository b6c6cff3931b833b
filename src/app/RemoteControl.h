#pragma once

#include "store/UpdateResumeStore.h"

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace verticora {

class CameraModel;

// The running instance as other programs see it.
struct InstanceStatus {
    QString state;                    // the model's state: "inside", "paused", "idle", …
    QString zone;                     // "green", "yellow" or "red" while measured, else "neutral"
    std::optional<double> score;      // the live score, 0 to 100, while a zone is measured
    QString message;                  // the model's message to the user
    QString status;                   // the tray's short status ("Reminders paused", …)
    std::optional<double> pauseUntil; // seconds since 1970, while a timed pause runs
    QString pauseReason;              // while paused: "user", "lent" (another app has the camera) or "locked"

    [[nodiscard]] QJsonObject toJson() const;
};

// Why a request was refused: a D-Bus error name and one sentence for people.
struct ControlRefusal {
    QString errorName;
    QString message;
};

// What other programs may ask of the running Verticora, over the session bus and from
// later launches alike: both ways end here, so they answer and refuse the same.
class RemoteControl : public QObject {
    Q_OBJECT

public:
    // An update handoff carries no pause beyond this either.
    static constexpr qint64 maximumPauseMinutes = qint64(UpdateSessionState::longestPause / 60);

    // `showControls` opens the controls window; empty for an instance without one.
    RemoteControl(CameraModel& model, std::function<void()> showControls, QObject* parent = nullptr);

    std::optional<ControlRefusal> showControls();
    // Pauses like the Pause button for `minutes`, after which tracking resumes by itself.
    std::optional<ControlRefusal> pause(qint64 minutes);
    std::optional<ControlRefusal> resume();
    [[nodiscard]] InstanceStatus status() const;

    // One request line of a later launch ("show", "status", "pause MINUTES", "resume"),
    // answered with one line: "shown" or "ok", the status as JSON, or "error " and the
    // refusal's sentence.
    [[nodiscard]] QByteArray answer(const QByteArray& request);

Q_SIGNALS:
    // The state or the zone changed (once per burst of model changes).
    void statusChanged(const QString& state, const QString& zone);

private:
    void checkStatus();

    CameraModel& m_model;
    std::function<void()> m_showControls;
    QString m_lastState;
    QString m_lastZone;
};

} // namespace verticora
