#include "visuals/OverlayView.h"
#include "visuals/WarningEntrance.h"

#include <QLabel>

#include <gtest/gtest.h>

#include <memory>

using namespace verticora;

namespace {

struct Entrance {
    Entrance(std::unique_ptr<QWidget> content = std::make_unique<OverlayView>(ReduceMotionSource{}))
        : contentView(content.get()), view(std::move(content), QRect(0, 0, 200, 100))
    {
    }
    QWidget* contentView;
    WarningEntranceView view;
};

} // namespace

// The fades' curves at a few points, against the two cubic Béziers solved exactly.
TEST(TimingFunction, easingCurvesKeepTheirShape)
{
    constexpr double tolerance = 5e-4;
    EXPECT_NEAR(applyTiming(TimingFunction::easeOut, 0.1), 0.160572, tolerance);
    EXPECT_NEAR(applyTiming(TimingFunction::easeOut, 0.5), 0.684643, tolerance);
    EXPECT_NEAR(applyTiming(TimingFunction::easeOut, 0.9), 0.982973, tolerance);
    EXPECT_NEAR(applyTiming(TimingFunction::easeInEaseOut, 0.25), 0.129162, tolerance);
    EXPECT_NEAR(applyTiming(TimingFunction::easeInEaseOut, 0.5), 0.5, tolerance);
    EXPECT_NEAR(applyTiming(TimingFunction::easeInEaseOut, 0.75), 0.870838, tolerance);
    for (const TimingFunction timing : {TimingFunction::easeOut, TimingFunction::easeInEaseOut}) {
        EXPECT_DOUBLE_EQ(applyTiming(timing, -1), 0);
        EXPECT_DOUBLE_EQ(applyTiming(timing, 2), 1);
    }
}

TEST(WarningEntranceView, startsInvisibleAndFadesInOnce)
{
    Entrance entrance;
    EXPECT_DOUBLE_EQ(entrance.view.opacity(), 0);
    EXPECT_TRUE(entrance.contentView->isHidden());
    EXPECT_EQ(entrance.contentView->geometry(), QRect(0, 0, 200, 100));

    entrance.view.appear(false);
    EXPECT_TRUE(entrance.view.hasAppeared());
    EXPECT_DOUBLE_EQ(entrance.view.opacity(), 1);
    ASSERT_TRUE(entrance.view.entranceAnimation().has_value());
    EXPECT_LT(entrance.view.presentationOpacity(), 0.5);
    EXPECT_FALSE(entrance.contentView->isHidden());

    const double begin = entrance.view.entranceAnimation()->begin;
    entrance.view.appear(false);
    EXPECT_DOUBLE_EQ(entrance.view.entranceAnimation()->begin, begin);

    applyGeometryNow(entrance.view, QRect(0, 0, 640, 480));
    EXPECT_EQ(entrance.contentView->geometry(), QRect(0, 0, 640, 480)) << "the content follows the wrapper's size";
}

TEST(WarningEntranceView, cancelCutsTheFadeShortAndKeepsALaterAppearInvisible)
{
    Entrance entrance;
    entrance.view.appear(false);
    entrance.view.cancel();
    EXPECT_DOUBLE_EQ(entrance.view.opacity(), 0);
    EXPECT_DOUBLE_EQ(entrance.view.presentationOpacity(), 0);
    EXPECT_FALSE(entrance.view.entranceAnimation().has_value());
    EXPECT_TRUE(entrance.contentView->isHidden());

    Entrance cancelledFirst;
    cancelledFirst.view.cancel();
    cancelledFirst.view.appear(false);
    EXPECT_TRUE(cancelledFirst.view.isCancelled());
    EXPECT_FALSE(cancelledFirst.view.hasAppeared());
    EXPECT_DOUBLE_EQ(cancelledFirst.view.opacity(), 0);
    EXPECT_TRUE(cancelledFirst.contentView->isHidden());
}

TEST(WarningEntranceView, reduceMotionShowsTheContentAtOnce)
{
    Entrance painted;
    painted.view.appear(true);
    EXPECT_DOUBLE_EQ(painted.view.presentationOpacity(), 1);
    EXPECT_FALSE(painted.view.entranceAnimation().has_value());
    EXPECT_DOUBLE_EQ(static_cast<OverlayView*>(painted.contentView)->entranceOpacity(), 1);

    Entrance plain(std::make_unique<QLabel>(QStringLiteral("card")));
    plain.view.appear(true);
    EXPECT_FALSE(plain.contentView->isHidden());
    EXPECT_EQ(plain.contentView->graphicsEffect(), nullptr);
}
