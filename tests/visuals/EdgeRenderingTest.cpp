// Every edge style, drawn as the panels draw it: the edge carries the severity's hue and
// the middle of the screen stays untouched.

#include "visuals/PeripheralEffect.h"
#include "visuals/SmokeGeometry.h"
#include "visuals/SmokeHalo.h"

#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

using namespace verticora;

namespace {

const QSize screen(480, 320);

double hueDistance(double a, double b)
{
    const double d = std::abs(a - b);
    return std::min(d, 360 - d);
}

// Drawn onto a transparent image through the widget's own painting.
QImage rendered(QWidget& view)
{
    applyGeometryNow(view, QRect(QPoint(), screen));
    QImage image(screen, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    view.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// A point on the style's edge where it draws strongly.
QPoint edgePoint(EdgeEffectStyle style)
{
    switch (style) {
    case EdgeEffectStyle::tide:
        return {1, screen.height() / 2};
    case EdgeEffectStyle::corners:
        return {9, 3};
    case EdgeEffectStyle::glow:
        return {screen.width() / 2, 1};
    default:
        return {screen.width() / 2, 0};
    }
}

std::unique_ptr<QWidget> effectView(EdgeEffectStyle style, double severity)
{
    if (style == EdgeEffectStyle::smoke)
        return std::make_unique<SmokeHaloView>(severity, 1);
    return std::make_unique<PeripheralEffectView>(style, severity, 1);
}

} // namespace

namespace verticora::settings {

// Names the style in the parameterised tests' descriptions.
void PrintTo(EdgeEffectStyle style, std::ostream* out)
{
    *out << rawName(style);
}

} // namespace verticora::settings

class EdgeRendering : public ::testing::TestWithParam<std::tuple<EdgeEffectStyle, double>> {};

TEST_P(EdgeRendering, showsTheSeverityHueAtTheEdgeAndLeavesTheMiddleClear)
{
    const auto [style, severity] = GetParam();
    const auto view = effectView(style, severity);
    const QImage image = rendered(*view);

    const QColor edge = image.pixelColor(edgePoint(style));
    ASSERT_GT(edge.alphaF(), 0.2);
    const QColor expected = SmokeGeometry::color(severity);
    EXPECT_LT(hueDistance(edge.hsvHueF() * 360, expected.hsvHueF() * 360), 6.0);

    EXPECT_EQ(image.pixelColor(screen.width() / 2, screen.height() / 2).alpha(), 0);
    EXPECT_EQ(image.pixelColor(screen.width() / 3, screen.height() / 3).alpha(), 0);
}

INSTANTIATE_TEST_SUITE_P(Styles, EdgeRendering,
                         ::testing::Combine(::testing::Values(EdgeEffectStyle::tide, EdgeEffectStyle::smoke,
                                                              EdgeEffectStyle::vignette, EdgeEffectStyle::glow,
                                                              EdgeEffectStyle::corners, EdgeEffectStyle::horizon),
                                            ::testing::Values(1.0, 2.0, 3.0)),
                         [](const auto& info) {
                             return std::string(rawName(std::get<0>(info.param))) + "AtSeverity"
                                 + std::to_string(static_cast<int>(std::get<1>(info.param)));
                         });
