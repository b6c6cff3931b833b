#include "ClipReplay.h"

#include "platform/LandmarkDetector.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <cstdio>
#include <optional>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

using namespace verticora;

namespace {

constexpr char usage[] =
    "usage: verticora-replay CLIP.y4m [--calibrate-at SECONDS] [--yellow Y] [--red R] [--delay D]\n"
    "                        [--sink START,END,DEPTH[,RAMP]]... [--lean START,END,ZOOM[,RAMP]]... [--summary-only]\n"
    "                        [--model FACE-MODELS.bin] [--compare-model FACE-MODELS.bin]\n"
    "Runs the analysis chain and the posture engine over the clip as fast as it can and writes\n"
    "one JSON object per analysed frame, then {\"summary\": {...}}. --sink shifts the picture down\n"
    "by DEPTH frame heights from START to END (clip seconds), as if the person sank; --lean\n"
    "magnifies it about its centre by ZOOM (below 1: leaning back); each eases in and out over\n"
    "RAMP seconds (0.4 unless given). The summary gives, per move,\n"
    "the seconds from its start to red, from red to the alert, and without a measured face.\n"
    "--model reads another prepared face model file than the build's. --compare-model replays\n"
    "the clip with both models and writes, instead, one line per analysed frame whose state\n"
    "differs, then {\"comparison\": {...}}: the frames compared, those analysed in one run only,\n"
    "how many changed state, and the largest change of the deviation, overall and of the\n"
    "deviation up to 3 (the height meter's range; beyond it nothing the user sees changes).\n";

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
        {"decision", QString::fromStdString(frame.decision)},
        {"faces", frame.faces},
        {"cpu_ms", frame.cpuMilliseconds},
    };
}

QJsonObject countsObject(const std::map<std::string, int>& counts)
{
    QJsonObject object;
    for (const auto& [text, count] : counts)
        object.insert(QString::fromStdString(text), count);
    return object;
}

QJsonObject summaryObject(const ReplaySummary& summary)
{
    QJsonObject seconds;
    for (const auto& [state, value] : summary.seconds)
        seconds.insert(QString::fromStdString(state), value);
    QJsonArray moves;
    for (const MoveFigures& move : summary.moves) {
        moves.append(QJsonObject{
            {"start", move.move.start},
            {"end", move.move.end},
            {"shift_down", move.move.shiftDown},
            {"zoom", move.move.zoom},
            {"red_after", move.redAfter ? QJsonValue(*move.redAfter) : QJsonValue()},
            {"alert_after_red", move.alertAfterRed ? QJsonValue(*move.alertAfterRed) : QJsonValue()},
            {"lost_seconds", move.lostSeconds},
        });
    }
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
        {"red_seconds", summary.redSeconds()},
        {"fallbacks", countsObject(summary.fallbacks)},
        {"seed_failures", countsObject(summary.seedFailures)},
        {"monitored_frames", summary.monitoredFrames},
        {"patch_share", summary.patchShare()},
        {"analysis_cpu_share", summary.cpuShare()},
        {"moves", moves},
    };
    if (summary.error)
        object.insert("error", QString::fromStdString(*summary.error));
    return object;
}

// The deviations the user can tell apart: the height meter shows 0 to 3, the live score
// is 0 and the reminders are at their strongest well before 3.
constexpr double largestVisibleDeviation = 3.0;

// What the user would see differently with another face model: the frames analysed in
// both runs, compared by state and deviation.
struct Comparison {
    int frames = 0;
    int analysedInOneOnly = 0;
    int stateChanges = 0;
    double largestDeviationChange = 0;
    double largestVisibleChange = 0; // of the deviation up to largestVisibleDeviation
    std::optional<double> largestVisibleAt;
};

Comparison compare(const std::vector<ReplayFrame>& a, const std::vector<ReplayFrame>& b,
                   const std::function<void(const ReplayFrame&, const ReplayFrame&)>& stateChanged)
{
    Comparison c;
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() || j < b.size()) {
        if (j == b.size() || (i < a.size() && a[i].time < b[j].time)) {
            ++c.analysedInOneOnly;
            ++i;
            continue;
        }
        if (i == a.size() || b[j].time < a[i].time) {
            ++c.analysedInOneOnly;
            ++j;
            continue;
        }
        const ReplayFrame& x = a[i++];
        const ReplayFrame& y = b[j++];
        ++c.frames;
        if (x.state != y.state || x.score.has_value() != y.score.has_value()) {
            ++c.stateChanges;
            stateChanged(x, y);
        }
        if (x.score && y.score) {
            c.largestDeviationChange = std::max(c.largestDeviationChange, std::abs(*x.score - *y.score));
            const double visible = std::abs(std::min(*x.score, largestVisibleDeviation)
                                            - std::min(*y.score, largestVisibleDeviation));
            if (visible > c.largestVisibleChange) {
                c.largestVisibleChange = visible;
                c.largestVisibleAt = x.time;
            }
        }
    }
    return c;
}

