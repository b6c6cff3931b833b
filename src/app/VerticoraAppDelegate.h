#pragma once

#include <QObject>
#include <QString>
#include <QRect>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace verticora {

class CameraModel;
class ControlsWindow;
class StatusItem;
class UpdateHandoff;

struct AppDelegateOptions {
    // False leaves the tray alone (tests, benchmarks).
    bool installsStatusItem = true;
    // The running build, compared across an update handoff; "development" when empty.
    QString build;
    // This process's ID for the update handoff; tests play two instances in one process.
    std::optional<qint32> processID;
};

// The application on the main thread: owns the one model, the tray icon and the
// controls window; opens, hides and reopens that window (at the frame it had); and runs
// every quit through one path that stops the camera first.
class VerticoraAppDelegate : public QObject {
    Q_OBJECT

public:
    using Options = AppDelegateOptions;

    explicit VerticoraAppDelegate(std::unique_ptr<CameraModel> model, Options options = {}, QObject* parent = nullptr);
    ~VerticoraAppDelegate() override;

    [[nodiscard]] CameraModel& model() const { return *m_model; }
    [[nodiscard]] UpdateHandoff& updateHandoff() const { return *m_handoff; }
    [[nodiscard]] ControlsWindow* controlsWindow() const { return m_controlsWindow.get(); }
    [[nodiscard]] StatusItem* statusItem() const { return m_statusItem.get(); }
    [[nodiscard]] std::uint64_t controlsPresenceGeneration() const { return m_controlsPresenceGeneration; }
    [[nodiscard]] bool controlsWantedOpen() const { return m_controlsWantedOpen; }
    [[nodiscard]] const std::optional<QRect>& controlsFrame() const { return m_controlsFrame; }
    [[nodiscard]] bool terminated() const { return m_terminated; }
    // The launch found an update handoff and followed it instead of its own defaults.
    [[nodiscard]] bool metUpdateHandoff() const { return m_metUpdateHandoff; }

    // Icon, tray, and the controls window unless an update handoff says otherwise.
    void applicationDidFinishLaunching();
    // Another launch for the same data folder asked this instance to show itself.
    void applicationShouldHandleReopen();
    void showControls();
    void hideControls();
    void showSettings();
    // Stops the camera with its "Camera off" message and quits the application.
    void quitVerticora();
    // Runs once, when the application is about to quit.
    void applicationWillTerminate();

    // The desktop's reduce-motion setting, for the live chart.
    void setReduceMotion(bool on);

private:
    void installStatusItem();
    void attachControlsContent();
    void applyApplicationIcon();
    // Takes over what a previous build was doing: its page, its window and its camera.
    // False when there was no handoff to take.
    [[nodiscard]] bool consumeUpdateHandoff();
    // A quit the user asked for never leaves a handoff behind.
    void cancelPendingUpdateHandoff();
    // Answers an update request addressed to this instance as it ends (runs once).
    void writeUpdateHandoffReceipt();
    [[nodiscard]] static QRect keptOnPrimaryScreen(const QRect& frame);

    std::unique_ptr<CameraModel> m_model;
    std::unique_ptr<UpdateHandoff> m_handoff;
    Options m_options;
    std::unique_ptr<ControlsWindow> m_controlsWindow;
    std::unique_ptr<StatusItem> m_statusItem;
    bool m_terminated = false;
    bool m_metUpdateHandoff = false;
    std::uint64_t m_controlsPresenceGeneration = 0;
    bool m_controlsWantedOpen = false;
    std::optional<QRect> m_controlsFrame;
    bool m_reduceMotion = false;
};

} // namespace verticora
