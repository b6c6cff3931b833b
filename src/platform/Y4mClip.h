#pragma once

#include "analysis/PixelBuffer.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>

namespace verticora {

// A clip that cannot be read or written. The message names the file and, for a frame,
// its index and time; `frameIndex` is none for the stream header and for file errors.
class ClipError : public std::runtime_error {
public:
    ClipError(const std::string& message, std::optional<std::int64_t> frameIndex)
        : std::runtime_error(message), m_frameIndex(frameIndex)
    {
    }

    [[nodiscard]] std::optional<std::int64_t> frameIndex() const { return m_frameIndex; }

private:
    std::optional<std::int64_t> m_frameIndex;
};

// Frames per second as the clip header states it: numerator:denominator.
struct FrameRate {
    std::int64_t numerator = 30;
    std::int64_t denominator = 1;

    [[nodiscard]] double framesPerSecond() const
    {
        return static_cast<double>(numerator) / static_cast<double>(denominator);
    }
    // Presentation time of frame `index` in seconds, the first frame at 0.
    [[nodiscard]] double timeOf(std::int64_t index) const
    {
        return static_cast<double>(index) * static_cast<double>(denominator) / static_cast<double>(numerator);
    }

    friend bool operator==(const FrameRate&, const FrameRate&) = default;
};

struct ClipFrame {
    PixelBuffer buffer;        // NV12: '420v', or '420f' for a full-range clip
    std::int64_t index = 0;    // 0 for the first frame
    double presentationTime = 0; // seconds from the first frame
};

// Reads a YUV4MPEG2 (.y4m) clip one frame at a time. 4:2:0 clips (C420jpeg, C420paldv,
// C420mpeg2, C420, or no C tag) and mono clips (Cmono) are read; frames are delivered as
// NV12, mono ones with neutral chroma. Interlacing and pixel aspect tags are ignored.
// Every problem throws ClipError, and a reader that has failed keeps failing with the
// same error, so no caller ever sees half a frame.
class Y4mReader {
public:
    static constexpr int maximumSide = 8192;

    explicit Y4mReader(const std::filesystem::path& path);

    [[nodiscard]] const std::filesystem::path& path() const { return m_path; }
    [[nodiscard]] int width() const { return m_width; }
    [[nodiscard]] int height() const { return m_height; }
    [[nodiscard]] FrameRate frameRate() const { return m_frameRate; }
    // '420v', or '420f' when the header says XCOLORRANGE=FULL.
    [[nodiscard]] std::uint32_t pixelFormat() const { return m_pixelFormat; }
    // The C tag as written ("420jpeg", "mono", ...), "420jpeg" when there is none.
    [[nodiscard]] const std::string& colourspace() const { return m_colourspace; }

    // The next frame, or none at the clean end of the clip.
    [[nodiscard]] std::optional<ClipFrame> next();
    // How many frames next() has delivered.
    [[nodiscard]] std::int64_t framesRead() const { return m_framesRead; }

private:
    [[noreturn]] void fail(const std::string& what, std::optional<std::int64_t> frame);
    [[noreturn]] void failFrame(const std::string& what);
    void readHeader();
    [[nodiscard]] bool readFrameHeader();
    // Reads one frame's planes into m_planes, or fails naming the plane that is cut short.
    void readPlanes(std::size_t lumaBytes, std::size_t chromaBytes);

    std::filesystem::path m_path;
    std::ifstream m_file;
    int m_width = 0;
    int m_height = 0;
    FrameRate m_frameRate;
    std::uint32_t m_pixelFormat = pixelFormat::yuv420Video;
    std::string m_colourspace = "420jpeg";
    bool m_mono = false;
    std::int64_t m_framesRead = 0;
    std::optional<ClipError> m_failure;
    std::vector<std::uint8_t> m_planes; // one frame's planar Y, U and V as read
};

// Writes a 4:2:0 YUV4MPEG2 clip (C420jpeg) from NV12 or BGRA frames. The clip goes to a
// temporary file beside the target and replaces it only in finish(), so a failed or
// abandoned write leaves any earlier file untouched. BGRA frames are converted with the
// BT.601 matrix into the clip's range.
class Y4mWriter {
public:
    Y4mWriter(const std::filesystem::path& path, int width, int height, FrameRate rate, bool fullRange = false);
    ~Y4mWriter();
    Y4mWriter(const Y4mWriter&) = delete;
    Y4mWriter& operator=(const Y4mWriter&) = delete;

    // Throws ClipError for a frame of another size, an NV12 frame of the other range,
    // another pixel format, or a write error.
    void write(const PixelBufferView& frame);
    // Flushes and moves the clip into place.
    void finish();

    [[nodiscard]] std::int64_t framesWritten() const { return m_framesWritten; }

private:
    [[noreturn]] void fail(const std::string& what);
    void writeBytes(const std::uint8_t* data, std::size_t bytes);
    void discardTemporary() noexcept;
    void convertBgra(const PixelBufferView& frame);
    void splitNv12(const PixelBufferView& frame);

    std::filesystem::path m_path;
    std::filesystem::path m_temporaryPath;
    std::ofstream m_file;
    int m_width;
    int m_height;
    FrameRate m_rate;
    bool m_fullRange;
    bool m_finished = false;
    std::int64_t m_framesWritten = 0;
    std::vector<std::uint8_t> m_planes; // one frame's Y, U and V planes
};

} // namespace verticora
