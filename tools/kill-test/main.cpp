// verticora-kill-test: starts the application on a clip, kills it with SIGKILL at a
// random moment (while it starts, tracks, saves or quits), starts it again, and checks
// after every round that the data folder still holds everything that was saved.

#include "store/DailyProgressFile.h"
#include "store/DataFolder.h"
#include "store/PreferencesStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <random>
#include <string>

using namespace verticora;

namespace {

constexpr char usage[] =
    "usage: verticora-kill-test --app VERTICORA --clip CLIP.y4m [--rounds N] [--seed S] [--data-dir DIR]\n"
    "Sets the height once on the clip, then runs N rounds of start and SIGKILL and prints one JSON line.\n";

// The progress store writes at least this often while tracking, and at every stop.
constexpr double flushInterval = 30.0;
// How far the tool's clock may lead or lag the application's idea of when tracking began
// (its state lines can come late on a busy machine).
constexpr double timingSlack = 2.0;

struct Options {
    QString app;
    QString clip;
    QString dataDirectory;
    int rounds = 20;
    unsigned seed = 1;
};

std::optional<Options> parse(const QStringList& arguments)
{
    Options options;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (i + 1 >= arguments.size())
            return std::nullopt;
        const QString value = arguments[++i];
        bool ok = true;
        if (argument == QLatin1String("--app"))
            options.app = value;
        else if (argument == QLatin1String("--clip"))
            options.clip = QFileInfo(value).absoluteFilePath();
        else if (argument == QLatin1String("--data-dir"))
            options.dataDirectory = value;
        else if (argument == QLatin1String("--rounds"))
            options.rounds = value.toInt(&ok);
        else if (argument == QLatin1String("--seed"))
            options.seed = value.toUInt(&ok);
        else
            return std::nullopt;
        if (!ok)
            return std::nullopt;
    }
    if (options.app.isEmpty() || options.clip.isEmpty() || options.rounds < 0)
        return std::nullopt;
    return options;
}

double totalSeconds(const DailyProgressFile& file)
{
    double total = 0;
    for (const DayProgress& day : file.days)
        total += day.greenSeconds + day.yellowSeconds + day.redSeconds;
    return total;
}

// What one run of the application did, as seen from outside.
struct Run {
    bool killed = false;
    bool exitedCleanly = false;
    double seconds = 0;                  // from start to kill or exit
    std::optional<double> trackingSince; // seconds after start of the first tracked state
    std::optional<double> summarySeconds; // the day's total the application reported at its end
    QString errors;
};

bool isTrackingLine(const QJsonObject& line)
{
    return line[QLatin1String("stage")] == QLatin1String("monitoring") && line[QLatin1String("hasPose")].toBool();
}

// Starts the application and kills it after `killAfter` seconds unless it ends first.
Run runOnce(const Options& options, const QString& data, double killAfter, bool autoSetup)
{
    QProcess process;
    QStringList arguments{"--replay", options.clip, "--headless", "--data-dir", data};
    if (autoSetup)
        arguments << "--auto-setup";
    QElapsedTimer clock;
    process.start(options.app, arguments);
    clock.start();
    Run run;
    QByteArray pending;
    const auto readLines = [&] {
        pending += process.readAllStandardOutput();
        qsizetype newline = 0;
        while ((newline = pending.indexOf('\n')) >= 0) {
            const QJsonObject line = QJsonDocument::fromJson(pending.left(newline)).object();
            pending.remove(0, newline + 1);
            if (!run.trackingSince && isTrackingLine(line))
                run.trackingSince = double(clock.nsecsElapsed()) / 1e9;
            const QJsonObject summary = line[QLatin1String("summary")].toObject();
            if (!summary.isEmpty()) {
                run.summarySeconds = summary[QLatin1String("green_seconds")].toDouble()
                    + summary[QLatin1String("yellow_seconds")].toDouble()
                    + summary[QLatin1String("red_seconds")].toDouble();
            }
        }
    };
    while (process.state() != QProcess::NotRunning) {
        const double left = killAfter - double(clock.nsecsElapsed()) / 1e9;
        if (left <= 0) {
            process.kill(); // SIGKILL
            run.killed = true;
            break;
        }
        process.waitForReadyRead(std::clamp(int(left * 1000), 1, 50));
        readLines();
    }
    process.waitForFinished(-1);
    run.seconds = double(clock.nsecsElapsed()) / 1e9;
    readLines();
    run.exitedCleanly = !run.killed && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    run.errors = QString::fromUtf8(process.readAllStandardError()).trimmed();
    return run;
}

QStringList namesLike(const QString& folder, const QString& pattern)
{
    return QDir(folder).entryList({pattern}, QDir::Files | QDir::System | QDir::Hidden);
}

// The checks after a round; returns the first broken promise, or nothing.
struct FolderState {
    std::optional<SavedCalibration> calibration;
    double recordedSeconds = 0;
    qsizetype days = 0;
    int leftovers = 0;
};

