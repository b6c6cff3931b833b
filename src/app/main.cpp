#include "BuildInfo.h"

#include "app/AutoSetup.h"
#include "app/StateReporter.h"
#include "app/TerminationSignals.h"
#include "model/AlertController.h"
#include "model/CameraModel.h"
#include "model/ModelClock.h"
#include "platform/GstCameraCapture.h"
#include "platform/LandmarkDetector.h"
#include "platform/ReplayCapture.h"
#include "platform/SystemSleepWatcher.h"
#include "store/DataFolder.h"
#include "visuals/DesktopPanelFactory.h"
#include "visuals/OverlayPlatform.h"
#include "visuals/ZoneAlertController.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

using namespace verticora;

namespace {

constexpr char usage[] =
    "usage: verticora [--camera ID] [--data-dir DIR] [--headless] [--auto-setup]\n"
    "       verticora --replay CLIP.y4m [--data-dir DIR] [--headless] [--auto-setup]\n"
    "       verticora --list-cameras\n"
    "       verticora --version\n";

struct Options {
    bool version = false;
    bool listCameras = false;
    bool headless = false;
    bool autoSetup = false;
    std::optional<std::string> replay;
    std::optional<std::string> camera;
    std::optional<std::string> dataDirectory;
};

std::optional<Options> parse(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= argc)
                return std::nullopt;
            return std::string(argv[++i]);
        };
        if (argument == "--version") {
            options.version = true;
        } else if (argument == "--list-cameras") {
            options.listCameras = true;
        } else if (argument == "--headless") {
            options.headless = true;
        } else if (argument == "--auto-setup") {
            options.autoSetup = true;
        } else if (argument == "--replay") {
            if (!(options.replay = value()))
                return std::nullopt;
        } else if (argument == "--camera") {
            if (!(options.camera = value()))
                return std::nullopt;
        } else if (argument == "--data-dir") {
            if (!(options.dataDirectory = value()))
                return std::nullopt;
        } else if (argument.rfind("-platform", 0) == 0 || argument.rfind("--platform", 0) == 0) {
            ++i; // Qt's own option, handled by QApplication
        } else {
            std::fprintf(stderr, "verticora: unknown option %s\n", argument.c_str());
            return std::nullopt;
        }
    }
    return options;
}

int listCameras(int argc, char** argv)
{
    // No camera, no line: the output is meant for scripts as much as for people.
    QCoreApplication application(argc, argv);
    GstCameraCapture cameras;
    for (const CameraDevice& device : cameras.discoverDevices())
        std::printf("%s | %s\n", qPrintable(device.localizedName), qPrintable(device.kind));
    return 0;
}

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

QString initialCamera(const CameraModel& model, const Options& options)
{
    if (options.camera)
        return QString::fromStdString(*options.camera);
    if (!model.selectedID().isEmpty())
        return model.selectedID();
    return model.cameras().isEmpty() ? QString() : model.cameras().front().id;
}

} // namespace

int main(int argc, char** argv)
{
    std::optional<Options> options = parse(argc, argv);
    if (!options) {
        std::fputs(usage, stderr);
        return 2;
    }
    if (options->version) {
        std::printf("Verticora %s (build %s)\n", versionString, buildString);
        return 0;
    }
    if (options->listCameras)
        return listCameras(argc, argv);

    std::unique_ptr<QCoreApplication> application;
    const bool displayKnown = qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY")
        || qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
    if (!options->headless && !displayKnown) {
        std::fprintf(stderr, "verticora: no display found; running without on-screen reminders.\n");
        options->headless = true;
    }
    if (options->headless) {
        application = std::make_unique<QCoreApplication>(argc, argv);
    } else {
        preferOverlayCapablePlatform(argc, argv);
        application = std::make_unique<QApplication>(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
    }
    QCoreApplication::setApplicationName(QStringLiteral("Verticora"));
    TerminationSignals termination;

    const QString folder = options->dataDirectory ? QDir(QString::fromStdString(*options->dataDirectory)).absolutePath()
                                                  : dataFolder();
    auto clock = std::make_shared<SystemClock>();

    ReplayCapture* replay = nullptr;
    CameraModelServices services;
    if (options->replay) {
        auto capture = std::make_unique<ReplayCapture>(std::filesystem::path(*options->replay));
        replay = capture.get();
        services.capture = std::move(capture);
    } else {
        services.capture = std::make_unique<GstCameraCapture>();
    }
    std::unique_ptr<DesktopPanelFactory> panels;
    if (options->headless) {
        services.alerts = std::make_unique<HeadlessAlertController>();
    } else {
        panels = std::make_unique<DesktopPanelFactory>();
        services.alerts = std::make_unique<ZoneAlertController>(*panels);
    }
    services.makeLandmarkRequest = [] { return std::make_unique<LandmarkDetector>(); };
    services.clock = clock;

    CameraModel model(PreferencesStore(folder + QStringLiteral("/") + QString::fromLatin1(preferencesFileName)),
                      std::move(services));
    SystemSleepWatcher sleep;
    QObject::connect(&sleep, &SystemSleepWatcher::aboutToSleep, &model, &CameraModel::systemWillSleep);
    StateReporter reporter(model, *clock);
    std::unique_ptr<AutoSetup> autoSetup;
    if (options->autoSetup)
        autoSetup = std::make_unique<AutoSetup>(model, *clock);

    if (replay) {
        QObject::connect(replay, &ReplayCapture::clipEnded, &reporter, [&] {
            reporter.printSummary(replay->failure().value_or(QString()));
            QCoreApplication::quit();
        });
        model.select(replay->deviceID());
    } else {
        const QString camera = initialCamera(model, *options);
        if (!camera.isEmpty())
            model.select(camera);
    }
    model.startCamera(true);
    const int status = QCoreApplication::exec();
    if (!replay)
        reporter.printSummary({});
    return status;
}
