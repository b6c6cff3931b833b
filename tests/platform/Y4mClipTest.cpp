#include "platform/Y4mClip.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

using namespace verticora;
namespace fs = std::filesystem;

namespace {

class Y4mClipTest : public ::testing::Test {
protected:
    [[nodiscard]] fs::path file(const std::string& name) const
    {
        return m_folder.filePath(QString::fromStdString(name)).toStdString();
    }

    fs::path writeBytes(const std::string& name, const std::string& bytes) const
    {
        std::ofstream(file(name), std::ios::binary) << bytes;
        return file(name);
    }

private:
    QTemporaryDir m_folder;
};

std::string frameBytes(int width, int height, char value = '\x50')
{
    const std::size_t chroma = static_cast<std::size_t>((width + 1) / 2) * static_cast<std::size_t>((height + 1) / 2);
    return "FRAME\n" + std::string(static_cast<std::size_t>(width * height) + 2 * chroma, value);
}

// The message of the error that opening and reading the whole clip raises.
std::string readError(const fs::path& clip, std::optional<std::int64_t>* frame = nullptr)
{
    try {
        Y4mReader reader(clip);
        while (reader.next()) {
        }
    } catch (const ClipError& error) {
        if (frame)
            *frame = error.frameIndex();
        return error.what();
    }
    return "no error";
}

} // namespace

TEST_F(Y4mClipTest, bgraFramesAreWrittenWithTheBt601VideoMatrix)
{
    // Four 2x2 blocks: white, black, mid grey, pure red.
    PixelBuffer bgra(8, 2, pixelFormat::bgra);
    const std::uint8_t colours[4][3] = {{255, 255, 255}, {0, 0, 0}, {128, 128, 128}, {0, 0, 255}}; // B, G, R
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 8; ++x) {
            std::uint8_t* p = bgra.row(0, y) + 4 * x;
            std::copy_n(colours[x / 2], 3, p);
            p[3] = 255;
        }
    }
    const fs::path clip = file("bgra.y4m");
    Y4mWriter writer(clip, 8, 2, FrameRate{10, 1});
    writer.write(bgra.view());
    writer.finish();

    auto frame = Y4mReader(clip).next();
    ASSERT_TRUE(frame);
    const std::uint8_t* luma = frame->buffer.row(0, 0);
    EXPECT_EQ(luma[0], 235);
    EXPECT_EQ(luma[2], 16);
    EXPECT_EQ(luma[4], 126);
    EXPECT_EQ(luma[6], 81);
    const std::uint8_t* chroma = frame->buffer.row(1, 0);
    EXPECT_EQ(chroma[0], 128); // white: U
    EXPECT_EQ(chroma[1], 128); //        V
    EXPECT_EQ(chroma[6], 90);  // red:   U
    EXPECT_EQ(chroma[7], 240); //        V
}

class Y4mColourspaceTag : public Y4mClipTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(Y4mColourspaceTag, isReadAs420WithOtherTagsIgnored)
{
    const std::string& tag = GetParam();
    const fs::path clip = writeBytes("tag.y4m", "YUV4MPEG2 W4 H2 F25:1 Ip A0:0 " + tag + " XYSCSS=420JPEG\n"
                                                    + frameBytes(4, 2) + frameBytes(4, 2, '\x60'));
    Y4mReader reader(clip);
    EXPECT_EQ(reader.colourspace(), tag.empty() ? "420jpeg" : tag.substr(1));
    auto first = reader.next();
    auto second = reader.next();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(second->buffer.row(0, 1)[3], 0x60);
    EXPECT_EQ(second->buffer.row(1, 0)[3], 0x60);
    EXPECT_DOUBLE_EQ(second->presentationTime, 0.04);
    EXPECT_FALSE(reader.next());
}

INSTANTIATE_TEST_SUITE_P(Tags, Y4mColourspaceTag, ::testing::Values("C420jpeg", "C420paldv", "C420mpeg2", "C420", ""),
                         [](const auto& info) { return info.param.empty() ? std::string("none") : info.param.substr(1); });

