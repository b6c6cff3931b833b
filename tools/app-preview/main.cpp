// Runs the real application (tray, controls window, reminders) on a replayed clip and,
// at chosen moments of the clip, writes screenshots of the controls window or measures
// it: process CPU over a stretch with the window open or closed, the time to open the
// window, and how often the tray icon redraws during a burst of model changes. How the
// shell is looked at and measured without a camera; works under xvfb-run.

#include "app/AutoSetup.h"
#include "app/ModelFactory.h"
#include "app/StatusItem.h"
#include "app/VerticoraAppDelegate.h"
#include "model/CameraModel.h"
#include "model/ModelClock.h"
#include "platform/ReplayCapture.h"
#include "ui/ControlsWindow.h"
#include "visuals/OverlayPlatform.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>
#include <ctime>

using namespace verticora;

namespace {

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec * 1e-9;
}

std::optional<ControlsPage> pageNamed(const QString& name)
{
    return fromRawName<ControlsPage>(name.toStdString());
}

// Shows the window and waits until it has painted once; prints the main thread's CPU
// time and the wall time that took.
void measureOpening(VerticoraAppDelegate& delegate, const char* what)
{
    QElapsedTimer wall;
    wall.start();
    const double cpu = threadCpuSeconds();
    delegate.showControls();
    // The content paints the whole window.
    QWidget* content = delegate.controlsWindow()->content();
    bool painted = false;
    struct PaintWatch : QObject {
        bool* painted;
        explicit PaintWatch(bool* flag) : painted(flag) {}
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::Paint)
                *painted = true;
            return false;
        }
    } watch(&painted);
    content->installEventFilter(&watch);
    while (!painted && wall.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    content->removeEventFilter(&watch);
    std::printf("{\"open\": \"%s\", \"main_thread_cpu_ms\": %.1f, \"wall_ms\": %lld}\n", what,
                (threadCpuSeconds() - cpu) * 1000, static_cast<long long>(wall.elapsed()));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    preferOverlayCapablePlatform(argc, argv);
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QCoreApplication::setApplicationName(QStringLiteral("Verticora"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VERTICORA_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("The Verticora application on a replayed clip, with screenshots and figures."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("replay"), QStringLiteral("The clip that stands in for the camera."), QStringLiteral("CLIP")});
    parser.addOption({QStringLiteral("data-dir"), QStringLiteral("Data folder (a temporary one by default)."), QStringLiteral("DIR")});
    parser.addOption({QStringLiteral("auto-setup"), QStringLiteral("Set the height once the face is steady.")});
    parser.addOption({QStringLiteral("no-camera"), QStringLiteral("Leave the camera off.")});
    parser.addOption({QStringLiteral("shot"), QStringLiteral("At SECONDS show PAGE and write the window to FILE."),
                      QStringLiteral("SECONDS:PAGE:FILE")});
    parser.addOption({QStringLiteral("hide-at"), QStringLiteral("Hide the window at SECONDS."), QStringLiteral("SECONDS")});
    parser.addOption({QStringLiteral("cpu"), QStringLiteral("Print the process CPU use between two moments."),
                      QStringLiteral("FROM:TO")});
    parser.addOption({QStringLiteral("measure-open"), QStringLiteral("Time the first opening of the window and a reopening.")});
    parser.addOption({QStringLiteral("tray-burst"), QStringLiteral("Change the model every millisecond for SECONDS and "
                                                                   "count the tray redraws."), QStringLiteral("SECONDS")});
    parser.addOption({QStringLiteral("quit-at"), QStringLiteral("Quit at SECONDS."), QStringLiteral("SECONDS")});
    parser.process(application);

    QTemporaryDir temporary;
    const QString folder = parser.isSet(QStringLiteral("data-dir")) ? parser.value(QStringLiteral("data-dir")) : temporary.path();
    ReplayCapture* replay = nullptr;
    std::unique_ptr<CaptureService> capture;
    if (parser.isSet(QStringLiteral("replay"))) {
        auto clip = std::make_unique<ReplayCapture>(std::filesystem::path(parser.value(QStringLiteral("replay")).toStdString()));
        replay = clip.get();
        capture = std::move(clip);
    } else {
        std::fprintf(stderr, "verticora-app-preview: --replay CLIP is required\n");
        return 2;
    }
    auto clock = std::make_shared<SystemClock>();
    DesktopSession desktop;
    VerticoraAppDelegate delegate(makeApplicationModel(folder, std::move(capture), &desktop, clock));
    CameraModel& model = delegate.model();
    std::unique_ptr<AutoSetup> autoSetup;
    if (parser.isSet(QStringLiteral("auto-setup")))
        autoSetup = std::make_unique<AutoSetup>(model, *clock);
    model.select(replay->deviceID());

    if (parser.isSet(QStringLiteral("measure-open"))) {
        measureOpening(delegate, "first");
        delegate.hideControls();
        QCoreApplication::processEvents();
        measureOpening(delegate, "reopen");
    } else {
        delegate.applicationDidFinishLaunching();
    }
    if (!parser.isSet(QStringLiteral("no-camera")))
        model.startCamera(true);

    auto at = [&](double seconds, std::function<void()> action) {
        QTimer::singleShot(int(seconds * 1000), &application, std::move(action));
    };
    for (const QString& shot : parser.values(QStringLiteral("shot"))) {
        const QStringList parts = shot.split(QLatin1Char(':'));
        const std::optional<ControlsPage> page = parts.size() == 3 ? pageNamed(parts[1]) : std::nullopt;
        if (!page) {
            std::fprintf(stderr, "verticora-app-preview: bad --shot %s\n", qPrintable(shot));
            return 2;
        }
        const double seconds = parts[0].toDouble();
        at(seconds, [&model, page] { model.setControlsPage(*page); });
        at(seconds + 0.5, [&delegate, file = parts[2]] {
            // A busy main thread may run this right after the page change; let the
            // window catch up first.
            QCoreApplication::processEvents();
            QCoreApplication::processEvents();
            if (ControlsWindow* window = delegate.controlsWindow(); window && window->grab().save(file))
                std::printf("{\"screenshot\": \"%s\"}\n", qPrintable(file));
            std::fflush(stdout);
        });
    }
    if (parser.isSet(QStringLiteral("hide-at")))
        at(parser.value(QStringLiteral("hide-at")).toDouble(), [&delegate] { delegate.hideControls(); });
    if (parser.isSet(QStringLiteral("cpu"))) {
        const QStringList span = parser.value(QStringLiteral("cpu")).split(QLatin1Char(':'));
        const double from = span.value(0).toDouble();
        const double to = span.value(1).toDouble();
        auto start = std::make_shared<double>(0);
        at(from, [start] { *start = processCpuSeconds(); });
        at(to, [start, from, to, &delegate] {
            const double used = processCpuSeconds() - *start;
            std::printf("{\"window\": \"%s\", \"seconds\": %.1f, \"cpu_seconds\": %.3f, \"percent_of_a_core\": %.2f}\n",
                        delegate.controlsWindow() ? "open" : "closed", to - from, used, 100 * used / (to - from));
            std::fflush(stdout);
        });
    }
    if (parser.isSet(QStringLiteral("tray-burst"))) {
        const double seconds = parser.value(QStringLiteral("tray-burst")).toDouble();
        auto redraws = std::make_shared<int>(0);
        auto changes = std::make_shared<int>(0);
        if (StatusItem* item = delegate.statusItem())
            QObject::connect(item, &StatusItem::refreshed, &application, [redraws] { ++*redraws; });
        auto* burst = new QTimer(&application);
        burst->setInterval(1);
        QObject::connect(burst, &QTimer::timeout, &application, [&model, changes] {
            model.setControlsPage(*changes % 2 ? ControlsPage::settings : ControlsPage::progress);
            ++*changes;
        });
        QElapsedTimer wall;
        wall.start();
        burst->start();
        at(seconds, [burst, redraws, changes, wall] {
            burst->stop();
            const double elapsed = wall.elapsed() / 1000.0;
            std::printf("{\"burst_seconds\": %.2f, \"model_changes\": %d, \"tray_redraws\": %d, \"redraws_per_second\": %.1f}\n",
                        elapsed, *changes, *redraws, *redraws / elapsed);
            std::fflush(stdout);
        });
    }
    if (parser.isSet(QStringLiteral("quit-at")))
        at(parser.value(QStringLiteral("quit-at")).toDouble(), [&delegate] { delegate.quitVerticora(); });
    return QApplication::exec();
}
