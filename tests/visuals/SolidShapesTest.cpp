#include "FakePanelFactory.h"

#include "visuals/FocusCard.h"
#include "visuals/PeripheralEffect.h"
#include "visuals/SmokeHalo.h"
#include "visuals/SolidShapes.h"
#include "visuals/WarningEntrance.h"
#include "visuals/ZoneAlertController.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

using namespace verticora;
using verticora::test::FakePanelFactory;
using verticora::test::flushDeferredDeletes;

namespace {

// A screen with a 24-point top panel and a 40-point dock on the left.
const ScreenGeometry screen{QRect(0, 0, 320, 200), QRect(40, 24, 280, 176)};

} // namespace

TEST(SolidShapes, stripsAreThinAndGrowWithTheSeverity)
{
    EXPECT_LT(solid::edgeThickness(15, 1), solid::edgeThickness(300, 1));
    EXPECT_LT(solid::edgeThickness(300, 1), solid::edgeThickness(300, 2));
    EXPECT_LT(solid::edgeThickness(300, 2), solid::edgeThickness(300, 3));
    EXPECT_LE(solid::edgeThickness(300, 3), 12) << "a strip, not a band";
    EXPECT_EQ(solid::edgeThickness(300, 0), solid::edgeThickness(300, 1)) << "below yellow counts as yellow";
    EXPECT_GT(solid::edgeThickness(std::numeric_limits<double>::quiet_NaN(), 2), 0);
}

TEST(SolidShapes, eachStyleDrawsItsSidesAlongTheWorkArea)
{
    const QRect area = solid::workArea(screen);
    ASSERT_EQ(area, QRect(40, 24, 280, 176));
    // Tide at depth 8 and severity 1: a 120-point edge stands in as 6 pixels.
    EXPECT_EQ(solid::edgeStrips(EdgeEffectStyle::tide, 1, 8, area),
              (std::vector<QRect>{QRect(40, 24, 6, 176), QRect(314, 24, 6, 176)}));
    EXPECT_EQ(solid::edgeStrips(EdgeEffectStyle::horizon, 2, 1, area), (std::vector<QRect>{QRect(40, 24, 280, 2)}));
    EXPECT_EQ(solid::edgeStrips(EdgeEffectStyle::smoke, 3, 8, area).size(), 4u);
    EXPECT_EQ(solid::edgeStrips(EdgeEffectStyle::vignette, 1, 0, area).size(), 0u) << "no depth, no edge";

    const std::vector<QRect> brackets = solid::edgeStrips(EdgeEffectStyle::corners, 2, 8, area);
    ASSERT_EQ(brackets.size(), 8u);
    for (const QRect& arm : brackets) {
        EXPECT_TRUE(area.contains(arm)) << "every arm inside the work area";
        EXPECT_LE(std::max(arm.width(), arm.height()), 49) << "at most 28 % of the shorter side";
    }
    // A work area smaller than two strips: the strips meet, they never cross.
    for (const QRect& strip : solid::edgeStrips(EdgeEffectStyle::smoke, 3, 50, QRect(0, 0, 10, 8)))
        EXPECT_TRUE(QRect(0, 0, 10, 8).contains(strip));
}

TEST(SolidShapes, theGlowLineRunsUnderTheTopPanelNeverOverIt)
{
    EXPECT_EQ(solid::glowLine(screen), QRect(40, 24, 280, 3));
    EXPECT_EQ(solid::glowLine({QRect(1280, 0, 1920, 1080), QRect()}), QRect(1280, 0, 1920, 3));
}

// Without a compositing manager every reminder is drawn solid in a panel cut to it, and
// the panels follow a compositing manager that starts later.
TEST(SolidShapes, withoutCompositingTheRemindersAreCutToSolidShapes)
{
    FakePanelFactory factory({screen});
    factory.compositing = false;
    {
        ZoneAlertController alerts(factory);
        alerts.setEdgeEffectStyle(EdgeEffectStyle::tide);
        alerts.setAppearance(ZoneAppearance::redFocus);
        alerts.setSeverity(2);
        alerts.presentCurrent();

        const OverlayPanel& halo = *alerts.live().haloPanels().front();
        EXPECT_TRUE(halo.isShaped());
        EXPECT_EQ(halo.geometry(), screen.frame) << "solid panels cover their screen";
        const PeripheralEffectView& edge = *alerts.live().edgeViews().front();
        ASSERT_FALSE(edge.solidStrips().empty());
        QRegion strips;
        for (const QRect& strip : edge.solidStrips())
            strips += strip;
        EXPECT_EQ(halo.mask(), strips);
        EXPECT_TRUE(QRegion(QRect(40, 24, 280, 176)).contains(strips.boundingRect()));
        EXPECT_DOUBLE_EQ(halo.contentView()->presentationOpacity(), 1) << "no fade through black";

        const OverlayPanel& glow = *alerts.live().menuGlow().panels().front();
        EXPECT_EQ(glow.geometry(), QRect(40, 24, 280, 3));

        const OverlayPanel& card = *alerts.live().focusPanel();
        EXPECT_EQ(card.geometry(), screen.frame);
        const QRect cardArea = card.contentView()->geometry();
        EXPECT_TRUE(card.mask().boundingRect().intersects(cardArea));
        EXPECT_TRUE(cardArea.contains(card.mask().boundingRect()));
        EXPECT_FALSE(card.mask().contains(cardArea.topLeft() + QPoint(8, 8))) << "rounded corners are cut away";
        EXPECT_TRUE(qobject_cast<DesktopFocusCard*>(card.contentView()->content())->solid());

        factory.changeCompositing(true);
        EXPECT_FALSE(alerts.live().haloPanels().front()->isShaped());
        EXPECT_TRUE(alerts.live().edgeViews().front()->solidStrips().empty());
        EXPECT_EQ(alerts.live().menuGlow().panels().front()->geometry(), QRect(0, 0, 320, 24));
        EXPECT_EQ(alerts.live().focusPanel()->geometry(), cardArea) << "the card stays where it was";
        EXPECT_EQ(alerts.live().focusPanel()->contentView()->geometry().topLeft(), QPoint());
    }
    flushDeferredDeletes();
}
