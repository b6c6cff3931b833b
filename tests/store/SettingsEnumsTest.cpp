#include "store/SettingsEnums.h"

#include <gtest/gtest.h>

using namespace verticora;

TEST(SettingsEnums, rawNamesRoundTripAndUnknownNamesAreRefused)
{
    EXPECT_EQ(rawName(ReminderMode::smokeWide), "smokeWide");
    EXPECT_EQ(fromRawName<ReminderMode>("menuBar"), ReminderMode::menuBar);
    EXPECT_FALSE(fromRawName<ReminderMode>("smoke3"));
    EXPECT_EQ(fromRawName<EdgeEffectStyle>("tide"), EdgeEffectStyle::tide);
    EXPECT_FALSE(fromRawName<EdgeEffectStyle>("Tide"));
    EXPECT_EQ(rawName(ControlsPage::settings), "Settings");
    EXPECT_EQ(rawName(DiagnosticVisualMode::noSmoke), "no-smoke");
    EXPECT_EQ(fromRawName<DiagnosticVisualMode>("frozen-icon"), DiagnosticVisualMode::frozenIcon);
}

TEST(SettingsEnums, diagnosticModesDecideSmokeAndGlow)
{
    EXPECT_TRUE(showsSmoke(DiagnosticVisualMode::full) && showsMenuGlow(DiagnosticVisualMode::full));
    EXPECT_TRUE(!showsSmoke(DiagnosticVisualMode::noSmoke) && showsMenuGlow(DiagnosticVisualMode::noSmoke));
    EXPECT_TRUE(showsSmoke(DiagnosticVisualMode::noGlow) && !showsMenuGlow(DiagnosticVisualMode::noGlow));
    EXPECT_TRUE(showsSmoke(DiagnosticVisualMode::frozenIcon) && showsMenuGlow(DiagnosticVisualMode::frozenIcon));
    EXPECT_TRUE(!showsSmoke(DiagnosticVisualMode::noVisuals) && !showsMenuGlow(DiagnosticVisualMode::noVisuals));
}
