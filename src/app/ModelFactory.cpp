#include "app/ModelFactory.h"

#include "model/AlertController.h"
#include "model/CameraModel.h"
#include "platform/LandmarkDetector.h"
#include "platform/ReduceMotionSetting.h"
#include "store/DataFolder.h"
#include "visuals/DesktopPanelFactory.h"
#include "visuals/ZoneAlertController.h"

namespace verticora {

namespace {

// Shows nothing: the reminders of a run without a display.
class HeadlessAlertController final : public AlertController {
public:
    void setAppearance(ZoneAppearance) override {}
    void setSeverity(double) override {}
    void setProgress(double) override {}
    void presentCurrent() override {}
    [[nodiscard]] bool redAlertEnabled() const override { return m_redAlertEnabled; }
    void setRedAlertEnabled(bool enabled) override { m_redAlertEnabled = enabled; }
    void setSmokeDepthScale(double) override {}
    void setEdgeEffectStyle(EdgeEffectStyle) override {}
    void setPauseAction(std::function<void()>) override {}

private:
    bool m_redAlertEnabled = true;
};

} // namespace

DesktopSession::DesktopSession()
    : panels(std::make_unique<DesktopPanelFactory>()), reduceMotion(std::make_unique<ReduceMotionSetting>())
{
    panels->setReduceMotionSource([setting = reduceMotion.get()] { return setting->reduceMotion(); });
}

DesktopSession::~DesktopSession() = default;

std::unique_ptr<CameraModel> makeApplicationModel(const QString& dataFolder, std::unique_ptr<CaptureService> capture,
                                                  DesktopSession* desktop, std::shared_ptr<const ModelClock> clock)
{
    CameraModelServices services;
    services.capture = std::move(capture);
    if (desktop)
        services.alerts = std::make_unique<ZoneAlertController>(*desktop->panels);
    else
        services.alerts = std::make_unique<HeadlessAlertController>();
    services.makeLandmarkRequest = [] { return std::make_unique<LandmarkDetector>(); };
    services.clock = std::move(clock);
    return std::make_unique<CameraModel>(
        PreferencesStore(dataFolder + QStringLiteral("/") + QString::fromLatin1(preferencesFileName)),
        std::move(services));
}

} // namespace verticora
