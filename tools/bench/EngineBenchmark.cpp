#include "AllocationCounter.h"

#include "analysis/SeatedGeometry.h"
#include "model/PostureEngine.h"

#include <benchmark/benchmark.h>

using namespace verticora;
using verticora::bench::AllocationScope;

namespace {

PoseFeatures sinkingFace(double noseY)
{
    return PoseFeatures{0, 0.5, 0, 0.5, 0.9, 0.5, FaceHeightLandmarks{noseY - 0.1, noseY, noseY + 0.15}, std::nullopt};
}

void postureEngineUpdate(benchmark::State& state)
{
    PostureEngine engine;
    PoseFeatures baseline = sinkingFace(0.5);
    baseline.heightLandmarks.reset();
    baseline.landmarkHeight = LandmarkHeightCalibration::capture(FaceHeightLandmarks{0.4, 0.5, 0.65});
    engine.restoreValidated(baseline, 0.45, 0.85, 2.0);

    // A face moving slowly up and down through all three zones, one frame every 1/3 s.
    std::vector<std::optional<PoseFeatures>> frames;
    for (int i = 0; i < 64; ++i)
        frames.emplace_back(sinkingFace(0.5 + 0.005 * (i < 32 ? i : 64 - i)));

    double t = 0;
    std::size_t i = 0;
    AllocationScope allocations(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(engine.update(frames[i], t));
        t += 1.0 / 3.0;
        i = (i + 1) % frames.size();
    }
}
BENCHMARK(postureEngineUpdate);

void seatedGeometryFeatures(benchmark::State& state)
{
    const Rect box{0.3, 0.3, 0.4, 0.5};
    AllocationScope allocations(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(SeatedGeometry::features(box, {0.42, 0.62}, {0.58, 0.62}, {0.5, 0.52},
                                                          Point{0.5, 0.35}, 0.9, 16.0 / 9.0));
    }
}
BENCHMARK(seatedGeometryFeatures);

} // namespace
