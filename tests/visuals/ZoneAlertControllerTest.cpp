#include "FakePanelFactory.h"

#include "visuals/FocusCard.h"
#include "visuals/PeripheralEffect.h"
#include "visuals/SmokeHalo.h"
#include "visuals/WarningEntrance.h"
#include "visuals/ZoneAlertController.h"

#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <limits>
#include <string>

using namespace verticora;
using verticora::test::FakePanelFactory;
using verticora::test::flushDeferredDeletes;

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

const std::vector<ScreenGeometry> twoScreens{{QRect(0, 0, 320, 200), QRect(0, 24, 320, 176)},
                                             {QRect(320, 0, 400, 240), QRect(320, 0, 400, 240)}};

struct PanelCounts {
    int halos = 0;
    int focusCards = 0;
    int glows = 0;

    friend bool operator==(const PanelCounts&, const PanelCounts&) = default;
};

void PrintTo(const PanelCounts& counts, std::ostream* out)
{
    *out << "{halos " << counts.halos << ", focus cards " << counts.focusCards << ", glows " << counts.glows << "}";
}

PanelCounts panels(const FakePanelFactory& factory)
{
    return {factory.count(panelLevel::halo), factory.count(panelLevel::focusCard), factory.count(panelLevel::menuBarGlow)};
}

void show(ZoneAlertController& alerts, ZoneAppearance appearance, double severity = 2, double progress = 0.5)
{
    alerts.setAppearance(appearance);
    alerts.setSeverity(severity);
    alerts.setProgress(progress);
    alerts.presentCurrent();
}

class ZoneAlertControllerTest : public ::testing::Test {
protected:
    void TearDown() override { flushDeferredDeletes(); }

    FakePanelFactory factory{twoScreens};
    DiagnosticVisualMode mode = DiagnosticVisualMode::full;
    ZoneAlertController alerts{factory, [this] { return mode; }};
};

} // namespace

// What one presentation puts on a desk of two screens: halos and glows per screen, a card
// only for red with red alerts on, nothing for green or without visuals.
struct PresentationCase {
    const char* name;
    ZoneAppearance appearance;
    DiagnosticVisualMode mode;
    bool redAlerts;
    double depth;
    PanelCounts expected;

    friend void PrintTo(const PresentationCase& value, std::ostream* out)
    {
        *out << value.name;
    }
};

class ZoneAlertPresentationTest : public ::testing::TestWithParam<PresentationCase> {
protected:
    void TearDown() override { flushDeferredDeletes(); }
};

TEST_P(ZoneAlertPresentationTest, presentsThePanelsTheCaseCallsFor)
{
    const PresentationCase& scenario = GetParam();
    FakePanelFactory desk(twoScreens);
    ZoneAlertController controller(desk, [&] { return scenario.mode; });
    controller.setSmokeDepthScale(scenario.depth);
    controller.setRedAlertEnabled(scenario.redAlerts);
    show(controller, scenario.appearance);

    EXPECT_EQ(panels(desk), scenario.expected);
    EXPECT_EQ(static_cast<int>(controller.live().haloPanels().size()), scenario.expected.halos);
    EXPECT_EQ(controller.live().focusPanel() != nullptr, scenario.expected.focusCards == 1);
    EXPECT_NE(controller.live().appearance(), ZoneAppearance::greenHalo);
    if (scenario.appearance == ZoneAppearance::redFocus && !scenario.redAlerts) {
        EXPECT_EQ(controller.live().appearance(), ZoneAppearance::yellowHalo) << "without red alerts red shows as yellow";
    }
}

using enum ZoneAppearance;
using enum DiagnosticVisualMode;
INSTANTIATE_TEST_SUITE_P(
    Cases, ZoneAlertPresentationTest,
    ::testing::Values(PresentationCase{"hidden", hidden, full, true, 1, {0, 0, 0}},
                      PresentationCase{"green", greenHalo, full, true, 1, {0, 0, 0}},
                      PresentationCase{"yellow", yellowHalo, full, true, 1, {2, 0, 2}},
                      PresentationCase{"red", redFocus, full, true, 1, {2, 1, 2}},
                      PresentationCase{"redWithRedAlertsOff", redFocus, full, false, 1, {2, 0, 2}},
                      PresentationCase{"yellowWithoutDepth", yellowHalo, full, true, 0, {0, 0, 2}},
                      PresentationCase{"redWithoutDepth", redFocus, full, true, 0, {0, 1, 2}},
                      PresentationCase{"redWithoutSmoke", redFocus, noSmoke, true, 1, {0, 1, 2}},
                      PresentationCase{"redWithoutGlow", redFocus, noGlow, true, 1, {2, 1, 0}},
                      PresentationCase{"redFrozenIcon", redFocus, frozenIcon, true, 1, {2, 1, 2}},
                      PresentationCase{"redWithoutVisuals", redFocus, noVisuals, true, 1, {0, 0, 0}}),
    [](const ::testing::TestParamInfo<PresentationCase>& info) { return std::string(info.param.name); });

