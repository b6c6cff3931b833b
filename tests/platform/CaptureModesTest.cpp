#include "platform/CaptureModes.h"

#include <gtest/gtest.h>

using namespace verticora;

namespace {

RateSpan only(int rate)
{
    return {{rate, 1}, {rate, 1}};
}

} // namespace

TEST(CaptureModes, takes1280x720InARawFormatFastEnoughForTheHeightCaptureElseMjpeg)
{
    // A typical USB 2 webcam: raw 1280x720 only at 10 or 5 fps, MJPEG up to 30.
    const std::vector<StreamMode> webcam = {
        {StreamFormat::yuyv, 640, 480, {only(30), only(15)}},
        {StreamFormat::yuyv, 1280, 720, {only(10), only(5)}},
        {StreamFormat::mjpeg, 1280, 720, {only(30), only(15), only(5)}},
        {StreamFormat::mjpeg, 1920, 1080, {only(30)}},
    };
    std::optional<StreamMode> mode = chooseStreamMode(webcam);
    ASSERT_TRUE(mode);
    EXPECT_EQ(mode->format, StreamFormat::yuyv);
    EXPECT_EQ(mode->width, 1280);

    std::vector<StreamMode> slowRaw = webcam;
    slowRaw[1].rates = {only(5)};
    mode = chooseStreamMode(slowRaw);
    ASSERT_TRUE(mode);
    EXPECT_EQ(mode->format, StreamFormat::mjpeg);
    EXPECT_EQ(mode->height, 720);

    // No 1280x720: the nearest size in pixels.
    mode = chooseStreamMode({{StreamFormat::yuyv, 640, 480, {only(30)}}, {StreamFormat::yuyv, 1024, 768, {only(15)}},
                             {StreamFormat::yuyv, 1920, 1080, {only(5)}}});
    ASSERT_TRUE(mode);
    EXPECT_EQ(mode->width, 1024);
    EXPECT_FALSE(chooseStreamMode({}));
}

TEST(CaptureModes, asksTheCameraForTheLowestRateThatMeetsTheCadenceAndDropsTheRest)
{
    const std::vector<RateSpan> discrete = {only(30), only(15), only(10), only(5)};
    EXPECT_EQ(planFrameRate(discrete, 3), (RatePlan{{5, 1}, 3}));
    EXPECT_EQ(planFrameRate(discrete, 600.0 / 67), (RatePlan{{10, 1}, 9})) << "the height capture's 9 fps";
    EXPECT_EQ(planFrameRate({only(30)}, 3), (RatePlan{{30, 1}, 3}));
    EXPECT_EQ(planFrameRate({{{1, 1}, {30, 1}}}, 3), (RatePlan{{3, 1}, 0})) << "the camera itself slowed";
    EXPECT_EQ(planFrameRate({only(3)}, 3), (RatePlan{{3, 1}, 0}));
    EXPECT_EQ(planFrameRate({only(2)}, 3), (RatePlan{{2, 1}, 0})) << "too slow a camera runs as fast as it can";
    EXPECT_EQ(planFrameRate({{{15, 2}, {15, 2}}}, 3), (RatePlan{{15, 2}, 3}));
    EXPECT_DOUBLE_EQ(planFrameRate(discrete, 3).deliveredRate(), 3);

    const std::optional<RateSpan> span = deliverableRates(discrete);
    ASSERT_TRUE(span);
    EXPECT_EQ(span->minimum.value(), 1) << "dropping frames reaches any lower rate";
    EXPECT_EQ(span->maximum.value(), 30);
}
