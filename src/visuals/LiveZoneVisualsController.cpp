#include "visuals/LiveZoneVisualsController.h"

#include "visuals/FocusCard.h"
#include "visuals/PeripheralEffect.h"
#include "visuals/SmokeGeometry.h"
#include "visuals/SmokeHalo.h"
#include "visuals/SolidShapes.h"
#include "visuals/WarningEntrance.h"

#include <QPointer>

#include <algorithm>
#include <cmath>

namespace verticora {

namespace {

constexpr double focusWidthShare = 0.9;
constexpr double focusHeightShare = 0.88;
constexpr double focusMaximumWidth = 740;
constexpr double focusMaximumHeight = 450;

// Clamped to 0...3, non-finite counting as 0, then raised to at least 1.
double presentedSeverity(double severity)
{
    return std::max(clampedSeverity(severity), 1.0);
}

} // namespace

void LiveZoneVisualsController::DeferredDelete::operator()(OverlayPanel* panel) const
{
    if (panel)
        panel->deleteLater();
}

LiveZoneVisualsController::LiveZoneVisualsController(OverlayPanelFactory& factory, QObject* parent)
    : QObject(parent), m_factory(factory), m_menuGlow(factory)
{
    connect(&m_factory, &OverlayPanelFactory::aboutToTerminate, this,
            [this] { present(ZoneAppearance::hidden, 0, 0); });
    connect(&m_factory, &OverlayPanelFactory::screensChanged, this, &LiveZoneVisualsController::rebuildPanels);
    connect(&m_factory, &OverlayPanelFactory::compositingChanged, this, &LiveZoneVisualsController::rebuildPanels);
}

LiveZoneVisualsController::~LiveZoneVisualsController()
{
    disconnect(&m_factory, nullptr, this, nullptr);
    clearSmoke();
    // At once: the controller lives as long as the application, so no click on the card
    // can still be running.
    if (m_focusPanel) {
        tearDown(*m_focusPanel, true);
        delete m_focusPanel.release();
    }
}

void LiveZoneVisualsController::present(ZoneAppearance appearance, double severity, double progress)
{
    const ZoneAppearance a = appearance == ZoneAppearance::greenHalo ? ZoneAppearance::hidden : appearance;
    const double s = presentedSeverity(severity);
    const double oldSeverity = m_severity;
    m_severity = s;
    m_appearance = a;
    m_warningProgress = progress;

    m_menuGlow.present(a != ZoneAppearance::hidden && m_showsMenuGlow, s, progress);

    if (a == ZoneAppearance::hidden) {
        clearSmoke();
        clearFocus();
        return;
    }
    if (m_showsSmoke) {
        if (m_haloPanels.empty()) {
            createSmoke();
        } else if (s != oldSeverity) {
            for (SmokeHaloView* view : m_haloViews)
                view->setSeverity(s);
            for (PeripheralEffectView* view : m_edgeViews) {
                if (view->severity() == s)
                    continue;
                const double previous = view->severity();
                view->setSeverity(s);
                view->update(s >= previous);
            }
        }
    }
    if (a == ZoneAppearance::redFocus) {
        if (!m_focusPanel)
            createFocus();
    } else {
        clearFocus();
    }
}

void LiveZoneVisualsController::setSmokeDepthScale(double depth)
{
    const double old = m_smokeDepthScale;
    m_smokeDepthScale = depth;
    smokeDepthChanged(old, depth);
}

void LiveZoneVisualsController::smokeDepthChanged(double old, double depth)
{
    if (depth == old)
        return;
    if (!(depth > 0)) {
        clearSmoke();
        return;
    }
    if (m_showsSmoke && m_appearance != ZoneAppearance::hidden && m_haloPanels.empty()) {
        createSmoke();
        return;
    }
    for (SmokeHaloView* view : m_haloViews)
        view->setDepthScale(clampedOr(depth, 1, 50, 1));
    const double edgeDepth = clampedOr(depth, 0, 10, 0);
    for (PeripheralEffectView* view : m_edgeViews) {
        if (view->depthScale() == edgeDepth)
            continue;
        const double previous = view->depthScale();
        view->setDepthScale(edgeDepth);
        view->update(edgeDepth >= previous);
    }
}

void LiveZoneVisualsController::createSmoke()
{
    if (!(std::isfinite(m_smokeDepthScale) && m_smokeDepthScale > 0))
        return;
    // Without compositing nothing fades: a half-transparent window shows dark.
    const bool drawsSolid = !m_factory.composites();
    const bool reduceMotion = m_factory.reduceMotion() || drawsSolid;
    ReduceMotionSource reduceMotionSource = [factory = &m_factory] { return factory->reduceMotion(); };
    for (const ScreenGeometry& screen : m_factory.screens()) {
        OverlayPanelOptions options;
        options.rect = screen.frame;
        options.level = panelLevel::halo;
        options.identifier = QStringLiteral("zone-halo");
        std::unique_ptr<OverlayPanel> panel = m_factory.createPanel(options);

        std::unique_ptr<OverlayView> effect;
        if (m_edgeEffectStyle == EdgeEffectStyle::smoke) {
            auto view = std::make_unique<SmokeHaloView>(m_severity, m_smokeDepthScale, reduceMotionSource);
            m_haloViews.push_back(view.get());
            effect = std::move(view);
        } else {
            auto view = std::make_unique<PeripheralEffectView>(m_edgeEffectStyle, m_severity, m_smokeDepthScale,
                                                               reduceMotionSource);
            m_edgeViews.push_back(view.get());
            effect = std::move(view);
        }
        if (drawsSolid)
            effect->setSolidArea(solid::workArea(screen).translated(-screen.frame.topLeft()));
        auto entrance = std::make_unique<WarningEntranceView>(std::move(effect), QRect(QPoint(), options.rect.size()));
        WarningEntranceView* wrapper = entrance.get();
        panel->setContentView(std::move(entrance));
        m_haloPanels.push_back(std::move(panel));
        wrapper->appear(reduceMotion);
        m_haloPanels.back()->orderFront();
    }
}

void LiveZoneVisualsController::clearSmoke()
{
    // The views die with their panels' content.
    m_haloViews.clear();
    m_edgeViews.clear();
    for (std::unique_ptr<OverlayPanel>& panel : m_haloPanels) {
        tearDown(*panel, true);
    }
    m_haloPanels.clear();
}

void LiveZoneVisualsController::createFocus()
{
    const std::vector<ScreenGeometry> screens = m_factory.screens();
    if (screens.empty())
        return;
    const std::size_t index = std::min(m_factory.mainScreenIndex().value_or(0), screens.size() - 1);
    const QRectF visible = screens[index].availableFrame.isValid() ? QRectF(screens[index].availableFrame)
                                                                   : QRectF(screens[index].frame);
    const double w = std::min(focusWidthShare * visible.width(), focusMaximumWidth);
    const double h = std::min(focusHeightShare * visible.height(), focusMaximumHeight);
    const QRectF frame(visible.center().x() - w / 2, visible.center().y() - h / 2, w, h);
    const bool drawsSolid = !m_factory.composites();

    OverlayPanelOptions options;
    options.rect = frame.toRect();
    if (drawsSolid) {
        // The card cut out of a panel over the whole screen (see SolidShapes.h).
        options.rect = screens[index].frame;
        options.contentRect = frame.toRect().translated(-options.rect.topLeft());
    }
    options.level = panelLevel::focusCard;
    options.acceptsMouse = true;
    options.castsShadow = true;
    options.identifier = QStringLiteral("zone-focus-card");
    std::unique_ptr<OverlayPanel> panel = m_factory.createPanel(options);

    auto card = std::make_unique<DesktopFocusCard>([controller = QPointer(this)] {
        if (controller)
            controller->runPauseAction();
    });
    card->setSolid(drawsSolid);
    auto entrance = std::make_unique<WarningEntranceView>(std::move(card), QRect(QPoint(), frame.toRect().size()));
    WarningEntranceView* wrapper = entrance.get();
    panel->setContentView(std::move(entrance));
    m_focusPanel.reset(panel.release());
    wrapper->appear(m_factory.reduceMotion() || drawsSolid);
    m_focusPanel->orderFront();
}

void LiveZoneVisualsController::clearFocus()
{
    if (!m_focusPanel)
        return;
    // The card goes with its panel, from the event loop: this may run inside its button's
    // click handler.
    tearDown(*m_focusPanel, false);
    m_focusPanel.reset();
}

void LiveZoneVisualsController::rebuildPanels()
{
    clearSmoke();
    clearFocus();
    if (m_appearance == ZoneAppearance::hidden)
        return;
    if (m_showsSmoke)
        createSmoke();
    if (m_appearance == ZoneAppearance::redFocus)
        createFocus();
}

void LiveZoneVisualsController::runPauseAction()
{
    if (m_pauseAction)
        m_pauseAction();
}

// Hidden, its entrance cancelled so it can never flash back, its content dropped unless
// kept to go with the panel, and closed; the caller drops the panel.
void LiveZoneVisualsController::tearDown(OverlayPanel& panel, bool dropContent)
{
    panel.hidePanel();
    if (WarningEntranceView* content = panel.contentView())
        content->cancel();
    if (dropContent)
        panel.takeContentView();
    panel.closePanel();
}

} // namespace verticora