TEST_F(Y4mClipTest, readsMonoIgnoringFrameParametersAndUnknownTags)
{
    // Frame parameters and unknown tags are ignored.
    const fs::path mono = writeBytes("mono.y4m", "YUV4MPEG2 W4 H2 F25:1 Cmono XFUTURE=1 Zsomething\nFRAME Ip XTAG=1\n"
                                                     + std::string(8, '\x70'));
    auto frame = Y4mReader(mono).next();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->buffer.row(0, 1)[3], 0x70);
    EXPECT_EQ(frame->buffer.row(1, 0)[0], 128);
    EXPECT_EQ(frame->buffer.row(1, 0)[3], 128);
}

namespace {

struct Damage {
    const char* name;
    std::string bytes;
    std::string message;
};

std::string damageName(const ::testing::TestParamInfo<Damage>& info)
{
    return info.param.name;
}

class Y4mDamagedHeader : public Y4mClipTest, public ::testing::WithParamInterface<Damage> {};
class Y4mDamagedFrame : public Y4mClipTest, public ::testing::WithParamInterface<Damage> {};

} // namespace

TEST_P(Y4mDamagedHeader, isRefusedWithOneClearError)
{
    const fs::path clip = writeBytes("damaged.y4m", GetParam().bytes);
    std::optional<std::int64_t> frame = 7;
    EXPECT_EQ(readError(clip, &frame), clip.string() + ": " + GetParam().message);
    EXPECT_FALSE(frame);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, Y4mDamagedHeader,
    ::testing::Values(
        Damage{"empty", "", "is empty, not a YUV4MPEG2 clip."},
        Damage{"otherFormat", "RIFF....WAVEfmt \n", "is not a YUV4MPEG2 clip: it does not start with \"YUV4MPEG2\"."},
        Damage{"cutShort", "YUV4MPEG2 W4 H2 F25:1", "is not a YUV4MPEG2 clip: its header is cut short."},
        Damage{"endless", "YUV4MPEG2 " + std::string(5000, 'X'), "is not a YUV4MPEG2 clip: its header line does not end."},
        Damage{"noWidth", "YUV4MPEG2 H2 F25:1\n", "has a damaged header: it does not give the frame size."},
        Damage{"widthNotANumber", "YUV4MPEG2 W4x H2 F25:1\n", "has a damaged header: the width \"4x\" is not a number."},
        Damage{"hugeHeight", "YUV4MPEG2 W4 H99999999999 F25:1\n",
               "has a frame size of 4x99999999999, outside 1 to 8192 pixels per side."},
        Damage{"noRate", "YUV4MPEG2 W4 H2\n", "has a damaged header: it does not give the frame rate."},
        Damage{"zeroRate", "YUV4MPEG2 W4 H2 F0:0\n",
               "has a damaged header: the frame rate \"0:0\" is not a positive ratio."},
        Damage{"colourspace444", "YUV4MPEG2 W4 H2 F25:1 C444\n",
               "uses colourspace C444, which cannot be read (only 4:2:0 and mono clips)."}),
    damageName);

TEST_F(Y4mClipTest, aMissingClipCannotBeOpened)
{
    EXPECT_EQ(readError(file("absent.y4m")), file("absent.y4m").string() + ": cannot be opened: No such file or directory.");
}

