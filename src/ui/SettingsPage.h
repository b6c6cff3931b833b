#pragma once

#include "store/AutostartEntry.h"

#include <QWidget>

#include <functional>

class QLabel;

namespace verticora {

class CameraModel;
class ToggleSwitch;
class ValueSlider;
class WarningLine;

// The Settings page: posture forgiveness, the automatic red alert and its delay, the
// strength of the edge effect, starting at login, and quitting.
class SettingsPage : public QWidget {
    Q_OBJECT

public:
    SettingsPage(CameraModel& model, std::function<void()> quit, QWidget* parent = nullptr);

    void refresh();

    [[nodiscard]] ValueSlider* forgivenessSlider() const { return m_forgiveness; }
    [[nodiscard]] ValueSlider* delaySlider() const { return m_delay; }
    [[nodiscard]] ToggleSwitch* autostartSwitch() const { return m_autostart; }

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // The login item is a file the user may remove by hand: read it whenever the page
    // comes into view.
    void readAutostart();
    void setAutostart(bool on);

    CameraModel& m_model;
    ValueSlider* m_forgiveness = nullptr;
    ToggleSwitch* m_redAlert = nullptr;
    ValueSlider* m_delay = nullptr;
    ValueSlider* m_effectStrength = nullptr;
    WarningLine* m_persistence = nullptr;
    AutostartEntry m_autostartEntry;
    ToggleSwitch* m_autostart = nullptr;
    WarningLine* m_autostartFailure = nullptr;
};

} // namespace verticora
