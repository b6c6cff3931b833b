// Alert visuals: creating every panel for two 1920×1080 screens with the textures cached,
// one drift frame of the smoke, and the smoke textures of one screen from scratch. Run it
// under Xvfb for real windows (xvfb-run -s "-screen 0 1920x1080x24"); without a display
// it falls back to the offscreen platform.

#include "visuals/DesktopPanelFactory.h"
#include "visuals/SmokeHalo.h"
#include "visuals/ZoneAlertController.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <memory>
#include <numeric>

using namespace verticora;

namespace {

QApplication& application()
{
    static int argc = 1;
    static char name[] = "verticora-bench-visuals";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication instance(argc, argv);
    return instance;
}

// The desktop's panels on two side-by-side screens, whatever the display has.
class TwoScreenFactory : public DesktopPanelFactory {
public:
    [[nodiscard]] std::vector<ScreenGeometry> screens() const override
    {
        return {{QRect(0, 0, 1920, 1080), QRect(0, 32, 1920, 1048)},
                {QRect(1920, 0, 1920, 1080), QRect(1920, 0, 1920, 1080)}};
    }
    [[nodiscard]] std::optional<std::size_t> mainScreenIndex() const override { return 0; }
};

void settle()
{
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// From nothing to halo, glow and focus card on both screens (creation and mapping); with
// `paint`, also the first paint of every panel.
void createAllPanels(benchmark::State& state, EdgeEffectStyle style, bool paint)
{
    application();
    TwoScreenFactory factory;
    ZoneAlertController alerts(factory);
    alerts.setEdgeEffectStyle(style);
    alerts.setSeverity(2);
    alerts.setProgress(0.5);
    alerts.setAppearance(ZoneAppearance::redFocus);
    alerts.presentCurrent(); // fills the texture cache
    alerts.setAppearance(ZoneAppearance::hidden);
    alerts.presentCurrent();
    settle();

    for (auto _ : state) {
        alerts.setAppearance(ZoneAppearance::redFocus);
        alerts.presentCurrent();
        if (paint) {
            for (OverlayPanel* panel : factory.livePanels())
                panel->repaint();
        }
        state.PauseTiming();
        benchmark::DoNotOptimize(factory.livePanels().size());
        alerts.setAppearance(ZoneAppearance::hidden);
        alerts.presentCurrent();
        settle();
        state.ResumeTiming();
    }
    state.counters["panels"] = 5;
}

void createAllPanelsTide(benchmark::State& state)
{
    createAllPanels(state, EdgeEffectStyle::tide, false);
}
void createAllPanelsSmoke(benchmark::State& state)
{
    createAllPanels(state, EdgeEffectStyle::smoke, false);
}
void createAndPaintAllPanelsTide(benchmark::State& state)
{
    createAllPanels(state, EdgeEffectStyle::tide, true);
}
void createAndPaintAllPanelsSmoke(benchmark::State& state)
{
    createAllPanels(state, EdgeEffectStyle::smoke, true);
}
BENCHMARK(createAllPanelsTide)->Unit(benchmark::kMillisecond);
BENCHMARK(createAllPanelsSmoke)->Unit(benchmark::kMillisecond);
BENCHMARK(createAndPaintAllPanelsTide)->Unit(benchmark::kMillisecond);
BENCHMARK(createAndPaintAllPanelsSmoke)->Unit(benchmark::kMillisecond);

// What one drift frame paints: the four strips of a 1920×1080 screen at a smoke depth.
void smokeDriftFrame(benchmark::State& state)
{
    application();
    const double depth = static_cast<double>(state.range(0));
    SmokeHaloView view(3, depth);
    applyGeometryNow(view, QRect(0, 0, 1920, 1080));
    QImage screen(1920, 1080, QImage::Format_ARGB32_Premultiplied);
    QRegion strips;
    for (const QRect& frame : view.live().pixelFrames(mediaTime()))
        strips += frame;
    for (auto _ : state) {
        QPainter painter(&screen);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        for (const QRect& rect : strips)
            painter.fillRect(rect, Qt::transparent);
        painter.end();
        view.render(&screen, QPoint(), strips, QWidget::DrawChildren);
    }
    state.counters["pixels"] = static_cast<double>(
        std::accumulate(strips.begin(), strips.end(), 0LL, [](long long sum, const QRect& r) { return sum + 1LL * r.width() * r.height(); }));
}
BENCHMARK(smokeDriftFrame)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);

// The 24 textures of one screen size, rendered from scratch.
void smokeTexturesFromScratch(benchmark::State& state)
{
    application();
    for (auto _ : state) {
        SmokeTextureCache::shared().clear();
        CompositedSmoke smoke;
        smoke.update(QSizeF(1920, 1080), 2, 1, false);
        benchmark::DoNotOptimize(smoke.strips()[0].phases[0].inks[0].contents.cacheKey());
    }
}
BENCHMARK(smokeTexturesFromScratch)->Unit(benchmark::kMillisecond);

} // namespace
