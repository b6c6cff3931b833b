#include "visuals/PeripheralEffect.h"
#include "visuals/SmokeGeometry.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>

using namespace verticora;

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

std::unique_ptr<PeripheralEffectView> effect(EdgeEffectStyle style, double severity, double depth, QSize size,
                                             bool reduceMotion = false)
{
    auto view = std::make_unique<PeripheralEffectView>(style, severity, depth, [reduceMotion] { return reduceMotion; });
    applyGeometryNow(*view, QRect(QPoint(), size));
    return view;
}

std::array<bool, 4> shownGradients(const PeripheralEffectView& view)
{
    std::array<bool, 4> shown{};
    for (std::size_t i = 0; i < 4; ++i)
        shown[i] = !view.gradients()[i].hidden;
    return shown;
}

const QSize laptop(1440, 900);

} // namespace

TEST(PeripheralEffectView, vignetteAndHorizonAtSeverityOne)
{
    const auto vignette = effect(EdgeEffectStyle::vignette, 1, 1, laptop);
    EXPECT_EQ(shownGradients(*vignette), (std::array<bool, 4>{true, true, true, true}));
    EXPECT_EQ(vignette->gradients()[0].frame.value(), QRectF(0, 0, 1440, 15));
    EXPECT_EQ(vignette->gradients()[1].frame.value(), QRectF(0, 885, 1440, 15));
    EXPECT_EQ(vignette->gradients()[2].frame.value(), QRectF(0, 0, 15, 900));
    EXPECT_EQ(vignette->gradients()[3].frame.value(), QRectF(1425, 0, 15, 900));
    EXPECT_TRUE(vignette->outline().hidden);
    // Deep edge colour: amber darkened by 0.48 at alpha 0.66, fading inward.
    const auto colors = vignette->gradients()[0].colors.value();
    EXPECT_NEAR(colors[0].redF(), 0.96 * 0.52, 1e-3);
    EXPECT_NEAR(colors[0].alphaF(), 0.66, 1e-3);
    EXPECT_NEAR(colors[1].alphaF(), 0.59 * 0.66, 1e-3);
    EXPECT_NEAR(colors[2].alphaF(), 0.18 * 0.66, 1e-3);
    EXPECT_EQ(colors[3].alpha(), 0);
    EXPECT_EQ(vignette->gradients()[0].startPoint, QPointF(0.5, 0));
    EXPECT_EQ(vignette->gradients()[3].endPoint, QPointF(0, 0.5));

    const auto horizon = effect(EdgeEffectStyle::horizon, 1, 1, laptop);
    EXPECT_EQ(shownGradients(*horizon), (std::array<bool, 4>{true, false, false, false}));
    EXPECT_EQ(horizon->gradients()[0].frame.value(), QRectF(0, 0, 1440, 9));
}

TEST(PeripheralEffectView, glowKeepsAThinOutlineAtEverySeverity)
{
    const auto glow = effect(EdgeEffectStyle::glow, 1, 1, laptop);
    EXPECT_EQ(shownGradients(*glow), (std::array<bool, 4>{true, true, true, true}));
    EXPECT_NEAR(glow->gradients()[0].frame.value().height(), 4.8, 1e-9);
    EXPECT_FALSE(glow->outline().hidden);
    EXPECT_DOUBLE_EQ(glow->outline().lineWidth, 1.5);
    EXPECT_EQ(glow->outline().path.value().boundingRect(), QRectF(1, 1, 1438, 898));
    EXPECT_NEAR(glow->outline().strokeColor.alphaF(), 0.88, 1e-3);

    glow->setSeverity(3);
    glow->update(true);
    EXPECT_DOUBLE_EQ(glow->outline().lineWidth, 1.5);
}

TEST(PeripheralEffectView, tideIsARadialLensOnEachSide)
{
    const auto tide = effect(EdgeEffectStyle::tide, 1, 1, laptop);
    EXPECT_EQ(shownGradients(*tide), (std::array<bool, 4>{false, false, true, true}));
    EXPECT_EQ(tide->gradients()[2].frame.value(), QRectF(0, 0, 21.75, 900));
    EXPECT_EQ(tide->gradients()[3].frame.value(), QRectF(1440 - 21.75, 0, 21.75, 900));
    EXPECT_TRUE(tide->gradients()[2].radial);
    EXPECT_EQ(tide->gradients()[2].startPoint, QPointF(0, 0.5));
    EXPECT_EQ(tide->gradients()[2].endPoint, QPointF(1, 1));
    EXPECT_EQ(tide->gradients()[3].startPoint, QPointF(1, 0.5));
    EXPECT_EQ(tide->gradients()[3].endPoint, QPointF(0, 1));
    EXPECT_NEAR(tide->gradients()[2].colors.value()[0].alphaF(), 0.6, 1e-3);
    EXPECT_TRUE(tide->outline().hidden);
}

