#include "platform/JpegDecoder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

using namespace verticora;

namespace {

constexpr int analysisWidth = 384;

// Levels of the picture's two halves, written as YCbCr so that they come back unconverted.
struct Levels {
    int y, cb, cr;
};
constexpr Levels left{60, 90, 200};
constexpr Levels right{200, 160, 70};

// A JPEG whose left half and right half have the levels above, with the given sampling of
// luma against chroma (2x2 is 4:2:0, 2x1 is 4:2:2, 1x1 is 4:4:4), or grey, or progressive.
std::vector<std::uint8_t> encode(int width, int height, int hSampling, int vSampling, bool grey = false,
                                 bool progressive = false)
{
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* bytes = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &bytes, &size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = grey ? 1 : 3;
    info.in_color_space = grey ? JCS_GRAYSCALE : JCS_YCbCr;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 95, TRUE);
    info.comp_info[0].h_samp_factor = hSampling;
    info.comp_info[0].v_samp_factor = vSampling;
    if (progressive)
        jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    std::vector<JSAMPLE> row(static_cast<std::size_t>(width) * static_cast<std::size_t>(info.input_components));
    for (int x = 0; x < width; ++x) {
        const Levels& levels = x < width / 2 ? left : right;
        JSAMPLE* pixel = &row[static_cast<std::size_t>(x * info.input_components)];
        pixel[0] = static_cast<JSAMPLE>(levels.y);
        if (!grey) {
            pixel[1] = static_cast<JSAMPLE>(levels.cb);
            pixel[2] = static_cast<JSAMPLE>(levels.cr);
        }
    }
    while (info.next_scanline < info.image_height) {
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    std::vector<std::uint8_t> jpeg(bytes, bytes + size);
    std::free(bytes);
    jpeg_destroy_compress(&info);
    return jpeg;
}

int at(const PixelBufferView& frame, std::size_t plane, int x, int y)
{
    return frame.row(plane, y)[x];
}

} // namespace

namespace {

struct JpegCase {
    const char* name;
    int width, height, hSampling, vSampling;
    int decodedWidth, decodedHeight;
};

class JpegDecoderScale : public ::testing::TestWithParam<JpegCase> {};

} // namespace

