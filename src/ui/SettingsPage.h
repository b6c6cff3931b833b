#pragma once

#include <QWidget>

#include <functional>

class QLabel;

namespace verticora {

class CameraModel;
class ToggleSwitch;
class ValueSlider;
class WarningLine;

// The Settings page: posture forgiveness, the automatic red alert and its delay, the
// strength of the edge effect, and quitting.
class SettingsPage : public QWidget {
    Q_OBJECT

public:
    SettingsPage(CameraModel& model, std::function<void()> quit, QWidget* parent = nullptr);

    void refresh();

    [[nodiscard]] ValueSlider* forgivenessSlider() const { return m_forgiveness; }
    [[nodiscard]] ValueSlider* delaySlider() const { return m_delay; }

private:
    CameraModel& m_model;
    ValueSlider* m_forgiveness = nullptr;
    ToggleSwitch* m_redAlert = nullptr;
    ValueSlider* m_delay = nullptr;
    ValueSlider* m_effectStrength = nullptr;
    WarningLine* m_persistence = nullptr;
};

} // namespace verticora
