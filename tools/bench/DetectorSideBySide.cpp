// verticora-bench-detector: the full detector pass of the application side by side with
// the one it replaced, over the same analysis frames in one process.
//
// - old: dlib's detector and shape predictor as dlib loads them, whole pyramid always;
// - new, whole pyramid: the prepared models, as when nobody is tracked;
// - new, tracking: the prepared models with the tracked face as search hint.
//
// It prints the median thread CPU time of each pass, their ratios, the CPU time and
// resident memory that loading each model costs, and the heap allocations of a steady
// pass. Times are CPU times, so other work on the machine does not count against them.

#include "AllocationCounter.h"

#include "DlibFaceModels.h"
#include "Scene.h"
#include "SceneRenderer.h"

#include "analysis/AnalysisFrames.h"
#include "platform/DlibFaceModel.h"
#include "platform/HogFaceScanner.h"
#include "platform/LandmarkDetector.h"
#include "platform/Y4mClip.h"

#include <QFileInfo>
#include <QLoggingCategory>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

using namespace verticora;

namespace {

constexpr char usage[] =
    "usage: verticora-bench-detector [CLIP.y4m | SCENE.json] [--seconds S] [--baseline-kernels] [--settle S]\n"
    "Without a clip it renders the still seated scene (tools/clip/scenes/seated-still.json)\n"
    "from the test portrait that `make test` fetches. The new detector's face scan runs the\n"
    "fastest vector loops this processor has, or with --baseline-kernels those for any x86-64.\n"
    "--settle waits S seconds after loading the models, long enough (40 s) for the kernel to\n"
    "gather the landmark leaves into huge pages as it does in a running application.\n";

double threadMilliseconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double processSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double residentMegabytes()
{
    long pages = 0;
    long resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The analysis frames of a clip or a scene, one at a time.
class FrameSource {
public:
    FrameSource(const std::string& path, double seconds)
    {
        if (path.ends_with(".y4m")) {
            m_clip.emplace(path);
            m_frameRate = m_clip->frameRate().framesPerSecond();
        } else {
            QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio=false"));
            clip::Scene scene = clip::loadScene(QString::fromStdString(path), {QStringLiteral(VERTICORA_TEST_DATA_DIR)});
            m_frameRate = scene.frameRate.framesPerSecond();
            m_frames = std::min<std::int64_t>(scene.frameCount(), std::llround(seconds * m_frameRate));
            m_renderer.emplace(std::move(scene));
        }
        m_limit = std::llround(seconds * m_frameRate);
    }

    // The next analysis frame and its time, or none at the end.
    std::optional<std::pair<PixelBufferView, double>> next()
    {
        if (m_index >= m_limit)
            return std::nullopt;
        const double t = static_cast<double>(m_index) / m_frameRate;
        std::optional<PixelBufferView> camera;
        if (m_clip) {
            m_current = m_clip->next();
            if (!m_current)
                return std::nullopt;
            camera = m_current->buffer.view();
        } else {
            if (m_index >= m_frames)
                return std::nullopt;
            m_image = m_renderer->render(m_index);
            camera = clip::bgraView(m_image);
        }
        ++m_index;
        const std::optional<PixelBufferView> analysis = m_resizer.resized(*camera);
        return std::pair{analysis.value_or(*camera), t};
    }

private:
    std::optional<Y4mReader> m_clip;
    std::optional<ClipFrame> m_current;
    std::optional<clip::SceneRenderer> m_renderer;
    QImage m_image;
    AnalysisFrames m_resizer;
    double m_frameRate = 10;
    std::int64_t m_frames = 0;
    std::int64_t m_limit = 0;
    std::int64_t m_index = 0;
};

struct Load {
    double cpuSeconds = 0;
    double residentMegabytes = 0;
};

Load measureLoad(LandmarkDetector& detector)
{
    const double cpu = processSeconds();
    const double resident = residentMegabytes();
    detector.prepare();
    return {processSeconds() - cpu, residentMegabytes() - resident};
}

// The face a tracker would follow: the largest.
std::optional<Rect> subjectOf(const std::vector<FaceObservation>& faces)
{
    const auto largest = std::max_element(faces.begin(), faces.end(), [](const auto& a, const auto& b) {
        return a.boundingBox.width < b.boundingBox.width;
    });
    return largest == faces.end() ? std::nullopt : std::optional(largest->boundingBox);
}

} // namespace

int main(int argc, char** argv)
{
    std::string source = std::string(VERTICORA_SCENE_DIR) + "/seated-still.json";
    double seconds = 20;
    double settle = 0;
    const detail::HogKernels* kernels = &detail::fastestHogKernels();
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--seconds" && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else if (argument == "--settle" && i + 1 < argc) {
            settle = std::atof(argv[++i]);
        } else if (argument == "--baseline-kernels") {
            kernels = &detail::baselineHogKernels();
        } else if (argument.starts_with("--benchmark_")) {
            // `make bench` passes Google Benchmark's options to every benchmark
        } else if (!argument.starts_with("-")) {
            source = argument;
        } else {
            std::fputs(usage, stderr);
            return 2;
        }
    }
    if (!source.ends_with(".y4m") && !QFileInfo::exists(QStringLiteral(VERTICORA_TEST_DATA_DIR "/astronaut.png"))) {
        std::fputs("verticora-bench-detector: the test portrait is missing; run `make test` once to fetch it\n", stderr);
        return 1;
    }

    try {
        // The new model first, so that the old one's memory does not hide its cost.
        LandmarkDetector fresh([kernels] {
            return std::make_unique<detail::DlibFaceModel>(LandmarkDetector::defaultModelPath(), *kernels);
        });
        const Load freshLoad = measureLoad(fresh);
        LandmarkDetector old([] { return std::make_unique<facemodels::DlibReferenceEngine>(); });
        const Load oldLoad = measureLoad(old);
        if (!fresh.modelLoaded() || !old.modelLoaded()) {
            std::fprintf(stderr, "verticora-bench-detector: %s\n", fresh.modelLoaded() ? "dlib's models cannot be read"
                                                                                      : "the face models cannot be read");
            return 1;
        }
        if (settle > 0)
            std::this_thread::sleep_for(std::chrono::duration<double>(settle));

        FrameSource frames(source, seconds);
        std::vector<double> oldTimes;
        std::vector<double> wholeTimes;
        std::vector<double> trackingTimes;
        std::vector<int> trackingLevels;
        int disagreements = 0;
        std::uint64_t allocations = 0;
        int counted = 0;
        std::vector<std::uint8_t> lastGrey;
        int lastWidth = 0;
        int lastHeight = 0;
        while (auto frame = frames.next()) {
            const auto& [view, t] = *frame;
            if (view.format() == pixelFormat::bgra) {
                lastWidth = view.width();
                lastHeight = view.height();
                lastGrey.resize(static_cast<std::size_t>(lastWidth) * static_cast<std::size_t>(lastHeight));
                for (int y = 0; y < lastHeight; ++y) {
                    const std::uint8_t* in = view.row(0, y);
                    for (int x = 0; x < lastWidth; ++x, in += 4)
                        lastGrey[static_cast<std::size_t>(y * lastWidth + x)] =
                            static_cast<std::uint8_t>((29 * in[0] + 150 * in[1] + 77 * in[2] + 128) >> 8);
                }
            }
            double start = threadMilliseconds();
            const auto before = old.perform(view);
            oldTimes.push_back(threadMilliseconds() - start);

            fresh.setSearchHint({t, std::nullopt});
            start = threadMilliseconds();
            const auto whole = fresh.perform(view);
            wholeTimes.push_back(threadMilliseconds() - start);
            const bool same = whole.size() == before.size()
                && std::equal(whole.begin(), whole.end(), before.begin(), [](const auto& a, const auto& b) {
                       return a.boundingBox == b.boundingBox;
                   });
            disagreements += same ? 0 : 1;

            if (const std::optional<Rect> subject = subjectOf(whole)) {
                fresh.setSearchHint({t, subject});
                const std::uint64_t allocated = bench::allocationCount();
                start = threadMilliseconds();
                const auto tracked = fresh.perform(view);
                trackingTimes.push_back(threadMilliseconds() - start);
                allocations += bench::allocationCount() - allocated;
                ++counted;
                trackingLevels.push_back(fresh.lastFirstLevel());
            }
        }
        if (oldTimes.empty()) {
            std::fputs("verticora-bench-detector: no frames\n", stderr);
            return 1;
        }

        // The engine alone, over the grey of the last frame: its buffers are reused, so a
        // steady pass, faces and landmarks included, allocates nothing.
        std::uint64_t engineAllocations = 0;
        std::size_t engineFaces = 0;
        {
            detail::DlibFaceModel engine(LandmarkDetector::defaultModelPath(), *kernels);
            const detail::GreyView view{lastGrey.data(), lastWidth, lastHeight, static_cast<std::size_t>(lastWidth)};
            std::vector<detail::DetectedFace> found;
            engine.detect(view, 0, found);
            engineFaces = found.size();
            const std::uint64_t allocated = bench::allocationCount();
            for (int i = 0; i < 6; ++i)
                engine.detect(view, i % 2, found);
            engineAllocations = bench::allocationCount() - allocated;
        }

        const double oldMedian = median(oldTimes);
        const double wholeMedian = median(wholeTimes);
        const double trackingMedian = median(trackingTimes);
        const int level = trackingLevels.empty() ? 0 : static_cast<int>(median({trackingLevels.begin(), trackingLevels.end()}));
        std::printf("source: %s, %zu analysis frames\n", source.c_str(), oldTimes.size());
        std::printf("face scan kernels: %s\n", kernels->name);
        std::printf("full pass, median CPU per frame:\n");
        std::printf("  old (dlib as it loads, whole pyramid)   %7.2f ms\n", oldMedian);
        std::printf("  new, whole pyramid (nobody tracked)     %7.2f ms   old/new %.2f\n", wholeMedian,
                    oldMedian / wholeMedian);
        std::printf("  new, tracking (from pyramid level %d)    %7.2f ms   old/new %.2f\n", level, trackingMedian,
                    trackingTimes.empty() ? 0.0 : oldMedian / trackingMedian);
        std::printf("model load: old %.3f s CPU, %+.1f MB resident; new %.3f s CPU, %+.1f MB resident\n",
                    oldLoad.cpuSeconds, oldLoad.residentMegabytes, freshLoad.cpuSeconds, freshLoad.residentMegabytes);
        std::printf("resident now: %.1f MB\n", residentMegabytes());
        std::printf("heap allocations per steady pass: detector engine %.1f (finding %zu faces with landmarks), "
                    "whole perform %.1f (its result)\n",
                    static_cast<double>(engineAllocations) / 6, engineFaces,
                    counted ? static_cast<double>(allocations) / counted : 0.0);
        std::printf("frames where old and new found different faces: %d\n", disagreements);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "verticora-bench-detector: %s\n", error.what());
        return 1;
    }
    return 0;
}
