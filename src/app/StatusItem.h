#pragma once

#include "visuals/MenuBarIcon.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class QMenu;
class QSystemTrayIcon;

namespace verticora {

class CameraModel;

// The tray icon: its picture follows the posture zone, its tooltip the status; a click
// opens the controls window, a right click (or Ctrl+click) the menu with "Open
// Verticora" and "Quit app". Model changes reach it through a 20 ms debounce, so a burst
// of changes redraws once; a diagnostic lease may freeze the picture or keep it neutral.
// Main thread only.
class StatusItem : public QObject {
    Q_OBJECT

public:
    struct Actions {
        std::function<void()> openControls;
        std::function<void()> quit;
    };

    static constexpr int debounceMilliseconds = 20;

    StatusItem(CameraModel& model, Actions actions, QObject* parent = nullptr);
    ~StatusItem() override;

    // Redraws the icon when its colour key changed and rewrites the tooltip when the
    // status text changed.
    void refreshStatus();
    // How long model changes are gathered before one redraw.
    void setDebounceInterval(int milliseconds) { m_debounce.setInterval(milliseconds); }
    // Takes the icon out of the tray for good (termination).
    void remove();

    [[nodiscard]] const QString& lastStatus() const { return m_lastStatus; }
    [[nodiscard]] const QString& lastPresentationKey() const { return m_lastPresentationKey; }
    [[nodiscard]] QString toolTip() const;
    [[nodiscard]] const QString& accessibleLabel() const { return m_accessibleLabel; }
    [[nodiscard]] const QString& accessibleHelp() const { return m_accessibleHelp; }
    // The picture the icon shows now; null before the first refresh.
    [[nodiscard]] const QImage& image() const { return m_image; }
    [[nodiscard]] QMenu* menu() const { return m_menu.get(); }

    // What a click on the icon does, for the platform's activation and for tests.
    void clicked(bool controlHeld);

Q_SIGNALS:
    // After every refresh of the tooltip and the icon.
    void refreshed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showMenu();

    CameraModel& m_model;
    Actions m_actions;
    MenuBarIcon m_icon;
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    QTimer m_debounce;
    QImage m_image;
    QString m_lastStatus;
    QString m_lastPresentationKey;
    QString m_accessibleLabel;
    QString m_accessibleHelp;
    bool m_hasToolTip = false;
    bool m_removed = false;
};

} // namespace verticora
