#include "platform/CaptureModes.h"
#include "platform/GstStreamCaps.h"

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

TEST(GstStreamCaps, readsTheFormatsSizesAndRatesACameraOffers)
{
    // As v4l2src describes a USB webcam: MJPEG, raw YUYV, and formats or memory it cannot read.
    const std::vector<StreamMode> modes = streamModesOf(
        "image/jpeg, width=(int)1280, height=(int)720, framerate=(fraction){ 30/1, 15/1 }; "
        "video/x-raw, format=(string)YUY2, width=(int)1280, height=(int)720, framerate=(fraction){ 10/1, 5/1 }; "
        "video/x-raw, format=(string){ NV12, RGB }, width=(int)640, height=(int)480, "
        "framerate=(fraction)[ 1/1, 30/1 ]; "
        "video/x-raw(memory:DMABuf), format=(string)NV12, width=(int)1280, height=(int)720, framerate=(fraction)30/1");
    const std::vector<StreamMode> expected = {
        {StreamFormat::mjpeg, 1280, 720, {only(30), only(15)}},
        {StreamFormat::yuyv, 1280, 720, {only(10), only(5)}},
        {StreamFormat::nv12, 640, 480, {{{1, 1}, {30, 1}}}},
    };
    EXPECT_EQ(modes, expected);

    // A camera of any size in steps takes the one nearest 1280x720 that its steps reach.
    EXPECT_EQ(streamModesOf("video/x-raw, format=(string){ I420, UYVY }, width=(int)[ 48, 1920, 48 ], "
                            "height=(int)[ 120, 1080 ], framerate=(fraction)30000/1001"),
              (std::vector<StreamMode>{{StreamFormat::i420, 1248, 720, {{{30000, 1001}, {30000, 1001}}}},
                                       {StreamFormat::uyvy, 1248, 720, {{{30000, 1001}, {30000, 1001}}}}}));

    for (const char* nothing : {"ANY", "EMPTY", "", "video/x-raw, width=(int)", "audio/x-raw, rate=(int)48000"}) {
        SCOPED_TRACE(nothing);
        EXPECT_TRUE(streamModesOf(nothing).empty());
    }
}

TEST(GstStreamCaps, theCapsAskingForAModeReadBackAsThatModeAtThatRate)
{
    const StreamMode modes[] = {
        {StreamFormat::mjpeg, 1280, 720, {}},
        {StreamFormat::nv12, 640, 480, {}},
        {StreamFormat::yuyv, 1280, 720, {}},
        {StreamFormat::uyvy, 320, 180, {}},
        {StreamFormat::i420, 1920, 1080, {}},
    };
    for (const StreamMode& mode : modes) {
        for (const CameraRate rate : {CameraRate{3, 1}, CameraRate{30000, 1001}}) {
            StreamMode atRate = mode;
            atRate.rates = {{rate, rate}};
            EXPECT_EQ(streamModesOf(capsFor(mode, rate)), std::vector{atRate}) << capsFor(mode, rate);
        }
        EXPECT_EQ(streamModesOf(capsFor(mode, {})), std::vector{mode}) << "no rate: any the camera likes";
    }
}
