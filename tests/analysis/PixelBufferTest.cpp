#include "analysis/PixelBuffer.h"

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
