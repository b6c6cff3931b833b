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

// Which edges each style draws on, that a deeper sink draws them deeper, and that no
// depth draws nothing.
struct StyleEdges {
    EdgeEffectStyle style;
    std::array<bool, 4> shown; // top, bottom, left, right

    friend void PrintTo(const StyleEdges& value, std::ostream* out)
    {
        *out << rawName(value.style);
    }
};

class PeripheralEffectStyles : public ::testing::TestWithParam<StyleEdges> {};

TEST_P(PeripheralEffectStyles, drawOnTheirOwnEdgesGrowWithTheSinkAndVanishWithoutDepth)
{
    const auto [style, shown] = GetParam();
    const auto mild = effect(style, 1, 1, laptop);
    const auto deep = effect(style, 3, 5, laptop);
    EXPECT_EQ(shownGradients(*mild), shown);
    const std::size_t side = shown[0] ? 0 : 2;
    if (style == EdgeEffectStyle::corners) {
        EXPECT_GT(deep->outline().lineWidth, mild->outline().lineWidth);
    } else {
        const QRectF a = mild->gradients()[side].frame.value();
        const QRectF b = deep->gradients()[side].frame.value();
        EXPECT_GT(b.width() * b.height(), a.width() * a.height());
    }

    const auto none = effect(style, 2, 0, laptop);
    EXPECT_EQ(shownGradients(*none), (std::array<bool, 4>{false, false, false, false}));
    EXPECT_TRUE(none->outline().hidden);
}

INSTANTIATE_TEST_SUITE_P(Styles, PeripheralEffectStyles,
                         ::testing::Values(StyleEdges{EdgeEffectStyle::vignette, {true, true, true, true}},
                                           StyleEdges{EdgeEffectStyle::glow, {true, true, true, true}},
                                           StyleEdges{EdgeEffectStyle::tide, {false, false, true, true}},
                                           StyleEdges{EdgeEffectStyle::horizon, {true, false, false, false}},
                                           StyleEdges{EdgeEffectStyle::corners, {false, false, false, false}}),
                         [](const auto& info) { return std::string(rawName(info.param.style)); });

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
    EXPECT_DOUBLE_EQ(vignette->gradients()[0].frame.value().height(), 25.2);
    EXPECT_DOUBLE_EQ(vignette->gradients()[2].frame.value().width(), 42);
    const auto tide = effect(EdgeEffectStyle::tide, 3, 10, tiny);
    EXPECT_DOUBLE_EQ(tide->gradients()[2].frame.value().width(), 36);
    const auto corners = effect(EdgeEffectStyle::corners, 3, 10, tiny);
    EXPECT_DOUBLE_EQ(corners->outline().path.value().elementAt(0).x, 16.8);
}

TEST(PeripheralEffectView, risesAnimateFallsJump)
{
    const auto view = effect(EdgeEffectStyle::vignette, 1, 1, laptop);
    view->setSeverity(2);
    view->update(true);
    const auto& top = view->gradients()[0];
    ASSERT_TRUE(top.frame.animating(mediaTime()));
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
