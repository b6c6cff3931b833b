#pragma once

#include <QString>
#include <QWidget>

class QBoxLayout;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QToolButton;

namespace verticora {

class CameraModel;
class CameraPreview;
class FaceHeightGuide;
class HeightThermometer;
class LiveScoreChart;
class ToggleSwitch;
class WarningLine;

// The short status shown where there is no score (under the meter, in the chart's
// spoken summary): "Paused", "Camera off", "Looking for you", …
[[nodiscard]] QString inactiveTrackingStatus(const CameraModel& model);
// The line under the camera switch.
[[nodiscard]] QString cameraCaption(const CameraModel& model);
// "Resumes at 3:45 PM EST" for a wall time, in the progress calendar's zone.
[[nodiscard]] QString resumesAtText(double wallTime);

// The Posture page: live chart, camera preview and camera controls on the left, the
// height block (messages, meter, setup and pause actions) on the right.
class PosturePage : public QWidget {
    Q_OBJECT

public:
    explicit PosturePage(CameraModel& model, QWidget* parent = nullptr);
    ~PosturePage() override;

    void refresh();
    void setReduceMotion(bool on);

private:
    void refreshCameraColumn();
    void refreshHeightBlock();
    void fitActions();

    CameraModel& m_model;
    LiveScoreChart* m_chart = nullptr;
    CameraPreview* m_preview = nullptr;
    FaceHeightGuide* m_guide = nullptr;
    ToggleSwitch* m_cameraSwitch = nullptr;
    QComboBox* m_cameraChooser = nullptr;
    QToolButton* m_refreshCameras = nullptr;
    QLabel* m_caption = nullptr;

    QWidget* m_heightBlock = nullptr;
    QLabel* m_pausedHeader = nullptr;
    QLabel* m_message = nullptr;
    QLabel* m_inactiveHint = nullptr;
    WarningLine* m_persistence = nullptr;
    QProgressBar* m_progress = nullptr;
    HeightThermometer* m_meter = nullptr;
    QPushButton* m_goBack = nullptr;
    QPushButton* m_primary = nullptr;   // Set my height / Try saving again / Pause, Resume
    QPushButton* m_secondary = nullptr; // Set my height again / Reset height
    QBoxLayout* m_actions = nullptr;
    QLabel* m_resumesAt = nullptr;
};

} // namespace verticora
