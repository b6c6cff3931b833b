#include "ClipReplay.h"

#include "platform/LandmarkDetector.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace verticora;

namespace {

constexpr char usage[] =
    "usage: verticora-replay CLIP.y4m [--calibrate-at SECONDS] [--yellow Y] [--red R] [--delay D]\n"
    "Runs the analysis chain and the posture engine over the clip as fast as it can and writes\n"
    "one JSON object per analysed frame, then {\"summary\": {...}}.\n";

void printLine(const QJsonObject& object)
{
    const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact);
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
}

QJsonObject frameObject(const ReplayFrame& frame)
{
    return {
        {"t", frame.time},
        {"path", QString::fromStdString(frame.path)},
        {"features", frame.features},
        {"state", QString::fromUtf8(zoneStateName(frame.state).data())},
        {"score", frame.score ? QJsonValue(*frame.score) : QJsonValue()},
        {"loss", QString::fromUtf8(faceLossReasonName(frame.loss).data())},
        {"guidance", QString::fromStdString(frame.guidance)},
        {"fallback", QString::fromStdString(frame.fallback)},
        {"faces", frame.faces},
        {"cpu_ms", frame.cpuMilliseconds},
    };
}

QJsonObject summaryObject(const ReplaySummary& summary)
{
    QJsonObject seconds;
    for (const auto& [state, value] : summary.seconds)
        seconds.insert(QString::fromStdString(state), value);
    QJsonObject object{
        {"frames", summary.frames},
        {"analysed", summary.analysed},
        {"full_passes", summary.fullPasses},
        {"patch_passes", summary.patchPasses},
        {"full_ms_median", summary.fullMillisecondsMedian},
        {"patch_ms_median", summary.patchMillisecondsMedian},
        {"cpu_seconds", summary.cpuSeconds},
        {"model_load_seconds", summary.modelLoadSeconds},
        {"clip_seconds", summary.clipSeconds},
        {"seconds", seconds},
    };
    if (summary.error)
        object.insert("error", QString::fromStdString(*summary.error));
    return object;
}

bool parseNumber(const char* text, double& value)
{
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(value);
}

} // namespace

int main(int argc, char** argv)
{
    std::string clip;
    ClipReplaySettings settings;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        double* target = argument == "--calibrate-at" ? &settings.calibrateAt
            : argument == "--yellow"                  ? &settings.yellow
            : argument == "--red"                     ? &settings.red
            : argument == "--delay"                   ? &settings.delay
                                                      : nullptr;
        if (target) {
            if (i + 1 >= argc || !parseNumber(argv[++i], *target)) {
                std::fprintf(stderr, "verticora-replay: %s needs a number.\n%s", argument.c_str(), usage);
                return 2;
            }
        } else if (clip.empty() && argument.rfind("--", 0) != 0) {
            clip = argument;
        } else {
            std::fputs(usage, stderr);
            return 2;
        }
    }
    if (clip.empty()) {
        std::fputs(usage, stderr);
        return 2;
    }

    ClipReplay replay(std::make_unique<LandmarkDetector>(), settings);
    const ReplaySummary summary = replay.run(clip, [](const ReplayFrame& frame) { printLine(frameObject(frame)); });
    printLine(QJsonObject{{"summary", summaryObject(summary)}});
    if (summary.error) {
        std::fprintf(stderr, "verticora-replay: %s\n", summary.error->c_str());
        return 1;
    }
    return 0;
}
