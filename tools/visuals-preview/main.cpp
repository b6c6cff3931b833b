// Shows one alert edge style at one severity on every screen, optionally with the focus
// card, for a few seconds; with --screenshot writes the first screen, all panels
// composited over the desktop, to a PNG. How a person looks at the visuals without a
// camera; under xvfb-run it works without a display.

#include "visuals/DesktopPanelFactory.h"
#include "visuals/OverlayPlatform.h"
#include "visuals/ZoneAlertController.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTimer>

#include <sys/resource.h>

#include <cmath>
#include <cstdio>
#include <optional>
#include <set>
#include <vector>

using namespace verticora;

namespace {

struct Options {
    EdgeEffectStyle style = EdgeEffectStyle::tide;
    double severity = 1;
    double progress = 0;
    bool focus = false;
    double depth = 1;
    double seconds = 5;
    QString screenshot;
    bool measureCpu = false;
};

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::optional<double> parseNumber(const QString& text, double low, double high)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < low || value > high)
        return std::nullopt;
    return value;
}

std::optional<Options> parseOptions(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Shows the alert visuals on every screen without a camera."));
    parser.addHelpOption();
    const QCommandLineOption style(QStringLiteral("style"),
                                   QStringLiteral("Edge style: tide, smoke, vignette, glow, corners or horizon."),
                                   QStringLiteral("STYLE"), QStringLiteral("tide"));
    const QCommandLineOption severity(QStringLiteral("severity"), QStringLiteral("Halo severity, 0 to 3."),
                                      QStringLiteral("S"), QStringLiteral("1"));
    const QCommandLineOption progress(QStringLiteral("progress"), QStringLiteral("Warning progress, 0 to 1."),
                                      QStringLiteral("P"), QStringLiteral("0"));
    const QCommandLineOption focus(QStringLiteral("focus"), QStringLiteral("Show the red focus card too."));
    const QCommandLineOption depth(QStringLiteral("depth"), QStringLiteral("Smoke depth, 0 to 10."),
                                   QStringLiteral("D"), QStringLiteral("1"));
    const QCommandLineOption seconds(QStringLiteral("seconds"), QStringLiteral("How long to show them (default 5)."),
                                     QStringLiteral("N"), QStringLiteral("5"));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                        QStringLiteral("Write the first screen as it looks at the end to this PNG."),
                                        QStringLiteral("OUT.png"));
    const QCommandLineOption measureCpu(QStringLiteral("measure-cpu"),
                                        QStringLiteral("Print the process CPU use from 1 s after start to the end."));
    parser.addOptions({style, severity, progress, focus, depth, seconds, screenshot, measureCpu});
    parser.process(arguments);

    Options options;
    const auto parsedStyle = fromRawName<EdgeEffectStyle>(parser.value(style).toStdString());
    if (!parsedStyle) {
        std::fprintf(stderr, "Unknown style \"%s\": use tide, smoke, vignette, glow, corners or horizon.\n",
                     qPrintable(parser.value(style)));
        return std::nullopt;
    }
    options.style = *parsedStyle;
    const auto number = [&](const QCommandLineOption& option, double low, double high, const char* what) {
        const auto value = parseNumber(parser.value(option), low, high);
        if (!value)
            std::fprintf(stderr, "The %s must be a number from %g to %g.\n", what, low, high);
        return value;
    };
    const auto s = number(severity, 0, 3, "severity");
    const auto p = number(progress, 0, 1, "progress");
    const auto d = number(depth, 0, 10, "depth");
    const auto n = number(seconds, 0.1, 86400, "number of seconds");
    if (!s || !p || !d || !n)
        return std::nullopt;
    options.severity = *s;
    options.progress = *p;
    options.depth = *d;
    options.seconds = *n;
    options.focus = parser.isSet(focus);
    options.screenshot = parser.value(screenshot);
    options.measureCpu = parser.isSet(measureCpu);
    return options;
}

// A blank capture (Xvfb's root window) says nothing about how the visuals sit on a desktop.
bool looksBlank(const QImage& image)
{
    if (image.isNull())
        return true;
    std::set<QRgb> colors;
    for (int y = 0; y < image.height(); y += std::max(1, image.height() / 40)) {
        for (int x = 0; x < image.width(); x += std::max(1, image.width() / 40))
            colors.insert(image.pixel(x, y));
    }
    return colors.size() <= 2;
}

// A light stand-in desktop: a top panel and one ordinary window.
QImage standInDesktop(const QSize& size, int topPanel)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient wallpaper(QPointF(0, 0), QPointF(size.width(), size.height()));
    wallpaper.setColorAt(0, QColor(0xd9, 0xe2, 0xe8));
    wallpaper.setColorAt(1, QColor(0xc4, 0xd0, 0xd9));
    painter.fillRect(image.rect(), wallpaper);
    painter.fillRect(QRect(0, 0, size.width(), topPanel), QColor(0x24, 0x27, 0x2b));

    const QRectF window(size.width() * 0.2, size.height() * 0.16, size.width() * 0.6, size.height() * 0.7);
    QPainterPath frame;
    frame.addRoundedRect(window, 10, 10);
    painter.fillPath(frame.translated(0, 6), QColor(0, 0, 0, 30));
    painter.fillPath(frame, QColor(0xfb, 0xfb, 0xfa));
    painter.save();
    painter.setClipPath(frame);
    painter.fillRect(QRectF(window.x(), window.y(), window.width(), 44), QColor(0xec, 0xec, 0xea));
    painter.restore();
    for (int line = 0; line < 14; ++line) {
        const double width = window.width() * (line % 4 == 3 ? 0.45 : 0.8);
        painter.fillRect(QRectF(window.x() + 48, window.y() + 90 + line * 34, width, 12), QColor(0xdc, 0xde, 0xe0));
    }
    return image;
}

