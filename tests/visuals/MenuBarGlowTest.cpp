#include "FakePanelFactory.h"

#include "visuals/MenuBarGlow.h"

#include <gtest/gtest.h>

#include <limits>

using namespace verticora;
using verticora::test::FakePanelFactory;

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

} // namespace

TEST(MenuBarGlowView, opacityRisesWithSeverityAndProgressAndPulsesFromSeverityTwo)
{
    const auto opacity = [](double severity, double progress, double time = 0, bool reduceMotion = true) {
        return MenuBarGlowView::opacity(severity, progress, time, reduceMotion);
    };
    EXPECT_LT(opacity(1, 0.7), opacity(2, 0.7));
    EXPECT_DOUBLE_EQ(opacity(1, 0.7), opacity(1, 0)) << "progress counts from severity two";
    EXPECT_LT(opacity(2, 0), opacity(2, 1));
    EXPECT_DOUBLE_EQ(opacity(3, 5), opacity(3, 1)) << "progress is capped";
    EXPECT_DOUBLE_EQ(opacity(2, notANumber), opacity(2, 0));
    EXPECT_DOUBLE_EQ(opacity(-1, 1), opacity(0, 0));
    EXPECT_DOUBLE_EQ(opacity(notANumber, 1), opacity(0, 0));
    const double peak = 5.0 / 17.0; // a quarter period in
    EXPECT_DOUBLE_EQ(opacity(1, 0.7, peak, false), opacity(1, 0.7)) << "no pulse below severity two";
    EXPECT_NEAR(opacity(2, 1, peak, false), opacity(2, 1) + 0.045, 1e-12);
    EXPECT_DOUBLE_EQ(opacity(2, 1, peak, true), opacity(2, 1)) << "no pulse with reduced motion";
}

TEST(MenuBarGlowView, breathesFromSeverityTwoWhileShown)
{
    MenuBarGlowView still(1.9, 1);
    applyGeometryNow(still, QRect(0, 0, 200, 24));
    still.show();
    EXPECT_FALSE(still.breath().has_value());
    EXPECT_NEAR(still.glowOpacity(), MenuBarGlowView::opacity(1.9, 1, 0, true), 1e-12);

    MenuBarGlowView breathing(2, 1);
    applyGeometryNow(breathing, QRect(0, 0, 200, 24));
    EXPECT_FALSE(breathing.breath().has_value()); // not in a window yet
    breathing.show();
    ASSERT_TRUE(breathing.breath().has_value());
    EXPECT_DOUBLE_EQ(breathing.breath()->begin, breathing.origin());
    EXPECT_TRUE(breathing.pulseSignature().has_value());

    breathing.setValues(1, 1);
    EXPECT_FALSE(breathing.breath().has_value());
    EXPECT_FALSE(breathing.pulseSignature().has_value());

    MenuBarGlowView calm(3, 1, [] { return true; });
    applyGeometryNow(calm, QRect(0, 0, 200, 24));
    calm.show();
    EXPECT_FALSE(calm.breath().has_value());
}

TEST(MenuBarGlowController, oneBandPerScreenAsTallAsItsTopPanel)
{
    FakePanelFactory factory({{QRect(0, 0, 1440, 900), QRect(0, 32, 1440, 868)},
                              {QRect(1440, 0, 1920, 1080), QRect(1440, 0, 1920, 1080)}});
    MenuBarGlowController glow(factory);
    glow.present(true, 2, 0.5);
    ASSERT_EQ(glow.panels().size(), 2u);
    EXPECT_EQ(glow.panels()[0]->geometry(), QRect(0, 0, 1440, 32));
    EXPECT_EQ(glow.panels()[1]->geometry(), QRect(1440, 0, 1920, MenuBarGlowController::statusBarThickness));
    EXPECT_EQ(glow.panels()[0]->level(), panelLevel::menuBarGlow);
    EXPECT_EQ(glow.panels()[0]->objectName(), QStringLiteral("zone-menu-bar-glow"));
    EXPECT_TRUE(glow.panels()[0]->testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_DOUBLE_EQ(glow.views()[1]->severity(), 2);
    EXPECT_DOUBLE_EQ(glow.views()[1]->progress(), 0.5);

    glow.present(true, 9, 0.7);
    EXPECT_DOUBLE_EQ(glow.severity(), 3);
    EXPECT_DOUBLE_EQ(glow.views()[0]->severity(), 3);
    EXPECT_DOUBLE_EQ(glow.views()[0]->progress(), 0.7);

    glow.present(false, 3, 0.7);
    EXPECT_TRUE(glow.panels().empty());
    EXPECT_EQ(factory.count(panelLevel::menuBarGlow), 0);
}

TEST(MenuBarGlowController, followsTheScreensWhileShown)
{
    FakePanelFactory factory;
    MenuBarGlowController glow(factory);
    glow.present(true, 1, 0);
    EXPECT_EQ(factory.count(panelLevel::menuBarGlow), 1);
    factory.changeScreens({{QRect(0, 0, 800, 600), QRect()}, {QRect(800, 0, 800, 600), QRect()}});
    EXPECT_EQ(factory.count(panelLevel::menuBarGlow), 2);
    glow.present(false, 1, 0);
    factory.changeScreens({{QRect(0, 0, 800, 600), QRect()}});
    EXPECT_EQ(factory.count(panelLevel::menuBarGlow), 0);
}

TEST(MenuBarGlowController, aTopPanelTallerThanAQuarterOfTheScreenIsNotBelieved)
{
    EXPECT_EQ(MenuBarGlowController::bandRect({QRect(0, 0, 800, 600), QRect(0, 400, 800, 200)}), QRect(0, 0, 800, 150));
    EXPECT_EQ(MenuBarGlowController::bandRect({QRect(0, 0, 800, 600), QRect()}), QRect(0, 0, 800, 24));
}