TEST(PeripheralEffectView, cornerBracketsThickenWithDepthAndSeverityUpToACap)
{
    const auto corners = effect(EdgeEffectStyle::corners, 1, 1, laptop);
    EXPECT_EQ(shownGradients(*corners), (std::array<bool, 4>{false, false, false, false}));
    EXPECT_FALSE(corners->outline().hidden);
    EXPECT_NEAR(corners->outline().lineWidth, 2.24, 1e-9);
    // Top-left bracket: from (16, 3) along the top, round the corner (radius 4.8), down to (3, 16).
    const QPainterPath& path = corners->outline().path.value();
    EXPECT_EQ(path.elementAt(0).x, 16);
    EXPECT_EQ(path.elementAt(0).y, 3);
    EXPECT_NEAR(path.elementAt(1).x, 3 + 4.8, 1e-9);
    EXPECT_EQ(path.boundingRect(), QRectF(3, 3, 1434, 894));
    EXPECT_EQ(path.toSubpathPolygons().size(), 4);
    EXPECT_EQ(path.toSubpathPolygons().front().boundingRect(), QRectF(3, 3, 13, 13));

    const auto deep = effect(EdgeEffectStyle::corners, 3, 10, laptop);
    EXPECT_DOUBLE_EQ(deep->outline().lineWidth, 7);
    const auto middle = effect(EdgeEffectStyle::corners, 2, 5, laptop);
    EXPECT_NEAR(middle->outline().lineWidth, 2 + 1.2 + 1.4, 1e-9);
}

TEST(PeripheralEffectView, depthZeroHidesEverything)
{
    for (EdgeEffectStyle style : {EdgeEffectStyle::vignette, EdgeEffectStyle::glow, EdgeEffectStyle::corners,
                                  EdgeEffectStyle::tide, EdgeEffectStyle::horizon}) {
        SCOPED_TRACE(std::string(rawName(style)));
        const auto view = effect(style, 2, 0, laptop);
        EXPECT_EQ(shownGradients(*view), (std::array<bool, 4>{false, false, false, false}));
        EXPECT_TRUE(view->outline().hidden);
    }
}

TEST(PeripheralEffectView, severityBelowOneIsAmberButAsThinAsItIs)
{
    const auto view = effect(EdgeEffectStyle::vignette, 0, 1, laptop);
    EXPECT_EQ(view->gradients()[0].frame.value().height(), 5);
    const QColor amber = SmokeGeometry::color(1);
    const QColor edge = view->gradients()[0].colors.value()[1];
    EXPECT_NEAR(edge.redF(), amber.redF(), 1e-3);
    EXPECT_NEAR(edge.greenF(), amber.greenF(), 1e-3);

    const auto thin = effect(EdgeEffectStyle::vignette, 1, 0.5, laptop);
    EXPECT_DOUBLE_EQ(thin->gradients()[0].frame.value().height(), 7.5);
}

TEST(PeripheralEffectView, clampsItsInputs)
{
    PeripheralEffectView view(EdgeEffectStyle::vignette, notANumber, 12);
    EXPECT_DOUBLE_EQ(view.severity(), 0);
    EXPECT_DOUBLE_EQ(view.depthScale(), 10);
    view.setSeverity(5);
    view.setDepthScale(notANumber);
    EXPECT_DOUBLE_EQ(view.severity(), 3);
    EXPECT_DOUBLE_EQ(view.depthScale(), 0);
}

TEST(PeripheralEffectView, smallScreensCapEveryShape)
{
    const QSize tiny(100, 60);
    const auto vignette = effect(EdgeEffectStyle::vignette, 3, 10, tiny);
    EXPECT_DOUBLE_EQ(vignette->gradients()[0].frame.value().height(), 0.42 * 60);
    EXPECT_DOUBLE_EQ(vignette->gradients()[2].frame.value().width(), 0.42 * 100);
    const auto tide = effect(EdgeEffectStyle::tide, 3, 10, tiny);
    EXPECT_DOUBLE_EQ(tide->gradients()[2].frame.value().width(), 0.36 * 100);
    const auto corners = effect(EdgeEffectStyle::corners, 3, 10, tiny);
    EXPECT_EQ(corners->outline().path.value().elementAt(0).x, 0.28 * 60);
}

TEST(PeripheralEffectView, risesAnimateFallsJump)
{
    const auto view = effect(EdgeEffectStyle::vignette, 1, 1, laptop);
    view->setSeverity(2);
    view->update(true);
    const auto& top = view->gradients()[0];
    ASSERT_TRUE(top.frame.animating(mediaTime()));
    EXPECT_DOUBLE_EQ(top.frame.animation()->duration, PeripheralEffectView::changeDuration);
    EXPECT_EQ(top.frame.animation()->timing, TimingFunction::easeOut);
    EXPECT_TRUE(top.colors.animating(mediaTime()));
    EXPECT_EQ(top.frame.value(), QRectF(0, 0, 1440, 30));

    view->setSeverity(1);
    view->update(false);
    EXPECT_FALSE(view->animating(mediaTime()));
    EXPECT_EQ(top.frame.value(), QRectF(0, 0, 1440, 15));

    const auto calm = effect(EdgeEffectStyle::corners, 1, 1, laptop, true);
    calm->setSeverity(3);
    calm->update(true);
    EXPECT_FALSE(calm->animating(mediaTime()));

    const auto corners = effect(EdgeEffectStyle::corners, 1, 1, laptop);
    corners->setDepthScale(8);
    corners->update(true);
    EXPECT_TRUE(corners->outline().path.animating(mediaTime()));
}

TEST(PeripheralEffectView, resizingRelaysWithoutAnimation)
{
    const auto view = effect(EdgeEffectStyle::horizon, 2, 1, laptop);
    applyGeometryNow(*view, QRect(0, 0, 800, 600));
    EXPECT_EQ(view->lastSize(), QSizeF(800, 600));
    EXPECT_EQ(view->gradients()[0].frame.value(), QRectF(0, 0, 800, 18));
    EXPECT_FALSE(view->animating(mediaTime()));
}