bool writeScreenshot(const OverlayPanelFactory& factory, const QImage& desktop, const QString& path)
{
    const std::vector<ScreenGeometry> screens = factory.screens();
    if (screens.empty()) {
        std::fprintf(stderr, "There is no screen to take a screenshot of.\n");
        return false;
    }
    const QRect screen = screens.front().frame;
    const bool blank = looksBlank(desktop);
    const int topPanel = std::max(MenuBarGlowController::bandRect(screens.front()).height(), 0);
    QImage composite = blank ? standInDesktop(screen.size(), topPanel)
                             : desktop.scaled(screen.size()).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&composite);
    for (OverlayPanel* panel : factory.livePanels()) {
        if (!panel->isVisible() || !panel->geometry().intersects(screen))
            continue;
        QImage layer(panel->size(), QImage::Format_ARGB32_Premultiplied);
        layer.fill(Qt::transparent);
        panel->render(&layer, QPoint(), QRegion(), QWidget::DrawChildren);
        painter.drawImage(panel->geometry().topLeft() - screen.topLeft(), layer);
    }
    painter.end();
    if (!composite.save(path, "PNG")) {
        std::fprintf(stderr, "Could not write the screenshot to %s.\n", qPrintable(path));
        return false;
    }
    std::printf("screenshot: %s (%dx%d%s)\n", qPrintable(path), composite.width(), composite.height(),
                blank ? ", over a stand-in desktop: the screen capture was blank" : "");
    return true;
}

// Qt takes "--style" for its widget style; the tool's --style is the edge style, so Qt
// never sees it.
std::vector<char*> argumentsForQt(int argc, char** argv)
{
    std::vector<char*> kept;
    for (int i = 0; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if ((argument == "--style" || argument == "-style") && i + 1 < argc) {
            ++i;
            continue;
        }
        if (argument.startsWith("--style=") || argument.startsWith("-style="))
            continue;
        kept.push_back(argv[i]);
    }
    kept.push_back(nullptr);
    return kept;
}

} // namespace

int main(int argc, char** argv)
{
    preferOverlayCapablePlatform(argc, argv);
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    std::vector<char*> qtArguments = argumentsForQt(argc, argv);
    int qtArgc = static_cast<int>(qtArguments.size()) - 1;
    QApplication application(qtArgc, qtArguments.data());
    QApplication::setApplicationName(QStringLiteral("verticora-visuals-preview"));
    const std::optional<Options> options = parseOptions(arguments);
    if (!options)
        return 2;

    QImage desktop;
    if (!options->screenshot.isEmpty() && QGuiApplication::primaryScreen())
        desktop = QGuiApplication::primaryScreen()->grabWindow(0).toImage();

    DesktopPanelFactory factory;
    ZoneAlertController alerts(factory);
    alerts.setPauseAction([] { QApplication::quit(); });
    alerts.setEdgeEffectStyle(options->style);
    alerts.setSmokeDepthScale(options->depth);
    alerts.setAppearance(options->focus ? ZoneAppearance::redFocus : ZoneAppearance::yellowHalo);
    alerts.setSeverity(options->severity);
    alerts.setProgress(options->progress);
    alerts.presentCurrent();

    double cpuStart = 0;
    double wallStart = 0;
    int status = 0;
    const auto finish = [&] {
        if (options->measureCpu) {
            const double wall = mediaTime() - wallStart;
            const double cpu = processCpuSeconds() - cpuStart;
            std::printf("cpu: %.2f %% of one core over %.1f s (style %s, severity %g%s)\n", 100 * cpu / wall, wall,
                        rawName(options->style).data(), options->severity, options->focus ? ", focus card" : "");
        }
        if (!options->screenshot.isEmpty() && !writeScreenshot(factory, desktop, options->screenshot))
            status = 1;
        QApplication::exit(status);
    };
    const auto milliseconds = [](double seconds) { return static_cast<int>(std::lround(seconds * 1000)); };
    if (options->measureCpu) {
        // Measured once the entrance fades are over, for the rest of the time.
        const double settle = std::min(1.0, options->seconds / 2);
        QTimer::singleShot(milliseconds(settle), Qt::PreciseTimer, &application, [&, settle] {
            cpuStart = processCpuSeconds();
            wallStart = mediaTime();
            QTimer::singleShot(milliseconds(options->seconds - settle), Qt::PreciseTimer, &application, finish);
        });
    } else {
        QTimer::singleShot(milliseconds(options->seconds), Qt::PreciseTimer, &application, finish);
    }
    const int result = QApplication::exec();
    return status != 0 ? status : result;
}
