#include "visuals/OverlayView.h"
#include "visuals/SmokeGeometry.h"
#include "visuals/SmokeHalo.h"

#include <gtest/gtest.h>

#include <limits>

using namespace verticora;

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

ReduceMotionSource reduceMotion(bool on)
{
    return [on] { return on; };
}

std::array<double, 3> inkOpacities(const CompositedSmoke& smoke, std::size_t strip, std::size_t phase)
{
    const auto& inks = smoke.strips()[strip].phases[phase].inks;
    return {inks[0].opacity.value(), inks[1].opacity.value(), inks[2].opacity.value()};
}

} // namespace

TEST(SmokeTextureCache, evictsTheLeastRecentlyUsedOverCountOrCost)
{
    SmokeTextureCache cache;
    QImage small(4, 4, QImage::Format_ARGB32_Premultiplied);
    for (int i = 0; i < SmokeTextureCache::countLimit; ++i)
        cache.insert(QString::number(i), small);
    ASSERT_TRUE(cache.find(QStringLiteral("0")).has_value()); // now the most recently used
    cache.insert(QStringLiteral("extra"), small);
    EXPECT_EQ(cache.count(), SmokeTextureCache::countLimit);
    EXPECT_TRUE(cache.find(QStringLiteral("0")).has_value());
    EXPECT_FALSE(cache.find(QStringLiteral("1")).has_value());
    EXPECT_EQ(cache.totalCost(), static_cast<qint64>(SmokeTextureCache::countLimit) * 64);

    SmokeTextureCache costly;
    QImage large(1024, 1024, QImage::Format_ARGB32_Premultiplied); // 4 MiB each
    costly.insert(QStringLiteral("a"), large);
    costly.insert(QStringLiteral("b"), large);
    EXPECT_EQ(costly.totalCost(), SmokeTextureCache::costLimit);
    costly.insert(QStringLiteral("c"), large);
    EXPECT_EQ(costly.count(), 2);
    EXPECT_FALSE(costly.find(QStringLiteral("a")).has_value());
    EXPECT_TRUE(costly.find(QStringLiteral("b")).has_value());
}

TEST(SmokeTextureCache, secondSmokeOfTheSameSizeRendersNothing)
{
    SmokeTextureCache& cache = SmokeTextureCache::shared();
    cache.clear();
    CompositedSmoke first;
    first.update(QSizeF(900, 600), 2, 1, false);
    EXPECT_EQ(cache.count(), 24);

    CompositedSmoke second;
    second.update(QSizeF(900, 600), 1, 1, false);
    EXPECT_EQ(cache.count(), 24);
    for (std::size_t strip = 0; strip < 4; ++strip) {
        for (std::size_t phase = 0; phase < 2; ++phase) {
            for (std::size_t ink = 0; ink < 3; ++ink)
                EXPECT_EQ(second.strips()[strip].phases[phase].inks[ink].contents.cacheKey(),
                          first.strips()[strip].phases[phase].inks[ink].contents.cacheKey());
        }
    }
    EXPECT_TRUE(cache.find(QStringLiteral("0-1-2-900.0")).has_value());
    EXPECT_TRUE(cache.find(QStringLiteral("2-1-2-600.0")).has_value());
}

TEST(SmokeEdgeView, smokeIsDensestAtItsEdge)
{
    for (int side = 0; side < 4; ++side) {
        SCOPED_TRACE(side);
        SmokeEdgeView renderer(side);
        renderer.bounds = side < 2 ? QRectF(0, 0, 900, 42) : QRectF(0, 0, 42, 900);
        renderer.severity = 2;
        renderer.forcedDepth = 40;
        const QImage texture = renderer.makeTexture();
        ASSERT_FALSE(texture.isNull());
        const QPoint edge = side == 0 ? QPoint(160, 0) : side == 1 ? QPoint(160, 41) : side == 2 ? QPoint(0, 160) : QPoint(41, 160);
        const QPoint inner = side == 0 ? QPoint(160, 38) : side == 1 ? QPoint(160, 3) : side == 2 ? QPoint(38, 160) : QPoint(3, 160);
        EXPECT_GT(texture.pixelColor(edge).alphaF(), 0.3);
        EXPECT_LT(texture.pixelColor(inner).alphaF(), texture.pixelColor(edge).alphaF() / 4);
    }
    SmokeEdgeView empty(0);
    EXPECT_TRUE(empty.makeTexture().isNull());
}

