#include "AllocationCounter.h"

#include "SceneRenderer.h"

#include "platform/LandmarkDetector.h"

#include <QFileInfo>
#include <QLoggingCategory>

#include <benchmark/benchmark.h>

using namespace verticora;
using verticora::bench::AllocationScope;

namespace {

// An analysis frame (384x216) of the test portrait with a face box about `faceWidth`
// pixels wide, or a null image when the portrait has not been fetched (make test).
QImage portraitFrame(double faceWidth)
{
    const QString portrait = QStringLiteral(VERTICORA_TEST_DATA_DIR "/astronaut.png");
    if (!QFileInfo::exists(portrait))
        return {};
    QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio=false"));
    clip::Scene scene;
    scene.width = 384;
    scene.height = 216;
    scene.backgroundColor = QColor(111, 122, 132);
    scene.noise = 2;
    clip::SceneFace face;
    face.image = portrait;
    face.crop = QRect(142, 25, 160, 200);
    face.keyframes.push_back({0, {0.5, 0.45, faceWidth / 0.44 / 216}}); // the face box is 0.44 crop heights wide
    scene.faces.push_back(face);
    return clip::SceneRenderer(scene).render(0);
}

// One full landmark pass, the cost of every full detector pass on an analysis frame.
void landmarkPerform(benchmark::State& state, double faceWidth, std::size_t expectedFaces)
{
    const QImage frame = faceWidth > 0 ? portraitFrame(faceWidth) : [] {
        QImage blank(384, 216, QImage::Format_RGB32);
        blank.fill(QColor(111, 122, 132));
        return blank;
    }();
    if (frame.isNull()) {
        state.SkipWithError("the test portrait is missing: run `make test` once to fetch it");
        return;
    }
    LandmarkDetector detector;
    if (detector.perform(clip::bgraView(frame)).size() != expectedFaces) { // loads the model
        state.SkipWithError("the detector did not find the expected faces");
        return;
    }
    AllocationScope allocations(state);
    for (auto _ : state)
        benchmark::DoNotOptimize(detector.perform(clip::bgraView(frame)));
}

BENCHMARK_CAPTURE(landmarkPerform, seatedFace, 72.0, 1)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(landmarkPerform, face40px, 40.0, 1)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(landmarkPerform, noFace, 0.0, 0)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

} // namespace
