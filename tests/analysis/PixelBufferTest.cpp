#include "analysis/PixelBuffer.h"

#include "analysis/FaceMotionGate.h"
#include "analysis/LandmarkPatchTracker.h"

#include "TestFrames.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

using namespace verticora;

TEST(PixelBufferView, refusesImpossibleGeometryWithAClearError)
{
    std::vector<std::uint8_t> pixels(640 * 480 * 2);
    const PixelPlane luma{pixels.data(), 640};
    const PixelPlane chroma{pixels.data() + 640 * 480, 640};

    const PixelPlane nv12[] = {luma, chroma};
    EXPECT_FALSE(PixelBufferView::geometryError(640, 480, pixelFormat::yuv420Video, nv12));
    EXPECT_NO_THROW(PixelBufferView(640, 480, pixelFormat::yuv420Video, nv12));

    EXPECT_EQ(PixelBufferView::geometryError(0, 480, pixelFormat::bgra, nv12), "frame 0x480 'BGRA' has no pixels.");
    EXPECT_EQ(PixelBufferView::geometryError(640, 480, pixelFormat::yuv420Full, std::span(nv12, 1)),
              "frame 640x480 '420f' is missing plane 1.");
    EXPECT_EQ(PixelBufferView::geometryError(640, 480, pixelFormat::bgra, nv12),
              "frame 640x480 'BGRA': plane 0 has 640 bytes per row, fewer than its 2560.");
    const PixelPlane missingBase[] = {luma, {nullptr, 640}};
    EXPECT_TRUE(PixelBufferView::geometryError(640, 480, pixelFormat::yuv420Video, missingBase));
    EXPECT_EQ(PixelBufferView::geometryError(640, 480, fourCharCode("MJPG"), nv12),
              "frame 640x480 '0x4d4a5047' has a pixel format that cannot be analysed.");
    EXPECT_THROW(PixelBufferView(640, 480, pixelFormat::uyvy, std::span(nv12, 1)), std::invalid_argument);
}

TEST(PixelBuffer, ownsPlanesThatCoverEveryRow)
{
    const PixelBuffer nv12(641, 361, pixelFormat::yuv420Full);
    ASSERT_EQ(nv12.planeCount(), 2u);
    EXPECT_GE(nv12.bytesPerRow(0), 641u);
    EXPECT_GE(nv12.bytesPerRow(1), 642u);
    EXPECT_EQ(PixelBufferView::planeRows(pixelFormat::yuv420Full, 361, 1), 181);
    const PixelBufferView view = nv12.view();
    EXPECT_EQ(view.width(), 641);
    EXPECT_EQ(view.row(1, 180), nv12.planeData(1) + 180 * nv12.bytesPerRow(1));

    EXPECT_EQ(PixelBuffer(3, 2, pixelFormat::yuyv).bytesPerRow(0) % 16, 0u);
    EXPECT_THROW(PixelBuffer(0, 10, pixelFormat::bgra), std::invalid_argument);
    EXPECT_THROW(PixelBuffer(10, 10, 0), std::invalid_argument);
}

namespace {

// A tightly packed frame with texture, so that the tracker seeds.
test::TightFrame texturedFrame(int width, int height, std::uint32_t format)
{
    test::TightFrame frame(width, height, format);
    for (std::size_t i = 0; i < PixelBufferView::planesOf(format); ++i) {
        for (std::size_t k = 0; k < frame.plane(i).size(); ++k)
            frame.plane(i)[k] = std::uint8_t((k * 37) % 251);
    }
    return frame;
}

} // namespace

TEST(PixelBufferView, analysisNeverReadsOutsideTightlyPackedPlanes)
{
    // Faces in every corner and at the edges, where sampling windows are clamped.
    const std::vector<std::vector<Point>> faces = {
        {{0.0, 1.0}, {0.05, 1.0}, {0.02, 0.97}, {0.02, 0.9}},
        {{0.95, 0.1}, {1.0, 0.1}, {0.98, 0.05}, {0.98, 0.0}},
        {{0.4, 0.6}, {0.6, 0.6}, {0.5, 0.5}, {0.5, 0.3}},
        {{0.0, 0.2}, {1.0, 0.2}, {0.5, 0.1}, {0.5, 0.0}},
    };
    int seeded = 0;
    for (const std::uint32_t format :
         {pixelFormat::yuv420Video, pixelFormat::bgra, pixelFormat::yuyv, pixelFormat::i420Full}) {
        for (const auto& [width, height] : {std::pair(97, 61), std::pair(24, 24), std::pair(513, 31)}) {
            const test::TightFrame frame = texturedFrame(width, height, format);
            for (const auto& points : faces) {
                FaceMotionGate gate;
                gate.remember(frame.view(), points);
                (void)gate.interval(frame.view());

                LandmarkPatchTracker tracker;
                const Rect box{0.3, 0.25, 0.4, 0.4};
                if (tracker.remember(frame.view(), box, points, 0)) {
                    ++seeded;
                    (void)tracker.track(frame.view(), 0.1);
                }
            }
        }
    }
    EXPECT_GT(seeded, 0);
}