TEST(CompositedSmoke, deepSmokeFadesAtItsInnerEdgeOnlyWhereTheScreenCutsItShort)
{
    CompositedSmoke smoke;
    smoke.update(QSizeF(1512, 982), 3, 8, false);
    // E = 40 × 8 + 2 = 322, below 46 % of either side.
    const auto& top = smoke.strips()[0];
    EXPECT_EQ(top.bounds, QRectF(0, 0, 1512, 42));
    EXPECT_DOUBLE_EQ(top.scale.value(), 322.0 / 42);
    EXPECT_EQ(top.targetFrame(), QRectF(0, 0, 1512, 322));
    EXPECT_EQ(smoke.strips()[1].targetFrame(), QRectF(0, 982 - 322, 1512, 322));
    EXPECT_EQ(smoke.strips()[2].targetFrame(), QRectF(0, 0, 322, 982));
    EXPECT_EQ(smoke.strips()[3].targetFrame(), QRectF(1512 - 322, 0, 322, 982));
    for (const auto& strip : smoke.strips())
        EXPECT_FALSE(strip.masked);
    EXPECT_EQ(inkOpacities(smoke, 3, 1), smokeInkWeights(3)) << "the inks follow the severity";
    smoke.update(QSizeF(1512, 982), 1.5, 8, false);
    EXPECT_EQ(inkOpacities(smoke, 2, 0), smokeInkWeights(1.5));

    // 322 is more than 46 % of 600: the top and bottom strips are cut short.
    smoke.update(QSizeF(1512, 600), 3, 8, false);
    EXPECT_DOUBLE_EQ(smoke.strips()[0].targetFrame().height(), 276);
    EXPECT_TRUE(smoke.strips()[0].masked);
    EXPECT_TRUE(smoke.strips()[1].masked);
    EXPECT_DOUBLE_EQ(smoke.strips()[2].targetFrame().width(), 322);
    EXPECT_FALSE(smoke.strips()[2].masked);
    EXPECT_FALSE(smoke.strips()[3].masked);
}

TEST(CompositedSmoke, deeperSmokeAnimatesLongerThanShallower)
{
    CompositedSmoke smoke;
    const QSizeF size(400, 300);
    smoke.update(size, 2, 1, false);
    EXPECT_FALSE(smoke.strips()[0].scale.animation().has_value());

    smoke.update(size, 1, 1, true);
    ASSERT_TRUE(smoke.strips()[0].scale.animation().has_value());
    EXPECT_DOUBLE_EQ(smoke.strips()[0].scale.animation()->duration, CompositedSmoke::fallDuration);
    ASSERT_TRUE(smoke.strips()[1].position.animation().has_value());
    ASSERT_TRUE(smoke.strips()[0].phases[0].inks[0].opacity.animation().has_value());
    EXPECT_DOUBLE_EQ(smoke.strips()[0].phases[0].inks[0].opacity.animation()->duration, 0.06);

    smoke.update(size, 3, 1, true);
    EXPECT_DOUBLE_EQ(smoke.strips()[2].scale.animation()->duration, CompositedSmoke::riseDuration);
    EXPECT_DOUBLE_EQ(smoke.strips()[2].scale.value(), 42.0 / 42);
}

TEST(CompositedSmoke, jumpsWithReduceMotionOrWhileTheSizeChanges)
{
    CompositedSmoke calm(reduceMotion(true));
    calm.update(QSizeF(400, 300), 1, 1, false);
    calm.update(QSizeF(400, 300), 3, 1, true);
    EXPECT_FALSE(calm.animating(mediaTime()));
    EXPECT_DOUBLE_EQ(calm.strips()[0].scale.value(), 42.0 / 42);

    CompositedSmoke resized;
    resized.update(QSizeF(400, 300), 1, 1, false);
    resized.update(QSizeF(500, 300), 3, 1, true);
    EXPECT_FALSE(resized.animating(mediaTime()));
    EXPECT_EQ(resized.strips()[0].targetFrame(), QRectF(0, 0, 500, 42));
}

TEST(SmokeHaloView, clampsDepthAndSeverity)
{
    SmokeHaloView view(notANumber, 80);
    EXPECT_DOUBLE_EQ(view.target(), 0);
    EXPECT_DOUBLE_EQ(view.depthScale(), 50);
    view.setDepthScale(0.3);
    EXPECT_DOUBLE_EQ(view.depthScale(), 1);
    view.setDepthScale(notANumber);
    EXPECT_DOUBLE_EQ(view.depthScale(), 1);
    view.setSeverity(5);
    EXPECT_DOUBLE_EQ(view.target(), 3);
}

TEST(SmokeHaloView, driftsOnlyWhileShownWithoutReduceMotion)
{
    SmokeHaloView view(2, 1);
    applyGeometryNow(view, QRect(0, 0, 400, 300));
    EXPECT_FALSE(view.live().driftEnabled());

    view.show();
    ASSERT_TRUE(view.live().driftEnabled());
    for (const auto& strip : view.live().strips())
        EXPECT_TRUE(strip.phases[0].drift.has_value());
    // The two phases of a strip cross-fade: half way through, phase 1 has taken over.
    const auto& drift = view.live().strips()[0].phases;
    EXPECT_NEAR(drift[0].opacityAt(view.live().epoch() + 7), 0, 1e-9);
    EXPECT_NEAR(drift[1].opacityAt(view.live().epoch() + 7), 1, 1e-9);

    view.hide();
    EXPECT_FALSE(view.live().driftEnabled());
    EXPECT_FALSE(view.live().strips()[0].phases[0].drift.has_value());

    SmokeHaloView calm(2, 1, reduceMotion(true));
    applyGeometryNow(calm, QRect(0, 0, 400, 300));
    calm.show();
    EXPECT_FALSE(calm.live().driftEnabled());
}