QJsonObject comparisonObject(const Comparison& c)
{
    return {
        {"frames", c.frames},
        {"analysed_in_one_only", c.analysedInOneOnly},
        {"state_changes", c.stateChanges},
        {"largest_deviation_change", c.largestDeviationChange},
        {"largest_visible_change", c.largestVisibleChange},
        {"largest_visible_at", c.largestVisibleAt ? QJsonValue(*c.largestVisibleAt) : QJsonValue()},
    };
}

bool parseNumber(const char* text, double& value)
{
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(value);
}

// START,END,VALUE[,RAMP] with END after START and a ramp of at most half the move.
std::optional<PictureMove> parseMove(const std::string& text, bool sink)
{
    std::vector<double> values;
    std::size_t from = 0;
    while (true) {
        const std::size_t comma = text.find(',', from);
        const std::string part = text.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
        double value = 0;
        if (!parseNumber(part.c_str(), value))
            return std::nullopt;
        values.push_back(value);
        if (comma == std::string::npos)
            break;
        from = comma + 1;
    }
    if (values.size() < 3 || values.size() > 4)
        return std::nullopt;
    PictureMove move;
    move.start = values[0];
    move.end = values[1];
    (sink ? move.shiftDown : move.zoom) = values[2];
    if (values.size() == 4)
        move.ramp = values[3];
    if (!(move.end > move.start) || !(move.zoom > 0) || !(move.ramp >= 0) || move.ramp > (move.end - move.start) / 2)
        return std::nullopt;
    return move;
}

} // namespace

int main(int argc, char** argv)
{
    std::string clip;
    ClipReplaySettings settings;
    bool summaryOnly = false;
    std::filesystem::path model = LandmarkDetector::defaultModelPath();
    std::optional<std::filesystem::path> comparedModel;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--sink" || argument == "--lean") {
            const std::optional<PictureMove> move = i + 1 < argc ? parseMove(argv[++i], argument == "--sink") : std::nullopt;
            if (!move) {
                std::fprintf(stderr, "verticora-replay: %s needs START,END,VALUE[,RAMP] with END after START and RAMP at most half the move.\n%s",
                             argument.c_str(), usage);
                return 2;
            }
            settings.moves.push_back(*move);
            continue;
        }
        if (argument == "--summary-only") {
            summaryOnly = true;
            continue;
        }
        if (argument == "--model" && i + 1 < argc) {
            model = argv[++i];
            continue;
        }
        if (argument == "--compare-model" && i + 1 < argc) {
            comparedModel = argv[++i];
            continue;
        }
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

    // Each run's frames and summary, a damaged clip reported.
    const auto replay = [&](const std::filesystem::path& faceModels, const std::function<void(const ReplayFrame&)>& each) {
        ClipReplay chain(std::make_unique<LandmarkDetector>(faceModels), settings);
        const ReplaySummary summary = chain.run(clip, each);
        if (summary.error)
            std::fprintf(stderr, "verticora-replay: %s\n", summary.error->c_str());
        return summary;
    };

    if (comparedModel) {
        std::vector<ReplayFrame> frames;
        std::vector<ReplayFrame> comparedFrames;
        const ReplaySummary first = replay(model, [&](const ReplayFrame& f) { frames.push_back(f); });
        const ReplaySummary second = replay(*comparedModel, [&](const ReplayFrame& f) { comparedFrames.push_back(f); });
        const Comparison comparison = compare(frames, comparedFrames, [&](const ReplayFrame& a, const ReplayFrame& b) {
            if (!summaryOnly)
                printLine(QJsonObject{{"t", a.time}, {"state", frameObject(a)["state"]}, {"score", frameObject(a)["score"]},
                                      {"compared_state", frameObject(b)["state"]}, {"compared_score", frameObject(b)["score"]}});
        });
        printLine(QJsonObject{{"comparison", comparisonObject(comparison)}});
        return first.error || second.error ? 1 : 0;
    }

    const ReplaySummary summary = replay(model, [summaryOnly](const ReplayFrame& frame) {
        if (!summaryOnly)
            printLine(frameObject(frame));
    });
    printLine(QJsonObject{{"summary", summaryObject(summary)}});
    return summary.error ? 1 : 0;
}
