// verticora-bench-capture: what the camera pipeline itself costs. A rendered 1280x720
// MJPEG (or YUYV) stream plays at 30 frames a second in real time, first through the
// production pipeline at the monitoring cadence (frames handed to a receiver that keeps
// nothing, no analysis), then through the same pipeline decoding (or delivering) every
// frame. Prints one JSON line.
//
//   verticora-bench-capture [--seconds N] [--portrait PNG] [--format mjpeg|yuyv]

#include "analysis/FaceLandmarkRequest.h"
#include "model/CameraRunToken.h"
#include "model/CaptureWorker.h"
#include "model/ModelClock.h"
#include "store/TrackingLease.h"
#include "platform/GstCameraCapture.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImage>
#include <QPainter>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace verticora;

namespace {

constexpr int width = 1280;
constexpr int height = 720;
constexpr int framesPerSecond = 30;
constexpr int distinctFrames = 30; // one second of motion, played in a loop

using Jpeg = std::shared_ptr<const std::vector<std::uint8_t>>;

// The picture as a YUYV camera sends it (BT.601 video range, chroma of each pixel pair averaged).
Jpeg yuyvOf(const QImage& image)
{
    std::vector<std::uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>(width) * height * 2);
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < width; x += 2) {
            int u = 0;
            int v = 0;
            std::uint8_t luma[2];
            for (int k = 0; k < 2; ++k) {
                const int r = qRed(row[x + k]), g = qGreen(row[x + k]), b = qBlue(row[x + k]);
                luma[k] = static_cast<std::uint8_t>(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
                u += ((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128;
                v += ((112 * r - 94 * g - 18 * b + 128) >> 8) + 128;
            }
            bytes.insert(bytes.end(), {luma[0], static_cast<std::uint8_t>(u / 2), luma[1], static_cast<std::uint8_t>(v / 2)});
        }
    }
    return std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
}

// A seated person (the test portrait when there is one) swaying slightly in front of a
// plain wall, with the sensor noise that makes a camera's JPEGs as large as they are.
std::vector<Jpeg> renderStream(const QString& portraitPath, bool yuyv)
{
    const QImage portrait(portraitPath);
    std::mt19937 random(7);
    std::uniform_int_distribution<int> noise(-4, 4);
    std::vector<Jpeg> frames;
    for (int i = 0; i < distinctFrames; ++i) {
        QImage image(width, height, QImage::Format_RGB32);
        QPainter painter(&image);
        QLinearGradient wall(0, 0, 0, height);
        wall.setColorAt(0, QColor(190, 180, 165));
        wall.setColorAt(1, QColor(120, 110, 100));
        painter.fillRect(image.rect(), wall);
        const double sway = 12 * std::sin(2 * std::numbers::pi * i / distinctFrames);
        const QRectF person(width / 2.0 - 330 + sway, 40, 660, 680);
        if (!portrait.isNull()) {
            painter.drawImage(person, portrait);
        } else {
            painter.setBrush(QColor(205, 160, 130));
            painter.setPen(Qt::NoPen);
            painter.drawEllipse(person.adjusted(170, 0, -170, -300));
            painter.setBrush(QColor(60, 70, 110));
            painter.drawRect(person.adjusted(60, 380, -60, 0));
        }
        painter.end();
        for (int y = 0; y < height; ++y) {
            auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < width; ++x) {
                const int n = noise(random);
                const QRgb p = row[x];
                row[x] = qRgb(std::clamp(qRed(p) + n, 0, 255), std::clamp(qGreen(p) + n, 0, 255),
                              std::clamp(qBlue(p) + n, 0, 255));
            }
        }
        if (yuyv) {
            frames.push_back(yuyvOf(image));
            continue;
        }
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "JPG", 85);
        frames.push_back(std::make_shared<const std::vector<std::uint8_t>>(bytes.begin(), bytes.end()));
    }
    return frames;
}

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Run {
    double cpuPercent = 0;
    GstCameraCapture::Statistics statistics;
};