TEST_F(ZoneAlertControllerTest, severityIsShownBetweenOneAndThree)
{
    alerts.setEdgeEffectStyle(EdgeEffectStyle::tide);
    show(alerts, ZoneAppearance::yellowHalo, 0.2);
    EXPECT_DOUBLE_EQ(alerts.live().severity(), 1);
    show(alerts, ZoneAppearance::yellowHalo, 5);
    EXPECT_DOUBLE_EQ(alerts.live().severity(), 3);
    EXPECT_DOUBLE_EQ(alerts.live().edgeViews()[0]->severity(), 3);
    show(alerts, ZoneAppearance::yellowHalo, notANumber);
    EXPECT_DOUBLE_EQ(alerts.live().severity(), 1);
    EXPECT_DOUBLE_EQ(alerts.live().edgeViews()[1]->severity(), 1);
    EXPECT_DOUBLE_EQ(alerts.live().menuGlow().severity(), 1);
}

TEST_F(ZoneAlertControllerTest, theDefaultStyleIsWhatTheModelSetsAndHalosFillTheirScreens)
{
    alerts.setEdgeEffectStyle(EdgeEffectStyle::tide);
    show(alerts, ZoneAppearance::yellowHalo, 2);
    ASSERT_EQ(alerts.live().edgeViews().size(), 2u);
    EXPECT_TRUE(alerts.live().haloViews().empty());
    EXPECT_EQ(alerts.live().edgeViews()[0]->style(), EdgeEffectStyle::tide);
    EXPECT_EQ(alerts.live().haloPanels()[1]->geometry(), QRect(320, 0, 400, 240));
    EXPECT_EQ(alerts.live().edgeViews()[1]->size(), QSize(400, 240));
    EXPECT_TRUE(alerts.live().haloPanels()[0]->testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_TRUE(alerts.live().haloPanels()[0]->windowFlags().testFlag(Qt::WindowTransparentForInput));
    EXPECT_TRUE(alerts.live().haloPanels()[0]->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_TRUE(alerts.live().haloPanels()[0]->contentView()->hasAppeared());
}

// Turning red alerts back on while red is shown brings the card at once.
TEST_F(ZoneAlertControllerTest, redAlertSwitchDecidesTheCardWhileShown)
{
    alerts.setRedAlertEnabled(false);
    show(alerts, ZoneAppearance::redFocus);
    EXPECT_EQ(panels(factory).focusCards, 0);

    alerts.setRedAlertEnabled(true);
    alerts.presentCurrent();
    EXPECT_EQ(panels(factory), (PanelCounts{2, 1, 2}));
}

TEST_F(ZoneAlertControllerTest, focusCardSitsInTheMiddleOfTheMainScreen)
{
    factory.mainScreen = 1;
    show(alerts, ZoneAppearance::redFocus);
    ASSERT_NE(alerts.live().focusPanel(), nullptr);
    // 0.9 × 400 = 360 wide, 0.88 × 240 = 211.2 high, centred on the second screen.
    const QRect card = alerts.live().focusPanel()->geometry();
    EXPECT_EQ(card.size(), QSize(360, 211));
    EXPECT_EQ(card.center().x(), 320 + 200 - 1);
    EXPECT_FALSE(alerts.live().focusPanel()->windowFlags().testFlag(Qt::WindowTransparentForInput));
    EXPECT_TRUE(alerts.live().focusPanel()->options().castsShadow);

    FakePanelFactory large({{QRect(0, 0, 1440, 900), QRect(0, 28, 1440, 872)}});
    ZoneAlertController controller(large);
    show(controller, ZoneAppearance::redFocus);
    EXPECT_EQ(controller.live().focusPanel()->geometry(), QRect(350, 239, 740, 450));
}

TEST_F(ZoneAlertControllerTest, sameSeverityTwiceLeavesTheViewsAlone)
{
    alerts.setEdgeEffectStyle(EdgeEffectStyle::vignette);
    show(alerts, ZoneAppearance::yellowHalo, 2);
    const PeripheralEffectView* view = alerts.live().edgeViews()[0];
    show(alerts, ZoneAppearance::yellowHalo, 2, 0.9);
    EXPECT_EQ(alerts.live().edgeViews()[0], view);
    EXPECT_FALSE(view->animating(mediaTime()));

    show(alerts, ZoneAppearance::yellowHalo, 2.5);
    EXPECT_TRUE(view->animating(mediaTime()));
    EXPECT_DOUBLE_EQ(view->severity(), 2.5);

    alerts.setEdgeEffectStyle(EdgeEffectStyle::smoke);
    show(alerts, ZoneAppearance::yellowHalo, 2.5);
    const SmokeHaloView* smoke = alerts.live().haloViews()[0];
    EXPECT_FALSE(smoke->live().animating(mediaTime()));
    show(alerts, ZoneAppearance::yellowHalo, 3);
    EXPECT_DOUBLE_EQ(smoke->target(), 3);
}

TEST_F(ZoneAlertControllerTest, styleChangeRebuildsTheHalosOnlyWhileShown)
{
    alerts.setEdgeEffectStyle(EdgeEffectStyle::glow);
    EXPECT_EQ(panels(factory), (PanelCounts{0, 0, 0}));
    show(alerts, ZoneAppearance::yellowHalo);
    EXPECT_EQ(alerts.live().edgeViews().size(), 2u);

    alerts.setEdgeEffectStyle(EdgeEffectStyle::smoke);
    EXPECT_EQ(alerts.live().haloViews().size(), 2u);
    EXPECT_TRUE(alerts.live().edgeViews().empty());
    EXPECT_EQ(panels(factory).halos, 2);
    EXPECT_DOUBLE_EQ(alerts.live().haloViews()[0]->target(), 2);
}

TEST_F(ZoneAlertControllerTest, smokeDepthZeroRemovesTheHalosAndBackBringsThem)
{
    alerts.setEdgeEffectStyle(EdgeEffectStyle::corners);
    show(alerts, ZoneAppearance::yellowHalo);
    alerts.setSmokeDepthScale(0);
    EXPECT_EQ(panels(factory), (PanelCounts{0, 0, 2}));
    alerts.presentCurrent();
    EXPECT_EQ(panels(factory).halos, 0);

    alerts.setSmokeDepthScale(3);
    EXPECT_EQ(panels(factory).halos, 2);
    EXPECT_DOUBLE_EQ(alerts.live().edgeViews()[0]->depthScale(), 3);

    // The views clamp the depth; the controller keeps what it was given.
    alerts.setSmokeDepthScale(12);
    EXPECT_DOUBLE_EQ(alerts.live().smokeDepthScale(), 12);

    alerts.setEdgeEffectStyle(EdgeEffectStyle::smoke);
    alerts.setSmokeDepthScale(0.5);
    EXPECT_DOUBLE_EQ(alerts.live().haloViews()[1]->depthScale(), 1);
    alerts.setSmokeDepthScale(notANumber);
    EXPECT_EQ(panels(factory).halos, 0);
}

TEST_F(ZoneAlertControllerTest, screenChangeWhileRedRebuildsEveryPanel)
{
    show(alerts, ZoneAppearance::redFocus);
    const OverlayPanel* oldCard = alerts.live().focusPanel();
    factory.changeScreens({{QRect(0, 0, 800, 600), QRect(0, 30, 800, 570)},
                           {QRect(800, 0, 800, 600), QRect(800, 0, 800, 600)},
                           {QRect(1600, 0, 640, 480), QRect(1600, 0, 640, 480)}});
    EXPECT_EQ(panels(factory), (PanelCounts{3, 1, 3}));
    EXPECT_NE(alerts.live().focusPanel(), oldCard);
    EXPECT_EQ(alerts.live().haloPanels()[2]->geometry(), QRect(1600, 0, 640, 480));
    EXPECT_TRUE(alerts.live().focusPanel()->contentView()->hasAppeared());

    // Without a screen only the glow stays presented.
    factory.changeScreens({});
    EXPECT_EQ(panels(factory), (PanelCounts{0, 0, 0}));
    EXPECT_EQ(alerts.live().focusPanel(), nullptr);
    EXPECT_TRUE(alerts.live().menuGlow().visible());
}

TEST_F(ZoneAlertControllerTest, diagnosticModesWithdrawAndRestoreTheirVisuals)
{
    show(alerts, ZoneAppearance::yellowHalo);
    mode = DiagnosticVisualMode::noSmoke;
    alerts.diagnosticVisualPolicyChanged();
    EXPECT_EQ(panels(factory), (PanelCounts{0, 0, 2}));
    EXPECT_EQ(alerts.appliedMode(), DiagnosticVisualMode::noSmoke);

    mode = DiagnosticVisualMode::full;
    alerts.diagnosticVisualPolicyChanged();
    EXPECT_EQ(panels(factory), (PanelCounts{2, 0, 2}));

    mode = DiagnosticVisualMode::noGlow;
    alerts.diagnosticVisualPolicyChanged();
    EXPECT_EQ(panels(factory), (PanelCounts{2, 0, 0}));

    // No visuals keeps everything hidden until the mode changes.
    show(alerts, ZoneAppearance::redFocus);
    mode = DiagnosticVisualMode::noVisuals;
    alerts.diagnosticVisualPolicyChanged();
    EXPECT_EQ(panels(factory), (PanelCounts{0, 0, 0}));
    show(alerts, ZoneAppearance::redFocus, 3, 1);
    show(alerts, ZoneAppearance::yellowHalo, 2, 0);
    EXPECT_EQ(panels(factory), (PanelCounts{0, 0, 0}));

    mode = DiagnosticVisualMode::frozenIcon;
    show(alerts, ZoneAppearance::redFocus, 3, 1);
    EXPECT_EQ(panels(factory), (PanelCounts{2, 1, 2}));
}

TEST_F(ZoneAlertControllerTest, pauseButtonRunsThePauseActionThatTearsTheCardDown)
{
    show(alerts, ZoneAppearance::redFocus);
    QPointer<OverlayPanel> card = alerts.live().focusPanel();
    ASSERT_TRUE(card);
    auto* button = card->findChild<QPushButton*>();
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(panels(factory), (PanelCounts{2, 1, 2})) << "without a pause action the button does nothing";

    int pauses = 0;
    alerts.setPauseAction([&] {
        ++pauses;
        show(alerts, ZoneAppearance::hidden);
    });
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(pauses, 1);
    EXPECT_EQ(panels(factory), (PanelCounts{0, 0, 0}));
    EXPECT_EQ(alerts.live().focusPanel(), nullptr);
    flushDeferredDeletes();
    EXPECT_TRUE(card.isNull());
}

TEST_F(ZoneAlertControllerTest, panelsStackHaloBelowCardBelowGlow)
{
    show(alerts, ZoneAppearance::redFocus);
    mode = DiagnosticVisualMode::noSmoke;
    alerts.diagnosticVisualPolicyChanged();
    mode = DiagnosticVisualMode::full;
    alerts.diagnosticVisualPolicyChanged(); // halos come back after the card and the glow
    std::vector<int> levels;
    for (const OverlayPanel* panel : factory.livePanels())
        levels.push_back(panel->level());
    EXPECT_EQ(levels, (std::vector<int>{panelLevel::halo, panelLevel::halo, panelLevel::focusCard,
                                        panelLevel::menuBarGlow, panelLevel::menuBarGlow}));
}

TEST_F(ZoneAlertControllerTest, greenHaloHidingAndTerminationClearEveryPanel)
{
    show(alerts, ZoneAppearance::redFocus);
    EXPECT_EQ(panels(factory), (PanelCounts{2, 1, 2}));
    show(alerts, ZoneAppearance::greenHalo);
    EXPECT_EQ(panels(factory), (PanelCounts{0, 0, 0}));
    EXPECT_EQ(alerts.live().appearance(), ZoneAppearance::hidden);
    EXPECT_FALSE(alerts.live().menuGlow().visible());

    show(alerts, ZoneAppearance::yellowHalo);
    QPointer<WarningEntranceView> entrance = alerts.live().haloPanels()[0]->contentView();
    show(alerts, ZoneAppearance::hidden);
    EXPECT_TRUE(entrance.isNull()) << "hiding drops the halo content at once";

    show(alerts, ZoneAppearance::redFocus);
    emit factory.aboutToTerminate();
    EXPECT_EQ(panels(factory), (PanelCounts{0, 0, 0}));
    EXPECT_EQ(alerts.live().appearance(), ZoneAppearance::hidden);
}