// The third frame is damaged: the reader names it and never delivers half of it.
TEST_P(Y4mDamagedFrame, isNamedAndNeverHalfDelivered)
{
    const std::string header = "YUV4MPEG2 W4 H2 F10:1 C420jpeg\n";
    const fs::path clip = writeBytes("damaged.y4m", header + frameBytes(4, 2) + frameBytes(4, 2) + GetParam().bytes);
    const std::string message = clip.string() + ": " + GetParam().message;
    Y4mReader reader(clip);
    ASSERT_TRUE(reader.next());
    ASSERT_TRUE(reader.next());
    try {
        (void)reader.next();
        ADD_FAILURE() << "no error";
    } catch (const ClipError& error) {
        EXPECT_EQ(std::string(error.what()), message);
        EXPECT_EQ(error.frameIndex(), 2);
    }
    // A failed reader keeps failing the same way instead of reading on from the middle.
    try {
        (void)reader.next();
        ADD_FAILURE() << "a failed reader delivered another frame";
    } catch (const ClipError& error) {
        EXPECT_EQ(std::string(error.what()), message);
    }
    EXPECT_EQ(reader.framesRead(), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, Y4mDamagedFrame,
    ::testing::Values(
        Damage{"shortLuma", "FRAME\n" + std::string(5, 'y'),
               "frame 2 (at 0.200 s) is cut short in its luma plane (5 of 8 bytes)."},
        Damage{"shortU", "FRAME\n" + std::string(9, 'y'), "frame 2 (at 0.200 s) is cut short in its U plane (1 of 2 bytes)."},
        Damage{"shortV", "FRAME\n" + std::string(11, 'y'),
               "frame 2 (at 0.200 s) is cut short in its V plane (1 of 2 bytes)."},
        Damage{"shortHeader", "FRA", "frame 2 (at 0.200 s) is cut short in its frame header."},
        Damage{"notAFrame", "FRAMX\n" + std::string(12, 'y'), "frame 2 (at 0.200 s) does not start with \"FRAME\"."},
        Damage{"endlessHeader", "FRAME " + std::string(2000, 'x') + "\n",
               "frame 2 (at 0.200 s) has a frame header that does not end."}),
    damageName);

TEST_F(Y4mClipTest, writerRefusesFramesThatDoNotFit)
{
    const fs::path clip = file("refused.y4m");
    Y4mWriter writer(clip, 8, 4, FrameRate{10, 1});
    writer.write(PixelBuffer(8, 4, pixelFormat::yuv420Video).view());

    const auto refusal = [&](const PixelBuffer& frame) {
        try {
            writer.write(frame.view());
        } catch (const ClipError& error) {
            EXPECT_EQ(error.frameIndex(), 1);
            return std::string(error.what());
        }
        return std::string("accepted");
    };
    EXPECT_EQ(refusal(PixelBuffer(6, 4, pixelFormat::bgra)), clip.string() + ": frame 1 is 6x4, not 8x4.");
    EXPECT_EQ(refusal(PixelBuffer(8, 4, pixelFormat::yuv420Full)),
              clip.string() + ": frame 1 is NV12 of the other colour range than the clip's.");
    EXPECT_EQ(refusal(PixelBuffer(8, 4, pixelFormat::uyvy)),
              clip.string() + ": frame 1 has pixel format '2vuy'; only NV12 and BGRA frames can be written.");
    writer.finish();

    Y4mReader reader(clip);
    EXPECT_TRUE(reader.next());
    EXPECT_FALSE(reader.next());
}

TEST_F(Y4mClipTest, anAbandonedWriteLeavesTheEarlierClipInPlace)
{
    const fs::path clip = writeBytes("kept.y4m", "YUV4MPEG2 W4 H2 F10:1\n" + frameBytes(4, 2));
    {
        Y4mWriter writer(clip, 4, 2, FrameRate{10, 1});
        writer.write(PixelBuffer(4, 2, pixelFormat::yuv420Video).view());
        EXPECT_TRUE(fs::exists(clip.string() + ".part"));
    }
    EXPECT_FALSE(fs::exists(clip.string() + ".part"));
    Y4mReader reader(clip);
    auto frame = reader.next();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->buffer.row(0, 0)[0], 0x50);

    EXPECT_THROW(Y4mWriter(file("missing-folder") / "clip.y4m", 4, 2, FrameRate{10, 1}), ClipError);
    EXPECT_THROW(Y4mWriter(file("zero.y4m"), 0, 2, FrameRate{10, 1}), ClipError);
    EXPECT_FALSE(fs::exists(file("zero.y4m.part")));
}
