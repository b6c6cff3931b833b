#include "analysis/AnalysisFrames.h"

#include "TestFrames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

using namespace verticora;
using verticora::test::Rgb;
using verticora::test::toByte;

namespace {

// A smooth colour field, so that scaling and chroma subsampling barely change it and
// every output pixel can be compared with the field at its centre.
Rgb field(double u, double v)
{
    return {70 + 110 * u, 60 + 120 * v, 190 - 90 * u + 30 * v};
}

struct Yuv {
    double y = 0;
    double u = 0;
    double v = 0;
};

// BT.601 in video range ("420v", "y420", "2vuy", "yuvs") or full range ("420f", "f420").
Yuv toYuv(Rgb c, bool fullRange)
{
    const double luma = 0.299 * c.r + 0.587 * c.g + 0.114 * c.b;
    const double pb = (c.b - luma) / 1.772;
    const double pr = (c.r - luma) / 1.402;
    if (fullRange)
        return {luma, 128 + pb, 128 + pr};
    return {16 + luma * 219 / 255, 128 + pb * 224 / 255, 128 + pr * 224 / 255};
}

// A camera frame of the field in `format`, its planes exactly as large as the rows need.
test::TightFrame cameraFrame(int width, int height, std::uint32_t format)
{
    test::TightFrame frame(width, height, format);
    const auto at = [&](double x, double y) { return field(x / width, y / height); };
    const bool full = isFullRange(format);
    if (format == pixelFormat::bgra) {
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const Rgb c = at(x + 0.5, y + 0.5);
                std::uint8_t* p = frame.pixel(0, x, y, 4);
                p[0] = toByte(c.b);
                p[1] = toByte(c.g);
                p[2] = toByte(c.r);
                p[3] = 255;
            }
        }
    } else if (isNV12(format) || isI420(format)) {
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x)
                *frame.pixel(0, x, y, 1) = toByte(toYuv(at(x + 0.5, y + 0.5), full).y);
        }
        for (int y = 0; y < (height + 1) / 2; ++y) {
            for (int x = 0; x < (width + 1) / 2; ++x) {
                const Yuv c = toYuv(at(2 * x + 1, 2 * y + 1), full);
                // NV12 interleaves the chroma in plane 1; I420 has a plane for each.
                *(isNV12(format) ? frame.pixel(1, x, y, 2) : frame.pixel(1, x, y, 1)) = toByte(c.u);
                *(isNV12(format) ? frame.pixel(1, x, y, 2) + 1 : frame.pixel(2, x, y, 1)) = toByte(c.v);
            }
        }
    } else {
        const bool uyvy = format == pixelFormat::uyvy;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < (width + 1) / 2; ++x) {
                const Yuv chroma = toYuv(at(2 * x + 1, y + 0.5), false);
                const double y0 = toYuv(at(2 * x + 0.5, y + 0.5), false).y;
                const double y1 = toYuv(at(2 * x + 1.5, y + 0.5), false).y;
                std::uint8_t* p = frame.pixel(0, x, y, 4);
                const double order[] = {chroma.u, y0, chroma.v, y1};
                const double yuyvOrder[] = {y0, chroma.u, y1, chroma.v};
                for (int k = 0; k < 4; ++k)
                    p[k] = toByte(uyvy ? order[k] : yuyvOrder[k]);
            }
        }
    }
    return frame;
}

// The largest difference of any channel of `frame` from the field at the pixel centres.
double largestFieldError(const PixelBufferView& frame)
{
    double worst = 0;
    for (int y = 0; y < frame.height(); ++y) {
        const std::uint8_t* row = frame.row(0, y);
        for (int x = 0; x < frame.width(); ++x) {
            const Rgb expected = field((x + 0.5) / frame.width(), (y + 0.5) / frame.height());
            const std::uint8_t* p = row + 4 * x;
            worst = std::max({worst, std::abs(p[0] - expected.b), std::abs(p[1] - expected.g),
                              std::abs(p[2] - expected.r)});
            if (p[3] != 255)
                return 255;
        }
    }
    return worst;
}

constexpr double tolerance = 5.0; // levels of 255

struct Resize {
    int width;
    int height;
    std::uint32_t format;
    int outWidth;
    int outHeight;

