#pragma once

#include "model/CaptureService.h"
#include "model/ChangeBatch.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

#include <optional>

namespace verticora {


// One entry of the camera list the user chooses from.
struct CameraChoice {
    QString id;
    QString name;

    friend bool operator==(const CameraChoice&, const CameraChoice&) = default;
};

// Why tracking is paused: the user paused it (by hand, for a while, or across an update),
// another app borrowed the camera, or the screen is locked.
enum class PauseReason { user, lent, locked };

// "user", "lent" or "locked": the reason as scripts read it.
[[nodiscard]] QString pauseReasonName(PauseReason reason);

// Where the camera stands: the cameras to choose from and the chosen one, whether it
// runs or is starting, and whether tracking is paused, why and until when. The camera
// model owns it and drives every change; views read it.
class CameraSession : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<verticora::CameraChoice> cameras READ cameras NOTIFY changed FINAL)
    Q_PROPERTY(QString selectedID READ selectedID NOTIFY changed FINAL)
    Q_PROPERTY(bool active READ active NOTIFY changed FINAL)
    Q_PROPERTY(bool loading READ loading NOTIFY changed FINAL)
    Q_PROPERTY(bool paused READ paused NOTIFY changed FINAL)
    Q_PROPERTY(QVariant pauseUntil READ pauseUntilValue NOTIFY changed FINAL)
    Q_PROPERTY(QString pauseReason READ pauseReasonValue NOTIFY changed FINAL)
    Q_PROPERTY(bool cameraEnabled READ cameraEnabled NOTIFY changed FINAL)

public:
    CameraSession(CaptureService& capture, ChangeBatch& changes, QObject* parent = nullptr);

    [[nodiscard]] const QList<CameraChoice>& cameras() const { return m_cameras; }
    [[nodiscard]] const QString& selectedID() const { return m_selectedID; }
    [[nodiscard]] bool active() const { return m_active; }
    [[nodiscard]] bool loading() const { return m_loading; }
    [[nodiscard]] bool paused() const { return m_paused; }
    [[nodiscard]] std::optional<double> pauseUntil() const { return m_pauseUntil; }
    [[nodiscard]] QVariant pauseUntilValue() const;
    // Why tracking is paused; none while it is not.
    [[nodiscard]] std::optional<PauseReason> pauseReason() const { return m_pauseReason; }
    // The reason's name, empty while not paused.
    [[nodiscard]] QString pauseReasonValue() const;
    // The on/off switch: on while starting, or while running and not paused.
    [[nodiscard]] bool cameraEnabled() const { return m_loading || (m_active && !m_paused); }
    [[nodiscard]] bool screenLocked() const { return m_screenLocked; }

    // The system lets this app use the selected camera.
    [[nodiscard]] bool cameraAuthorized() const;
    // The selected camera is connected now (asks the capture service again).
    [[nodiscard]] bool selectedCameraConnected() const;
    // The selected camera is in the list and not its "unavailable" placeholder.
    [[nodiscard]] bool selectedAvailable() const;
    // The selected camera's name as the capture service lists it; none when it is gone.
    [[nodiscard]] std::optional<QString> selectedCameraName() const;

    // Written by the camera model.
    // Lists the cameras again. Chooses a display's built-in camera when none is chosen;
    // a chosen camera that is gone stays in the list as unavailable.
    void refreshCameras();
    void setSelectedID(const QString& id);
    void setActive(bool active);
    void setLoading(bool loading);
    // Paused for `reason`, or not paused (no reason).
    void setPaused(bool paused, PauseReason reason = PauseReason::user);
    void setPauseUntil(std::optional<double> until);
    void setScreenLocked(bool locked) { m_screenLocked = locked; }

Q_SIGNALS:
    void changed();

private:
    CaptureService& m_capture;
    ChangeBatch& m_changes;
    QList<CameraChoice> m_cameras;
    QString m_selectedID;
    bool m_active = false;
    bool m_loading = false;
    bool m_paused = false;
    std::optional<double> m_pauseUntil;
    std::optional<PauseReason> m_pauseReason; // set while paused
    bool m_screenLocked = false;
};

} // namespace verticora

Q_DECLARE_METATYPE(verticora::CameraChoice)
