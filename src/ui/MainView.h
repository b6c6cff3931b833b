#pragma once

#include <QTimer>
#include <QWidget>

#include <functional>

class QButtonGroup;
class QStackedWidget;

namespace verticora {

class CameraModel;
class PosturePage;
class ProgressPage;
class SettingsPage;

// The content of the controls window: the page switcher, the page the model's
// `controlsPage` names, and the branding line. It keeps no state of its own: every model
// change (coalesced to one pass) refreshes what it shows.
class MainView : public QWidget {
    Q_OBJECT

public:
    struct Actions {
        std::function<void()> quit;
    };

    MainView(CameraModel& model, Actions actions, QWidget* parent = nullptr);
    ~MainView() override;

    void setReduceMotion(bool on);
    // Brings every visible text up to date with the model now.
    void refresh();

private:
    CameraModel& m_model;
    QButtonGroup* m_pageButtons = nullptr;
    QStackedWidget* m_pages = nullptr;
    PosturePage* m_posture = nullptr;
    QWidget* m_progress = nullptr;
    SettingsPage* m_settings = nullptr;
};

} // namespace verticora