TEST_P(JpegDecoderScale, decodesStraightToFullRangeI420AtTheSmallestScaleStillAsWideAsTheAnalysisFrame)
{
    const JpegCase& c = GetParam();
    JpegDecoder decoder(analysisWidth);
    const std::optional<JpegDecoder::Frame> decoded = decoder.decode(encode(c.width, c.height, c.hSampling, c.vSampling));
    ASSERT_TRUE(decoded);
    const PixelBufferView& image = decoded->image;
    EXPECT_EQ(image.format(), pixelFormat::i420Full);
    ASSERT_EQ(image.width(), c.decodedWidth);
    ASSERT_EQ(image.height(), c.decodedHeight);
    ASSERT_EQ(image.planeCount(), 3u);
    for (int y : {0, image.height() / 2, image.height() - 1}) {
        EXPECT_NEAR(at(image, 0, image.width() / 8, y), left.y, 3);
        EXPECT_NEAR(at(image, 0, image.width() - 1, y), right.y, 3);
        const int chromaY = y / 2;
        const int chromaRight = (image.width() + 1) / 2 - 1;
        EXPECT_NEAR(at(image, 1, image.width() / 16, chromaY), left.cb, 3);
        EXPECT_NEAR(at(image, 2, image.width() / 16, chromaY), left.cr, 3);
        EXPECT_NEAR(at(image, 1, chromaRight, chromaY), right.cb, 3);
        EXPECT_NEAR(at(image, 2, chromaRight, chromaY), right.cr, 3);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Jpegs, JpegDecoderScale,
    ::testing::Values(JpegCase{"chroma420", 1280, 720, 2, 2, 640, 360}, // libjpeg widens its chroma while scaling
                      JpegCase{"chroma422", 1280, 720, 2, 1, 640, 360}, // as most webcams send it
                      JpegCase{"chroma444", 1280, 720, 1, 1, 640, 360},
                      JpegCase{"fullHdToAQuarter", 1920, 1080, 2, 1, 480, 270},
                      JpegCase{"halfWouldBeTooNarrow", 640, 480, 2, 1, 640, 480},
                      JpegCase{"oddChromaSizes", 330, 190, 2, 2, 330, 190}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JpegDecoder, givesGreyJpegsNeutralChroma)
{
    JpegDecoder decoder(analysisWidth);
    const std::optional<JpegDecoder::Frame> decoded = decoder.decode(encode(1280, 720, 1, 1, true));
    ASSERT_TRUE(decoded);
    const PixelBufferView& image = decoded->image;
    ASSERT_EQ(image.width(), 640);
    EXPECT_NEAR(at(image, 0, 10, 10), left.y, 3);
    EXPECT_EQ(at(image, 1, 319, 179), 128);
    EXPECT_EQ(at(image, 2, 0, 0), 128);
}

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes goodJpeg()
{
    return encode(1280, 720, 2, 1);
}

// A frame size no camera sends.
Bytes withHugeHeader()
{
    Bytes bytes = goodJpeg();
    for (std::size_t i = 0; i + 8 < bytes.size(); ++i) {
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {
            bytes[i + 5] = bytes[i + 7] = 0xEA;
            bytes[i + 6] = bytes[i + 8] = 0x60;
            break;
        }
    }
    return bytes;
}

// Its quantisation tables left out: it must not borrow those of the frame decoded before.
Bytes withoutTables()
{
    const Bytes good = goodJpeg();
    Bytes bytes(good.begin(), good.begin() + 2);
    for (std::size_t i = 2; i + 4 < good.size();) {
        const std::size_t end = i + 2 + (std::size_t(good[i + 2]) << 8 | good[i + 3]);
        if (good[i + 1] == 0xDA) {
            bytes.insert(bytes.end(), good.begin() + std::ptrdiff_t(i), good.end());
            break;
        }
        if (good[i + 1] != 0xDB)
            bytes.insert(bytes.end(), good.begin() + std::ptrdiff_t(i), good.begin() + std::ptrdiff_t(end));
        i = end;
    }
    return bytes;
}

struct DamagedJpeg {
    const char* name;
    Bytes (*bytes)();
};

class JpegDecoderRefusal : public ::testing::TestWithParam<DamagedJpeg> {};

} // namespace

TEST_P(JpegDecoderRefusal, refusesTheFrameWithoutStoppingAndDecodesTheNextOne)
{
    const Bytes good = goodJpeg();
    JpegDecoder decoder(analysisWidth);
    ASSERT_TRUE(decoder.decode(good));
    EXPECT_FALSE(decoder.decode(GetParam().bytes()));
    const std::optional<JpegDecoder::Frame> next = decoder.decode(good);
    ASSERT_TRUE(next);
    EXPECT_NEAR(at(next->image, 0, 639, 359), right.y, 3);
}

INSTANTIATE_TEST_SUITE_P(
    Damage, JpegDecoderRefusal,
    ::testing::Values(DamagedJpeg{"empty", [] { return Bytes{}; }}, DamagedJpeg{"startOnly", [] { return Bytes{0xFF, 0xD8}; }},
                      DamagedJpeg{"cutShort",
                                  [] {
                                      const Bytes good = goodJpeg();
                                      return Bytes(good.begin(), good.begin() + std::ptrdiff_t(good.size() / 2));
                                  }},
                      DamagedJpeg{"endedEarly", // an end-of-image marker amid the picture data
                                  [] {
                                      Bytes bytes = goodJpeg();
                                      bytes[bytes.size() / 2] = 0xFF;
                                      bytes[bytes.size() / 2 + 1] = 0xD9;
                                      return bytes;
                                  }},
                      DamagedJpeg{"noHeader",
                                  [] {
                                      const Bytes good = goodJpeg();
                                      return Bytes(good.begin() + 200, good.end());
                                  }},
                      DamagedJpeg{"hugeHeader", withHugeHeader},
                      DamagedJpeg{"noise", [] { return Bytes(4096, 0x5A); }},
                      // No camera sends it, and it is buffered whole.
                      DamagedJpeg{"progressive", [] { return encode(1280, 720, 2, 1, false, true); }},
                      DamagedJpeg{"noTables", withoutTables}),
    [](const auto& info) { return std::string(info.param.name); });
