// verticora-bench-lend: how quickly Verticora gives the camera to another program and
// takes it back. The real capture pipeline streams at 30 frames a second from a test
// source whose device node is a file; a child process opens that file (as a call app
// opens /dev/video0) and closes it again, round after round. Prints one JSON line: the
// time from the child's open to the pipeline reaching NULL (median and 95th percentile)
// and from its close to the first analysed frame again (median).
//
//   verticora-bench-lend [--rounds N]

#include "app/ModelFactory.h"
#include "model/CameraModel.h"
#include "model/ModelClock.h"
#include "platform/GstCameraCapture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

using namespace verticora;

namespace {

constexpr int defaultRounds = 100;

double monotonicSeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The child: opens and closes `node` when told on standard input, and answers each
// command with the moment (monotonic seconds) just before the call.
int hold(const char* node)
{
    int fd = -1;
    std::string command;
    while (std::getline(std::cin, command)) {
        const double now = monotonicSeconds();
        if (command == "open" && fd < 0)
            fd = ::open(node, O_RDONLY | O_CLOEXEC);
        else if (command == "close" && fd >= 0)
            fd = ::close(fd) == 0 ? -1 : fd;
        std::printf("%.9f\n", now);
        std::fflush(stdout);
    }
    return 0;
}

double ask(QProcess& child, const char* command)
{
    child.write(command);
    child.write("\n");
    child.waitForReadyRead(10'000);
    return child.readLine().trimmed().toDouble();
}

bool waitFor(const std::function<bool()>& done, int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > milliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

double percentile(std::vector<double> values, double share)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(std::ceil(share * static_cast<double>(values.size()))) - 1;
    return values[std::min(index, values.size() - 1)];
}

void fail(const char* what)
{
    std::fprintf(stderr, "verticora-bench-lend: %s\n", what);
    std::exit(1);
}

} // namespace

int main(int argc, char** argv)
{
    int rounds = defaultRounds;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--hold" && i + 1 < argc)
            return hold(argv[i + 1]);
        if (argument == "--rounds" && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (argument.rfind("--benchmark", 0) != 0) { // `make bench` passes Google Benchmark's options
            std::fprintf(stderr, "usage: verticora-bench-lend [--rounds N]\n");
            return 2;
        }
    }

    QCoreApplication application(argc, argv);
    QTemporaryDir folder;
    const QString node = folder.filePath("video0");
    QFile file(node);
    if (!folder.isValid() || !file.open(QIODevice::WriteOnly))
        fail("no folder for the stand-in node");
    file.close();

    GstCameraCapture::StandIn standIn;
    standIn.device = {"bench", "Test camera", "external"};
    standIn.source = "videotestsrc is-live=true ! capsfilter caps=\"video/x-raw,format=YUY2,width=1280,height=720,"
                     "framerate=30/1\"";
    standIn.node = node.toStdString();
    auto capture = std::make_unique<GstCameraCapture>(standIn);
    GstCameraCapture& pipeline = *capture;
    auto model = makeApplicationModel(folder.filePath("data"), std::move(capture), nullptr,
                                      std::make_shared<SystemClock>());
    int analysed = 0;
    QObject::connect(model.get(), &CameraModel::frameHandled, [&] { ++analysed; });
    model->select(QStringLiteral("bench"));
    model->startCamera(false);
    if (!waitFor([&] { return analysed > 0; }, 30'000))
        fail("the camera did not start");

    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {"--hold", node});
    if (!child.waitForStarted(10'000))
        fail("the child did not start");

    std::vector<double> releases;
    std::vector<double> resumes;
    for (int round = 0; round < rounds; ++round) {
        const std::uint64_t released = pipeline.statistics().releases;
        const double opened = ask(child, "open");
        if (!waitFor([&] { return pipeline.statistics().releases > released && model->session().paused(); }, 10'000))
            fail("the camera was not lent");
        releases.push_back((pipeline.statistics().lastRelease - opened) * 1000);

        const double closed = ask(child, "close");
        const int before = analysed;
        if (!waitFor([&] { return analysed > before; }, 20'000))
            fail("tracking did not resume");
        resumes.push_back(monotonicSeconds() - closed);
    }
    child.closeWriteChannel();
    child.waitForFinished(5000);

    std::printf("{\"rounds\": %d, \"release_ms_median\": %.3f, \"release_ms_p95\": %.3f, \"resume_s_median\": %.3f}\n",
                rounds, percentile(releases, 0.5), percentile(releases, 0.95), percentile(resumes, 0.5));
    return 0;
}
