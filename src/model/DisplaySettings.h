#pragma once

#include "model/ChangeBatch.h"
#include "store/SettingsEnums.h"

#include <QObject>

#include <functional>

namespace verticora {

class AlertController;
struct PosturePreferences;

// How the reminders look: read from the preferences, written back into them, and kept in
// the alert visuals. Owned by the camera model; a change of smoke depth or of the red
// alert switch is saved at once through `save`, the others with the model's next save.
class DisplaySettings : public QObject {
    Q_OBJECT
    Q_PROPERTY(double smokeDepth READ smokeDepth WRITE setSmokeDepth NOTIFY changed FINAL)
    Q_PROPERTY(bool redAlertEnabled READ redAlertEnabled WRITE setRedAlertEnabled NOTIFY changed FINAL)

public:
    DisplaySettings(AlertController& alerts, ChangeBatch& changes, std::function<void()> save,
                    QObject* parent = nullptr);

    [[nodiscard]] ReminderMode reminderMode() const { return m_reminderMode; }
    [[nodiscard]] double smokeDepth() const { return m_smokeDepth; }
    [[nodiscard]] EdgeEffectStyle edgeEffectStyle() const { return m_edgeEffectStyle; }
    [[nodiscard]] LiveChartMotion liveChartMotion() const { return m_liveChartMotion; }
    [[nodiscard]] bool redAlertEnabled() const { return m_redAlertEnabled; }
    [[nodiscard]] MenuBarStyle menuBarStyle() const { return m_menuBarStyle; }

    void setReminderMode(ReminderMode mode);
    void setEdgeEffectStyle(EdgeEffectStyle style);
    void setLiveChartMotion(LiveChartMotion motion);
    void setMenuBarStyle(MenuBarStyle style);
    // Limited to 0…10; a number that is not finite is ignored.
    void setSmokeDepth(double depth);
    void setRedAlertEnabled(bool on);

    // Takes the stored values (older smoke variants show as the one smoke reminder, the
    // depth is limited, unknown names fall back to their defaults) and shows them.
    void load(const PosturePreferences& preferences);
    // Writes the values into the record to be saved; the menu bar style is always "color".
    void storeInto(PosturePreferences& preferences) const;

Q_SIGNALS:
    void changed();

private:
    // Makes the alert visuals show the current values.
    void pushToAlerts();

    AlertController& m_alerts;
    ChangeBatch& m_changes;
    std::function<void()> m_save;
    ReminderMode m_reminderMode = ReminderMode::smoke;
    double m_smokeDepth = 8;
    EdgeEffectStyle m_edgeEffectStyle = EdgeEffectStyle::tide;
    LiveChartMotion m_liveChartMotion = LiveChartMotion::responsive;
    bool m_redAlertEnabled = true;
    MenuBarStyle m_menuBarStyle = MenuBarStyle::color;
};

} // namespace verticora
