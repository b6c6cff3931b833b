#include "AllocationCounter.h"

#include "analysis/AnalysisFrames.h"
#include "analysis/FaceMotionGate.h"
#include "analysis/LandmarkPatchTracker.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

using namespace verticora;
using verticora::bench::AllocationScope;

namespace {

// Smooth random texture (value noise over 5-pixel cells plus a finer octave), so that
// both the scalers and the template matching see something like a real picture.
class Texture {
public:
    Texture()
    {
        std::mt19937 random(7);
        std::uniform_real_distribution<double> level(0, 1);
        for (double& v : m_grid)
            v = level(random);
    }

    [[nodiscard]] double at(double x, double y) const
    {
        return 40 + 120 * noise(x / 5, y / 5) + 60 * noise(x / 2 + 31, y / 2 + 17);
    }

private:
    static constexpr int side = 256;

    [[nodiscard]] double cell(int x, int y) const
    {
        return m_grid[std::size_t(((y % side + side) % side) * side + (x % side + side) % side)];
    }

    [[nodiscard]] double noise(double x, double y) const
    {
        const double fx = std::floor(x);
        const double fy = std::floor(y);
        const double ax = x - fx;
        const double ay = y - fy;
        const int ix = int(fx);
        const int iy = int(fy);
        const double top = cell(ix, iy) + ax * (cell(ix + 1, iy) - cell(ix, iy));
        const double bottom = cell(ix, iy + 1) + ax * (cell(ix + 1, iy + 1) - cell(ix, iy + 1));
        return top + ay * (bottom - top);
    }

    std::vector<double> m_grid = std::vector<double>(side * side);
};

std::uint8_t byte(double v)
{
    return std::uint8_t(std::clamp(std::lround(v), 0L, 255L));
}

PixelBuffer nv12Camera(int width, int height, std::uint32_t format = pixelFormat::yuv420Video, double shiftY = 0)
{
    static const Texture texture;
    PixelBuffer frame(width, height, format);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            frame.row(0, y)[x] = byte(texture.at(x * 0.3, (y - shiftY) * 0.3));
    }
    for (int y = 0; y < (height + 1) / 2; ++y) {
        for (int x = 0; x < (width + 1) / 2; ++x) {
            frame.row(1, y)[2 * x] = byte(96 + texture.at(x + 500, y) / 4);
            frame.row(1, y)[2 * x + 1] = byte(160 - texture.at(x, y + 500) / 4);
        }
    }
    return frame;
}

// Steady frames of one camera: the output is built before the timed loop.
void resizeSteadily(benchmark::State& state, const PixelBuffer& camera)
{
    AnalysisFrames frames;
    benchmark::DoNotOptimize(frames.resized(camera.view()));
    AllocationScope allocations(state);
    for (auto _ : state)
        benchmark::DoNotOptimize(frames.resized(camera.view()));
}

// A packed frame whose bytes follow a diagonal pattern.
PixelBuffer patternCamera(std::uint32_t format)
{
    PixelBuffer camera(1280, 720, format);
    const std::size_t rowBytes = PixelBufferView::planeRowBytes(format, 1280, 0);
    for (int y = 0; y < 720; ++y) {
        for (std::size_t x = 0; x < rowBytes; ++x)
            camera.row(0, y)[x] = std::uint8_t((x * 7 + std::size_t(y) * 13) % 220 + 16);
    }
    return camera;
}

void resizeNV12Camera(benchmark::State& state)
{
    resizeSteadily(state, nv12Camera(1280, 720));
}
BENCHMARK(resizeNV12Camera)->Unit(benchmark::kMicrosecond);

void resizePackedCamera(benchmark::State& state)
{
    resizeSteadily(state, patternCamera(pixelFormat::yuyv));
}
BENCHMARK(resizePackedCamera)->Unit(benchmark::kMicrosecond);

void resizeBGRACamera(benchmark::State& state)
{
    resizeSteadily(state, patternCamera(pixelFormat::bgra));
}
BENCHMARK(resizeBGRACamera)->Unit(benchmark::kMicrosecond);

void motionGateInterval(benchmark::State& state)
{
    // A face area a fifth of the frame wide, compared with a frame in which it moved a
    // little, so that every shift is sampled.
    const PixelBuffer reference = nv12Camera(1280, 720);
    const PixelBuffer current = nv12Camera(1280, 720, pixelFormat::yuv420Video, 1);
    const std::vector<Point> face = {{0.45, 0.62}, {0.55, 0.62}, {0.5, 0.52}, {0.5, 0.4}};
    FaceMotionGate gate;
    gate.remember(reference.view(), face);
    if (!gate.reference() || gate.contrast() < 8) {
        state.SkipWithError("the gate did not take a usable reference");
        return;
    }
    benchmark::DoNotOptimize(gate.interval(current.view()));
    AllocationScope allocations(state);
    for (auto _ : state)
        benchmark::DoNotOptimize(gate.interval(current.view()));
}
BENCHMARK(motionGateInterval)->Unit(benchmark::kMicrosecond);

// A 384 x 216 analysis frame with the person moved by `shift` pixels over a still room.
PixelBuffer analysisFrame(double shift)
{
    static const Texture texture;
    PixelBuffer frame(384, 216, pixelFormat::bgra);
    for (int y = 0; y < 216; ++y) {
        std::uint8_t* row = frame.row(0, y);
        for (int x = 0; x < 384; ++x) {
            const bool person = x >= 140 && x <= 244 && y >= 40;
            const double v = texture.at(person ? x - shift : x + 1000, person ? y - shift / 2 : y);
            row[4 * x] = byte(v * 0.9);
            row[4 * x + 1] = byte(v);
            row[4 * x + 2] = byte(v * 1.1);
            row[4 * x + 3] = 255;
        }
    }
    return frame;
}

Point normalised(double x, double y)
{
    return {x / 383.0, 1 - y / 215.0};
}

void patchTrack(benchmark::State& state)
{
    // The head moves back and forth by half a pixel between two frames, so every call
    // is a successful track with a sub-pixel refinement.
    const PixelBuffer frames[] = {analysisFrame(0), analysisFrame(0.5)};
    const std::vector<Point> points = {normalised(170.3, 80.6), normalised(214.2, 80.4), normalised(192.5, 100.2),
                                       normalised(192, 135)};
    const Rect box{150 / 383.0, 1 - 145 / 215.0, 84 / 383.0, 95 / 215.0};
    LandmarkPatchTracker tracker(static_cast<int>(state.range(0)));

    double t = 0;
    std::size_t next = 1;
    const auto seed = [&] {
        t += 1;
        next = 1;
        return tracker.remember(frames[0].view(), box, points, t);
    };
    if (!seed()) {
        state.SkipWithError("the tracker refused the seed");
        return;
    }
    const double seededAt = t;
    AllocationScope allocations(state);
    for (auto _ : state) {
        t += 1e-6;
        const auto track = tracker.track(frames[next].view(), t);
        if (!track) {
            state.SkipWithError("the tracker lost the head");
            break;
        }
        benchmark::DoNotOptimize(track);
        next = 1 - next;
        if (t - seededAt > 0.8) {
            state.PauseTiming();
            seed();
            state.ResumeTiming();
        }
    }
}
BENCHMARK(patchTrack)->Arg(7)->Arg(12)->Unit(benchmark::kMicrosecond);

} // namespace