// Plays the stream through a fresh session for `seconds`. The monitoring run makes the
// model's own frame-rate choice; the baseline asks for every frame the camera sends.
Run play(const std::vector<Jpeg>& frames, double seconds, bool everyFrame, bool yuyv)
{
    const std::string caps = std::string(yuyv ? "video/x-raw,format=YUY2" : "image/jpeg") + ",width="
        + std::to_string(width) + ",height=" + std::to_string(height) + ",framerate=" + std::to_string(framesPerSecond)
        + "/1";
    std::atomic<std::uint64_t> fed{0};
    GstCameraCapture::StandIn standIn;
    standIn.device = {"bench", "Rendered camera", "external"};
    // The capsfilter answers the caps query the appsrc leaves open.
    standIn.source = "appsrc name=feed is-live=true format=time caps=\"" + caps + "\" ! capsfilter caps=\"" + caps + "\"";
    // The pre-encoded frames are handed over at the camera's pace: the streaming thread
    // waits for each frame's time, as v4l2src waits for the device, and nothing else runs.
    standIn.feed = [&frames, &fed, start = std::optional<std::chrono::steady_clock::time_point>()]() mutable
        -> std::optional<GstCameraCapture::FeedFrame> {
        const std::uint64_t n = fed++;
        if (!start)
            start = std::chrono::steady_clock::now();
        std::this_thread::sleep_until(*start + std::chrono::nanoseconds(n * 1'000'000'000 / framesPerSecond));
        return GstCameraCapture::FeedFrame{frames[n % frames.size()], static_cast<double>(n) / framesPerSecond};
    };
    GstCameraCapture camera(std::move(standIn));
    CaptureWorker rateChoice(camera, std::make_shared<CameraRunToken>(), std::make_shared<SystemClock>(),
                             std::make_shared<NoTrackingLease>(), nullptr, {});

    std::atomic<std::uint64_t> received{0};
    camera.setFrameReceiver([&received](CapturedFrame frame) {
        if (frame.image)
            ++received;
    });
    if (const std::optional<QString> error = camera.openSession(QStringLiteral("bench"))) {
        std::fprintf(stderr, "verticora-bench-capture: %s\n", qPrintable(*error));
        std::exit(1);
    }
    camera.startRunning();
    if (everyFrame)
        camera.requestRate(framesPerSecond);
    else
        rateChoice.configureCaptureRate(false);

    const GstCameraCapture::Statistics before = camera.statistics();
    const double cpuStart = processCpuSeconds();
    const auto wallStart = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double cpu = processCpuSeconds() - cpuStart;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    const GstCameraCapture::Statistics after = camera.statistics();
    camera.stopRunning();

    Run run;
    run.cpuPercent = 100.0 * cpu / wall;
    run.statistics = after;
    run.statistics.framesIn -= before.framesIn;
    run.statistics.framesDecoded -= before.framesDecoded;
    run.statistics.framesDelivered -= before.framesDelivered;
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    double seconds = 60;
    QString portrait = QStringLiteral(VERTICORA_TEST_DATA_DIR "/astronaut.png");
    bool yuyv = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--seconds" && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else if (argument == "--portrait" && i + 1 < argc) {
            portrait = QString::fromLocal8Bit(argv[++i]);
        } else if (argument == "--format" && i + 1 < argc && (argv[i + 1] == std::string("mjpeg") || argv[i + 1] == std::string("yuyv"))) {
            yuyv = argv[++i] == std::string("yuyv");
        } else if (argument.rfind("--benchmark", 0) != 0) { // `make bench` passes Google Benchmark's options
            std::fprintf(stderr, "usage: verticora-bench-capture [--seconds N] [--portrait PNG] [--format mjpeg|yuyv]\n");
            return 2;
        }
    }
    if (!(seconds > 0))
        seconds = 60;

    const std::vector<Jpeg> frames = renderStream(portrait, yuyv);
    double frameBytes = 0;
    for (const Jpeg& frame : frames)
        frameBytes += static_cast<double>(frame->size()) / static_cast<double>(frames.size());
    const Run production = play(frames, seconds, false, yuyv);
    const Run baseline = play(frames, seconds, true, yuyv);

    const auto& s = production.statistics;
    std::printf("{\"cpu_percent\": %.3f, \"baseline_cpu_percent\": %.3f, \"frames_in\": %llu, \"frames_decoded\": %llu, "
                "\"cpu_ratio\": %.3f, \"decoded_fraction\": %.3f, \"baseline_frames_decoded\": %llu, \"frames_delivered\": %llu, "
                "\"baseline_frames_delivered\": %llu, \"format\": \"%s\", \"frame_bytes\": %.0f}\n",
                production.cpuPercent, baseline.cpuPercent, static_cast<unsigned long long>(s.framesIn),
                static_cast<unsigned long long>(s.framesDecoded),
                baseline.cpuPercent > 0 ? production.cpuPercent / baseline.cpuPercent : 0.0,
                s.framesIn > 0 ? static_cast<double>(s.framesDecoded) / static_cast<double>(s.framesIn) : 0.0,
                static_cast<unsigned long long>(baseline.statistics.framesDecoded),
                static_cast<unsigned long long>(s.framesDelivered),
                static_cast<unsigned long long>(baseline.statistics.framesDelivered), yuyv ? "yuyv" : "mjpeg", frameBytes);
    return 0;
}
