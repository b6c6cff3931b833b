#include "BuildInfo.h"

#include "app/AutoSetup.h"
#include "app/CommandLine.h"
#include "app/ModelFactory.h"
#include "app/RemoteControl.h"
#include "app/SessionBusControl.h"
#include "app/SingleInstance.h"
#include "app/StateReporter.h"
#include "app/TerminationSignals.h"
#include "app/UpdateHandoff.h"
#include "app/VerticoraAppDelegate.h"
#include "model/CameraModel.h"
#include "model/ModelClock.h"
#include "platform/GstCameraCapture.h"
#include "platform/ReduceMotionSetting.h"
#include "platform/ReplayCapture.h"
#include "platform/ScreenLockWatcher.h"
#include "platform/SystemSleepWatcher.h"
#include "platform/Y4mClip.h"
#include "store/ApplicationID.h"
#include "store/DataFolder.h"
#include "visuals/OverlayPlatform.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDir>
#include <QFile>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

using namespace verticora;

namespace {

QStringList argumentList(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

std::filesystem::path clipPath(const QString& clip)
{
    return QFile::encodeName(clip).toStdString();
}

// Why a clip cannot be replayed (its name and the reason), or none when it opens.
std::optional<std::string> unplayableClip(const QString& clip)
{
    try {
        Y4mReader reader(clipPath(clip));
    } catch (const ClipError& error) {
        return std::string(error.what());
    }
    return std::nullopt;
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

QString folderOf(const CommandLineOptions& options)
{
    return options.dataDirectory ? QDir(*options.dataDirectory).absolutePath() : dataFolder();
}

// --status, --pause and --resume: the request goes to the instance for the data folder
// and its answer comes back as the output and the exit status.
int controlRunningInstance(int argc, char** argv, const CommandLineOptions& options)
{
    QCoreApplication application(argc, argv);
    SingleInstance instance(folderOf(options));
    QByteArray answer;
    switch (instance.ask(*options.control, &answer)) {
    case SingleInstance::Reach::notRunning:
        std::fputs("Verticora is not running.\n", stderr);
        return 1;
    case SingleInstance::Reach::failed:
        std::fprintf(stderr, "verticora: %s\n", qPrintable(instance.failure()));
        return 1;
    case SingleInstance::Reach::answered:
        break;
    }
    if (answer.startsWith("error ")) {
        std::fprintf(stderr, "%s\n", answer.mid(6).constData());
        return 1;
    }
    const bool status = *options.control == "status";
    if (status ? !answer.startsWith('{') : answer != "ok") {
        std::fputs("The running Verticora is older and does not take this request; restart it first.\n", stderr);
        return 1;
    }
    if (status)
        std::printf("%s\n", answer.constData());
    return 0;
}

QString initialCamera(const CameraModel& model, const CommandLineOptions& options)
{
    if (options.camera)
        return *options.camera;
    if (!model.session().selectedID().isEmpty())
        return model.session().selectedID();
    return model.session().cameras().isEmpty() ? QString() : model.session().cameras().front().id;
}

// Asks a running instance for the same data folder to show itself. True when this launch
// is the one to run; otherwise `status` is what the process exits with.
bool claimDataFolder(SingleInstance& instance, int& status)
{
    QByteArray answer;
    switch (instance.claim(QByteArrayLiteral("show"), &answer)) {
    case SingleInstance::Role::primary:
        return true;
    case SingleInstance::Role::secondary:
        std::fprintf(stderr, answer == "shown" ? "Verticora is already running; its window is open.\n"
                                               : "Verticora is already running for this data folder.\n");
        status = 0;
        return false;
    case SingleInstance::Role::failed:
        break;
    }
    std::fprintf(stderr, "verticora: %s\n", qPrintable(instance.failure()));
    status = 1;
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    const CommandLine commandLine = parseCommandLine(argumentList(argc, argv));
    if (!commandLine.options) {
        std::fprintf(stderr, "verticora: %s\n", qPrintable(commandLine.mistake));
        return 2;
    }
    CommandLineOptions options = *commandLine.options;
    if (options.help) {
        std::fputs(commandLineUsage(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("Verticora %s (build %s)\n", versionString, buildString);
        return 0;
    }
    if (options.listCameras)
        return listCameras(argc, argv);
    if (options.control)
        return controlRunningInstance(argc, argv, options);
    if (options.handOverTo) {
        QCoreApplication application(argc, argv);
        return handOverTo(folderOf(options), *options.handOverTo);
    }
    if (options.replay) {
        if (const std::optional<std::string> problem = unplayableClip(*options.replay)) {
            std::fprintf(stderr, "verticora: %s\n", problem->c_str());
            return 1;
        }
    }
    const QString build = options.asBuild.value_or(QString::fromLatin1(buildString));

    std::unique_ptr<QCoreApplication> application;
    const bool displayKnown = qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY")
        || qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
    if (!options.headless && !displayKnown) {
        std::fprintf(stderr, "verticora: no display found; running without a window or reminders.\n");
        options.headless = true;
    }
    if (options.headless) {
        application = std::make_unique<QCoreApplication>(argc, argv);
    } else {
        preferOverlayCapablePlatform(argc, argv);
        application = std::make_unique<QApplication>(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        // Ties the windows to the launcher entry (its name and icon) on Wayland and in docks.
        QGuiApplication::setDesktopFileName(QString::fromLatin1(applicationID));
    }
    QCoreApplication::setApplicationName(QStringLiteral("Verticora"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(versionString));

    const QString folder = folderOf(options);
    SingleInstance instance(folder);
    if (int status = 0; !claimDataFolder(instance, status))
        return status;
    // SIGTERM (a logout, `kill`, an update's hand-over), SIGINT, SIGHUP and the session's
    // end all end the application the same way: an update request addressed to it is
    // answered, the camera stops and the day's progress is written, the reminders go.
    TerminationSignals termination;
    auto clock = std::make_shared<SystemClock>();

    ReplayCapture* replay = nullptr;
    std::unique_ptr<CaptureService> capture;
    if (options.replay) {
        auto clip = std::make_unique<ReplayCapture>(clipPath(*options.replay));
        replay = clip.get();
        capture = std::move(clip);
    } else {
        capture = std::make_unique<GstCameraCapture>();
    }
    std::unique_ptr<DesktopSession> desktop;
    if (!options.headless)
        desktop = std::make_unique<DesktopSession>();
    auto ownModel = makeApplicationModel(folder, std::move(capture), desktop.get(), clock);
    CameraModel& model = *ownModel;
    // The window and the tray own the model and its update handoff; a run without a
    // display keeps them here.
    std::unique_ptr<VerticoraAppDelegate> delegate;
    std::unique_ptr<UpdateHandoff> ownHandoff;
    if (!options.headless) {
        AppDelegateOptions delegateOptions;
        delegateOptions.build = build;
        delegate = std::make_unique<VerticoraAppDelegate>(std::move(ownModel), delegateOptions);
    } else {
        ownHandoff = std::make_unique<UpdateHandoff>(model, build);
    }
    UpdateHandoff& handoff = delegate ? delegate->updateHandoff() : *ownHandoff;

    SystemSleepWatcher sleep;
    QObject::connect(&sleep, &SystemSleepWatcher::aboutToSleep, &model, &CameraModel::systemWillSleep);
    // A camera rests while the screen is locked; a replayed clip plays on.
    std::unique_ptr<ScreenLockWatcher> screenLock;
    if (!replay) {
        screenLock = std::make_unique<ScreenLockWatcher>();
        QObject::connect(screenLock.get(), &ScreenLockWatcher::lockedChanged, &model, &CameraModel::setScreenLocked);
    }
    // Replays and runs without a display report their state as JSON lines.
    std::unique_ptr<StateReporter> reporter;
    if (replay || options.headless)
        reporter = std::make_unique<StateReporter>(model, *clock);
    std::unique_ptr<AutoSetup> autoSetup;
    if (options.autoSetup)
        autoSetup = std::make_unique<AutoSetup>(model, *clock);

    if (replay) {
        // Without a window the run ends with the clip; with one, the window stays for a look.
        const bool quitAtEnd = options.headless;
        QObject::connect(replay, &ReplayCapture::clipEnded, reporter.get(), [&, quitAtEnd] {
            reporter->printSummary(replay->failure().value_or(QString()));
            if (quitAtEnd)
                QCoreApplication::quit();
        });
    }

    // Later launches and the session bus reach this instance through one control; a
    // hand-over first asks who runs.
    std::function<void()> showControls;
    if (delegate)
        showControls = [&delegate] { delegate->applicationShouldHandleReopen(); };
    RemoteControl control(model, std::move(showControls));
    instance.setRequestHandler([&control, build](const QByteArray& request) {
        return request == identifyRequest ? instanceIdentity(build) : control.answer(request);
    });
    SessionBusControl bus(control);
    bus.publish(QDBusConnection::sessionBus());

    // A launch that takes over from a previous build does what that build was doing, or
    // says why it cannot, instead of following its own options. The handoff is taken
    // before anything here may rewrite the preferences its receipt was checked against.
    bool followsHandoff = false;
    if (delegate) {
        QObject::connect(desktop->reduceMotion.get(), &ReduceMotionSetting::changed, delegate.get(),
                         &VerticoraAppDelegate::setReduceMotion);
        delegate->setReduceMotion(desktop->reduceMotion->reduceMotion());
        delegate->applicationDidFinishLaunching();
        followsHandoff = delegate->metUpdateHandoff();
    } else {
        const LaunchHandoff launch = handoff.take();
        if (launch.kind == LaunchHandoff::Kind::resume)
            handoff.resume(launch.state);
        followsHandoff = launch.met();
    }
    if (!followsHandoff) {
        if (replay) {
            model.select(replay->deviceID());
        } else {
            const QString camera = initialCamera(model, options);
            if (!camera.isEmpty() && (options.camera || options.autoSetup || options.headless))
                model.select(camera);
        }
        // The camera starts by itself only when asked for on the command line and for runs
        // without a window; otherwise the user turns it on.
        if (replay || options.camera || options.autoSetup || options.headless)
            model.startCamera(true);
    }
    const int status = QCoreApplication::exec();
    if (reporter && !replay)
        reporter->printSummary({});
    return status;
}
