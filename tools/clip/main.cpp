// verticora-clip: renders a synthetic camera clip (.y4m) from a scene file. The scene
// format is described in tools/clip/README.md.

#include "Scene.h"
#include "SceneRenderer.h"

#include <QCoreApplication>
#include <QJsonValue>
#include <QLoggingCategory>
#include <QStringList>

#include <cstdio>
#include <exception>
#include <optional>

using namespace verticora;
using namespace verticora::clip;

namespace {

constexpr const char* usage =
    "usage: verticora-clip [--images DIR]... [--size WIDTHxHEIGHT] [--fps RATE] [--duration SECONDS]\n"
    "                      SCENE.json OUT.y4m\n"
    "Renders the scene into a YUV4MPEG2 clip. Relative image paths in the scene are looked up\n"
    "next to the scene file, then in each --images folder. --size, --fps and --duration\n"
    "override the scene's own values (the face places stay relative to the frame).\n";

struct Arguments {
    QStringList imageFolders;
    std::optional<QString> size;
    std::optional<QString> fps;
    std::optional<double> duration;
    QString scene;
    QString output;
};

std::optional<Arguments> parseArguments(const QStringList& args)
{
    Arguments parsed;
    QStringList positional;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--images" && hasValue) {
            parsed.imageFolders << args[++i];
        } else if (arg == "--size" && hasValue) {
            parsed.size = args[++i];
        } else if (arg == "--fps" && hasValue) {
            parsed.fps = args[++i];
        } else if (arg == "--duration" && hasValue) {
            bool ok = false;
            parsed.duration = args[++i].toDouble(&ok);
            if (!ok)
                return std::nullopt;
        } else if (arg.startsWith("--")) {
            return std::nullopt;
        } else {
            positional << arg;
        }
    }
    if (positional.size() != 2)
        return std::nullopt;
    parsed.scene = positional[0];
    parsed.output = positional[1];
    return parsed;
}

// Applies the command-line overrides, checked like the values in a scene file.
Scene withOverrides(Scene scene, const Arguments& args)
{
    if (args.size) {
        const QStringList parts = args.size->split('x');
        bool widthOk = false;
        bool heightOk = false;
        const int width = parts.value(0).toInt(&widthOk);
        const int height = parts.value(1).toInt(&heightOk);
        if (parts.size() != 2 || !widthOk || !heightOk || width < 16 || height < 16 || width > 4096 || height > 4096)
            throw SceneError("--size must be WIDTHxHEIGHT, each between 16 and 4096 pixels.");
        scene.width = width;
        scene.height = height;
    }
    if (args.fps) {
        const auto rate = frameRateOf(args.fps->contains(':') ? QJsonValue(*args.fps) : QJsonValue(args.fps->toDouble()));
        if (!rate)
            throw SceneError("--fps must be a number of frames per second up to 240, or NUMERATOR:DENOMINATOR.");
        scene.frameRate = *rate;
    }
    if (args.duration) {
        if (!(*args.duration > 0 && *args.duration <= 3600))
            throw SceneError("--duration must be between 0 and 3600 seconds.");
        scene.duration = *args.duration;
    }
    return scene;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    // Common portraits carry slightly wrong colour profiles that libpng warns about on
    // every read; real image errors still fail the scene.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio=false"));
    const auto args = parseArguments(QCoreApplication::arguments());
    if (!args) {
        std::fputs(usage, stderr);
        return 2;
    }
    try {
        const SceneRenderer renderer(withOverrides(loadScene(args->scene, args->imageFolders), *args));
        writeClip(renderer, args->output.toStdString());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "verticora-clip: %s\n", error.what());
        return 1;
    }
    return 0;
}
