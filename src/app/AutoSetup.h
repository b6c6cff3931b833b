#pragma once

#include <QObject>

#include <optional>

namespace verticora {

class CameraModel;
class ModelClock;

// Presses "Set my height" for the user once a face has been seen steadily for a second
// while the camera waits for the height capture. For demos and unattended replays.
class AutoSetup : public QObject {
    Q_OBJECT

public:
    AutoSetup(CameraModel& model, const ModelClock& clock, QObject* parent = nullptr);

private:
    void check();

    CameraModel& m_model;
    const ModelClock& m_clock;
    std::optional<double> m_steadySince;
    bool m_pressed = false;
};

} // namespace verticora