std::optional<QString> inspect(const QString& data, const QString& cameraID, FolderState& state)
{
    const QString preferencesPath = data + QStringLiteral("/preferences.json");
    const PreferencesLoad preferences = PreferencesStore(preferencesPath).read();
    if (!preferences.preferences)
        return QStringLiteral("preferences.json does not load: ") + preferences.failure.value_or(PreferencesFailure{}).description;
    const std::optional<SavedCalibration> calibration = preferences.preferences->calibration(cameraID);
    if (state.calibration && calibration != state.calibration)
        return QStringLiteral("the calibration of the clip changed or was lost");
    state.calibration = calibration;

    const QString progressPath = data + QStringLiteral("/daily-progress.json");
    if (QFileInfo::exists(progressPath)) {
        const FileContent content = readDataFile(progressPath, dailyProgressFileLimit);
        const auto progress = decodeDailyProgress(content.bytes);
        if (content.status != FileContent::Status::read || !progress || !progress->acceptable())
            return QStringLiteral("daily-progress.json does not load");
        state.recordedSeconds = totalSeconds(*progress);
        state.days = progress->days.size();
    }
    if (!namesLike(data, QStringLiteral("*.unreadable-*")).isEmpty())
        return QStringLiteral("a file was set aside as unreadable");
    state.leftovers = int(namesLike(data, QStringLiteral("*.tmp-*")).size());
    return std::nullopt;
}

void printJson(const QJsonObject& object)
{
    std::printf("%s\n", QJsonDocument(object).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const std::optional<Options> options = parse(QCoreApplication::arguments());
    if (!options) {
        std::fputs(usage, stderr);
        return 2;
    }
    QTemporaryDir scratch;
    const QString data = options->dataDirectory.isEmpty() ? scratch.filePath(QStringLiteral("data")) : options->dataDirectory;
    const QString cameraID = QStringLiteral("replay:") + options->clip;
    const auto fail = [&](int round, const QString& what, const Run& run) {
        printJson({{"failed_round", round}, {"reason", what}, {"stderr", run.errors}});
        return 1;
    };

    // The height is set once, on a run that is not interrupted; every later round must keep
    // it. A busy machine may analyse too few frames of the clip for that, so it may try again.
    Run setup;
    FolderState state;
    for (int attempt = 0; attempt < 3 && !state.calibration; ++attempt) {
        setup = runOnce(*options, data, 600, true);
        if (!setup.exitedCleanly)
            return fail(0, QStringLiteral("the setup run did not end cleanly"), setup);
        if (const auto broken = inspect(data, cameraID, state))
            return fail(0, *broken, setup);
    }
    if (!state.calibration)
        return fail(0, QStringLiteral("the setup runs saved no calibration"), setup);
    // A round that is not killed lasts about as long as this one.
    const double fullRun = setup.seconds;

    std::mt19937 random(options->seed);
    std::uniform_real_distribution<double> killMoment(0.0, fullRun * 1.15);
    int killed = 0;
    int leftoversSeen = 0;
    double replayed = 0;
    double recorded = 0;
    double worstLoss = 0;
    QElapsedTimer elapsed;
    elapsed.start();
    const auto figures = [&](int rounds) {
        return QJsonObject{
            {"rounds", rounds},
            {"killed", killed},
            {"ended_by_themselves", rounds - killed},
            {"temporary_files_left_by_kills", leftoversSeen},
            {"tracked_seconds", replayed},
            {"recorded_seconds", recorded},
            {"largest_loss_seconds", worstLoss},
            {"wall_seconds", double(elapsed.elapsed()) / 1000.0},
        };
    };
    for (int round = 1; round <= options->rounds; ++round) {
        const double before = state.recordedSeconds;
        const Run run = runOnce(*options, data, killMoment(random), false);
        killed += run.killed;
        if (!run.killed && !run.exitedCleanly)
            return fail(round, QStringLiteral("the application failed"), run);
        if (const auto broken = inspect(data, cameraID, state))
            return fail(round, *broken, run);
        leftoversSeen += state.leftovers;

        const double tracked = run.trackingSince ? std::max(0.0, run.seconds - *run.trackingSince) : 0.0;
        const double gained = state.recordedSeconds - before;
        if (gained < -1e-9 || gained > tracked + timingSlack)
            return fail(round, QStringLiteral("recorded %1 s for %2 s of tracking").arg(gained).arg(tracked), run);
        if (gained < tracked - flushInterval - timingSlack)
            return fail(round, QStringLiteral("lost %1 s of %2 s of tracking").arg(tracked - gained).arg(tracked), run);
        // The application's own count of the day, when the history holds just that day.
        if (run.summarySeconds && state.days == 1 && std::abs(*run.summarySeconds - state.recordedSeconds) > 1e-6)
            return fail(round, QStringLiteral("the file holds other seconds than the application counted"), run);
        replayed += tracked;
        recorded += gained;
        worstLoss = std::max(worstLoss, tracked - gained);
        // The figures so far, for long runs that are watched or cut short.
        if (round % 50 == 0)
            std::fprintf(stderr, "%s\n", QJsonDocument(figures(round)).toJson(QJsonDocument::Compact).constData());
    }
    printJson(figures(options->rounds));
    return 0;
}
