#include "visuals/MenuBarGlow.h"

#include "visuals/SmokeGeometry.h"
#include "visuals/SolidShapes.h"
#include "visuals/WarningEntrance.h"

#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace verticora {

namespace {

constexpr double pulseFrequency = 0.85;
constexpr double pulsePeakTime = 5.0 / 17.0;
constexpr int breathKeyframes = 33;

} // namespace

// --- MenuBarGlowView ---------------------------------------------------------------------

MenuBarGlowView::MenuBarGlowView(double severity, double progress, ReduceMotionSource reduceMotion, QWidget* parent)
    : OverlayView(std::move(reduceMotion), parent), m_severity(clampedSeverity(severity)), m_progress(progress),
      m_origin(mediaTime())
{
    refreshLayer();
}

void MenuBarGlowView::setValues(double severity, double progress)
{
    m_severity = clampedSeverity(severity);
    m_progress = progress;
    refreshLayer();
}

double MenuBarGlowView::opacity(double severity, double progress, double time, bool reduceMotion)
{
    if (!std::isfinite(severity) || severity < 0)
        return 0.18;
    const double s = std::min(severity, 3.0);
    const double q = std::min(s / 2, 1.0);
    const double p = severity >= 2 && std::isfinite(progress) ? std::clamp(progress, 0.0, 1.0) : 0.0;
    const double r = std::clamp(s - 1, 0.0, 1.0);
    const double pulse = s >= 2 && !reduceMotion ? std::sin(2 * std::numbers::pi * pulseFrequency * time) : 0.0;
    return 0.18 + 0.2 * (0.75 * q + 0.25 * p) + 0.045 * r * (0.3 + 0.7 * p) * pulse;
}

double MenuBarGlowView::presentationOpacity(double now) const
{
    return m_breath ? m_breath->valueAt(now) : m_opacity;
}

void MenuBarGlowView::refreshLayer()
{
    const QColor color = SmokeGeometry::color(m_severity);
    m_colors = {withAlpha(color, 0.82), withAlpha(color, 1)};
    const double a0 = opacity(m_severity, m_progress, 0, true);
    m_opacity = a0;
    QWidget::update();

    if (attached() && m_severity >= 2 && !reduceMotion() && !solid()) {
        const double a1 = opacity(m_severity, m_progress, pulsePeakTime, false);
        const std::pair<double, double> signature{a0, a1 - a0};
        // Unchanged breathing keeps running rather than restarting mid-breath.
        if (signature == m_pulseSignature && m_breath)
            return;
        m_pulseSignature = signature;
        RepeatingKeyframes breath;
        for (int i = 0; i < breathKeyframes; ++i)
            breath.values.push_back(a0 + (a1 - a0) * std::sin(std::numbers::pi * i / 16.0));
        breath.duration = breathDuration;
        breath.begin = m_origin;
        m_breath = std::move(breath);
        runTicks(breathIntervalMs);
        return;
    }
    m_breath.reset();
    m_pulseSignature.reset();
    stopTicks();
}

void MenuBarGlowView::paintEvent(QPaintEvent*)
{
    const double now = mediaTime();
    QPainter painter(this);
    if (solid()) {
        // A line under the top panel in the band's colour, without breathing.
        if (entranceOpacity() > 0)
            painter.fillRect(rect(), m_colors[1]);
        return;
    }
    painter.setOpacity(entranceOpacity() * presentationOpacity(now));
    QLinearGradient gradient(QPointF(0, height()), QPointF(0, 0));
    gradient.setColorAt(0, m_colors[0]);
    gradient.setColorAt(1, m_colors[1]);
    painter.fillRect(rect(), gradient);
    m_paintedLevel = opacityLevel(now);
}

void MenuBarGlowView::tick()
{
    // Repaint only when the breathing has moved the band by a visible step.
    if (opacityLevel(mediaTime()) != m_paintedLevel)
        QWidget::update();
}

void MenuBarGlowView::attachedChanged()
{
    refreshLayer();
}

void MenuBarGlowView::solidChanged()
{
    refreshLayer();
}

int MenuBarGlowView::opacityLevel(double now) const
{
    return static_cast<int>(std::lround(presentationOpacity(now) * 255));
}

// --- MenuBarGlowController ---------------------------------------------------------------

MenuBarGlowController::MenuBarGlowController(OverlayPanelFactory& factory, QObject* parent)
    : QObject(parent), m_factory(factory)
{
    const auto rebuild = [this] {
        clear();
        if (m_visible)
            create();
    };
    connect(&m_factory, &OverlayPanelFactory::screensChanged, this, rebuild);
    connect(&m_factory, &OverlayPanelFactory::compositingChanged, this, rebuild);
}

MenuBarGlowController::~MenuBarGlowController()
{
    clear();
}

QRect MenuBarGlowController::bandRect(const ScreenGeometry& screen)
{
    const int topPanel = screen.availableFrame.isValid() ? screen.availableFrame.top() - screen.frame.top() : 0;
    const int height = std::min(std::max(statusBarThickness, topPanel), std::max(statusBarThickness, screen.frame.height() / 4));
    return {screen.frame.left(), screen.frame.top(), screen.frame.width(), height};
}

void MenuBarGlowController::present(bool visible, double severity, double progress)
{
    m_visible = visible;
    m_severity = clampedSeverity(severity);
    m_progress = progress;
    if (!m_visible) {
        clear();
        return;
    }
    if (m_panels.empty())
        create();
    for (MenuBarGlowView* view : m_views) {
        if (view->severity() != m_severity || view->progress() != m_progress)
            view->setValues(m_severity, m_progress);
    }
}

void MenuBarGlowController::create()
{
    // Without compositing the band would hide the panel under it: a line below it instead.
    const bool drawsSolid = !m_factory.composites();
    for (const ScreenGeometry& screen : m_factory.screens()) {
        const QRect band = drawsSolid ? solid::glowLine(screen) : bandRect(screen);
        OverlayPanelOptions options;
        options.rect = band;
        options.level = panelLevel::menuBarGlow;
        options.identifier = QStringLiteral("zone-menu-bar-glow");
        std::unique_ptr<OverlayPanel> panel = m_factory.createPanel(options);

        auto view = std::make_unique<MenuBarGlowView>(m_severity, m_progress,
                                                      [factory = &m_factory] { return factory->reduceMotion(); });
        MenuBarGlowView* glow = view.get();
        if (drawsSolid)
            glow->setSolidArea(QRect(QPoint(), band.size()));
        auto entrance = std::make_unique<WarningEntranceView>(std::move(view), QRect(QPoint(), band.size()));
        WarningEntranceView* wrapper = entrance.get();
        panel->setContentView(std::move(entrance));
        wrapper->appear(m_factory.reduceMotion() || drawsSolid);
        panel->orderFront();
        m_views.push_back(glow);
        m_panels.push_back(std::move(panel));
    }
}

void MenuBarGlowController::clear()
{
    m_views.clear();
    for (std::unique_ptr<OverlayPanel>& panel : m_panels) {
        panel->hidePanel();
        if (WarningEntranceView* content = panel->contentView())
            content->cancel();
        panel->takeContentView();
        panel->closePanel();
    }
    m_panels.clear();
}

} // namespace verticora
