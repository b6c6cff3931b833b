#pragma once

#include <QString>

#include <memory>

namespace verticora {

class CameraModel;
class CaptureService;
class DesktopPanelFactory;
class ModelClock;
class ReduceMotionSetting;

// The desktop pieces the reminders draw with; absent in a run without a display.
struct DesktopSession {
    std::unique_ptr<DesktopPanelFactory> panels;
    std::unique_ptr<ReduceMotionSetting> reduceMotion;

    DesktopSession();
    ~DesktopSession();
};

// The application's one model on `dataFolder`, reading frames from `capture`, with the
// dlib landmark detector. With a desktop session the reminders show on its screens and
// follow its reduce-motion setting; without one they show nowhere.
[[nodiscard]] std::unique_ptr<CameraModel> makeApplicationModel(const QString& dataFolder,
                                                                std::unique_ptr<CaptureService> capture,
                                                                DesktopSession* desktop,
                                                                std::shared_ptr<const ModelClock> clock);

} // namespace verticora