    friend void PrintTo(const Resize& value, std::ostream* out)
    {
        *out << value.width << "x" << value.height << " " << fourCharName(value.format);
    }
};

class AnalysisFramesResize : public ::testing::TestWithParam<Resize> {};

} // namespace

TEST_P(AnalysisFramesResize, scalesToAnEvenBGRAFrameAtMost384Wide)
{
    const Resize& c = GetParam();
    AnalysisFrames frames;
    const test::TightFrame camera = cameraFrame(c.width, c.height, c.format);
    const auto out = frames.resized(camera.view());
    ASSERT_TRUE(out);
    EXPECT_EQ(out->format(), pixelFormat::bgra);
    EXPECT_EQ(out->width(), c.outWidth);
    EXPECT_EQ(out->height(), c.outHeight);
    // The fixed-point colour conversion and the box filter's rounding down stay within
    // a few levels.
    if (c.height > 3) {
        EXPECT_LE(largestFieldError(*out), tolerance);
    }
}

INSTANTIATE_TEST_SUITE_P(
    CameraFormats, AnalysisFramesResize,
    ::testing::Values(Resize{1280, 720, pixelFormat::yuv420Video, 384, 216},
                      Resize{1280, 720, pixelFormat::yuv420Full, 384, 216}, Resize{640, 480, pixelFormat::uyvy, 384, 288},
                      Resize{640, 480, pixelFormat::yuyv, 384, 288}, Resize{320, 240, pixelFormat::yuv420Video, 320, 240},
                      Resize{385, 217, pixelFormat::bgra, 384, 216}, Resize{1920, 1080, pixelFormat::bgra, 384, 216},
                      Resize{641, 361, pixelFormat::yuv420Full, 384, 216}, Resize{383, 215, pixelFormat::yuyv, 383, 214},
                      Resize{1000, 3, pixelFormat::yuv420Video, 384, 2}, Resize{1280, 720, pixelFormat::i420Full, 384, 216},
                      Resize{321, 181, pixelFormat::i420Video, 321, 180}),
    [](const auto& info) {
        return std::to_string(info.param.width) + "x" + std::to_string(info.param.height) + "_"
            + fourCharName(info.param.format);
    });

TEST(AnalysisFrames, usesANarrowBGRAFrameAsItIs)
{
    AnalysisFrames frames;
    const test::TightFrame camera = cameraFrame(384, 216, pixelFormat::bgra);
    const PixelBufferView source = camera.view();
    const auto out = frames.resized(source);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->plane(0).base, source.plane(0).base);
    EXPECT_EQ(out->width(), 384);
    EXPECT_EQ(frames.outputBuilds(), 0);
}

TEST(AnalysisFrames, rebuildsTheOutputOnlyWhenTheCameraGeometryChanges)
{
    AnalysisFrames frames;
    const test::TightFrame hd = cameraFrame(1280, 720, pixelFormat::yuv420Video);
    const test::TightFrame fullHd = cameraFrame(1920, 1080, pixelFormat::yuv420Video);
    const test::TightFrame fullHdPacked = cameraFrame(1920, 1080, pixelFormat::yuyv);

    const auto first = frames.resized(hd.view());
    const auto second = frames.resized(hd.view());
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->plane(0).base, second->plane(0).base);
    EXPECT_EQ(frames.outputBuilds(), 1);

    // A camera switch: the first frame of the new size rebuilds, the next ones reuse.
    const auto switched = frames.resized(fullHd.view());
    ASSERT_TRUE(switched);
    EXPECT_EQ(switched->width(), 384);
    EXPECT_EQ(switched->height(), 216);
    EXPECT_EQ(frames.outputBuilds(), 2);
    EXPECT_EQ(frames.sourceWidth(), 1920);
    EXPECT_EQ(frames.sourceHeight(), 1080);
    ASSERT_TRUE(frames.resized(fullHd.view()));
    EXPECT_EQ(frames.outputBuilds(), 2);
    EXPECT_LE(largestFieldError(*frames.resized(fullHd.view())), tolerance);

    // A new pixel format at the same size rebuilds as well.
    ASSERT_TRUE(frames.resized(fullHdPacked.view()));
    EXPECT_EQ(frames.outputBuilds(), 3);
    EXPECT_EQ(frames.format(), pixelFormat::yuyv);
}
