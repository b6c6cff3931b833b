#include "platform/Y4mClip.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <system_error>
#include <vector>

namespace verticora {

namespace {

constexpr std::string_view streamMagic = "YUV4MPEG2";
constexpr std::string_view frameMagic = "FRAME";
// Real headers are a few dozen bytes; the limits only stop a damaged file from being
// read as one endless line.
constexpr std::size_t maximumHeaderBytes = 4096;
constexpr std::size_t maximumFrameHeaderBytes = 1024;
constexpr std::uint8_t neutralChroma = 128;

std::string systemReason()
{
    return std::strerror(errno);
}

// A decimal integer of at most 18 digits (no sign), nothing else.
std::optional<std::int64_t> parseCount(std::string_view text)
{
    if (text.empty() || text.size() > 18)
        return std::nullopt;
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::vector<std::string_view> splitOnSpaces(std::string_view line)
{
    std::vector<std::string_view> tokens;
    while (!line.empty()) {
        const std::size_t space = line.find(' ');
        const std::string_view token = line.substr(0, space);
        if (!token.empty())
            tokens.push_back(token);
        if (space == std::string_view::npos)
            break;
        line.remove_prefix(space + 1);
    }
    return tokens;
}

bool isReadable420(std::string_view colourspace)
{
    return colourspace == "420jpeg" || colourspace == "420paldv" || colourspace == "420mpeg2" || colourspace == "420";
}

// One 4:2:0 frame as a clip stores it: the Y plane, then U, then V, each tightly packed;
// the chroma planes have half the rows and columns, rounded up.
struct PlanarLayout {
    std::size_t width;
    std::size_t height;
    std::size_t chromaWidth;
    std::size_t chromaHeight;

    PlanarLayout(int frameWidth, int frameHeight)
        : width(static_cast<std::size_t>(frameWidth)), height(static_cast<std::size_t>(frameHeight)),
          chromaWidth((width + 1) / 2), chromaHeight((height + 1) / 2)
    {
    }

    [[nodiscard]] std::size_t lumaBytes() const { return width * height; }
    [[nodiscard]] std::size_t chromaBytes() const { return chromaWidth * chromaHeight; }
    [[nodiscard]] std::size_t frameBytes() const { return lumaBytes() + 2 * chromaBytes(); }
    template <typename Byte>
    [[nodiscard]] Byte* u(Byte* frame) const
    {
        return frame + lumaBytes();
    }
    template <typename Byte>
    [[nodiscard]] Byte* v(Byte* frame) const
    {
        return frame + lumaBytes() + chromaBytes();
    }
};

std::string formatTime(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

std::uint8_t clampToByte(float value)
{
    return static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

// BT.601 luma and chroma of one RGB colour, in video (16-235) or full (0-255) range.
struct Bt601 {
    bool fullRange;

    [[nodiscard]] float luma(float r, float g, float b) const
    {
        if (fullRange)
            return 0.299f * r + 0.587f * g + 0.114f * b;
        return 16.0f + (65.481f * r + 128.553f * g + 24.966f * b) / 255.0f;
    }
    [[nodiscard]] float blueDifference(float r, float g, float b) const
    {
        if (fullRange)
            return 128.0f - 0.168736f * r - 0.331264f * g + 0.5f * b;
        return 128.0f + (-37.797f * r - 74.203f * g + 112.0f * b) / 255.0f;
    }
    [[nodiscard]] float redDifference(float r, float g, float b) const
    {
        if (fullRange)
            return 128.0f + 0.5f * r - 0.418688f * g - 0.081312f * b;
        return 128.0f + (112.0f * r - 93.786f * g - 18.214f * b) / 255.0f;
    }
};

} // namespace

// ---- reading -------------------------------------------------------------------------

Y4mReader::Y4mReader(const std::filesystem::path& path) : m_path(path)
{
    m_file.open(path, std::ios::binary);
    if (!m_file)
        fail("cannot be opened: " + systemReason() + ".", std::nullopt);
    readHeader();
}

void Y4mReader::fail(const std::string& what, std::optional<std::int64_t> frame)
{
    m_failure.emplace(m_path.string() + ": " + what, frame);
    throw *m_failure;
}

void Y4mReader::failFrame(const std::string& what)
{
    fail("frame " + std::to_string(m_framesRead) + " (at " + formatTime(m_frameRate.timeOf(m_framesRead)) + " s) "
             + what,
         m_framesRead);
}

void Y4mReader::readHeader()
{
    std::string line;
    for (char c; m_file.get(c) && c != '\n';) {
        if (line.size() == maximumHeaderBytes)
            fail("is not a YUV4MPEG2 clip: its header line does not end.", std::nullopt);
        line.push_back(c);
    }
    if (!m_file) {
        fail(line.empty() ? "is empty, not a YUV4MPEG2 clip." : "is not a YUV4MPEG2 clip: its header is cut short.",
             std::nullopt);
    }

    const std::vector<std::string_view> tokens = splitOnSpaces(line);
    if (tokens.empty() || tokens.front() != streamMagic)
        fail("is not a YUV4MPEG2 clip: it does not start with \"YUV4MPEG2\".", std::nullopt);

    std::optional<std::int64_t> width;
    std::optional<std::int64_t> height;
    std::optional<FrameRate> rate;
    for (std::size_t i = 1; i < tokens.size(); ++i) {
        const char tag = tokens[i].front();
        const std::string_view value = tokens[i].substr(1);
        switch (tag) {
        case 'W':
            width = parseCount(value);
            if (!width)
                fail("has a damaged header: the width \"" + std::string(value) + "\" is not a number.", std::nullopt);
            break;
        case 'H':
            height = parseCount(value);
            if (!height)
                fail("has a damaged header: the height \"" + std::string(value) + "\" is not a number.", std::nullopt);
            break;
        case 'F': {
            const std::size_t colon = value.find(':');
            const auto numerator = parseCount(value.substr(0, colon));
            const auto denominator =
                colon == std::string_view::npos ? std::nullopt : parseCount(value.substr(colon + 1));
            if (!numerator || !denominator || *numerator <= 0 || *denominator <= 0) {
                fail("has a damaged header: the frame rate \"" + std::string(value) + "\" is not a positive ratio.",
                     std::nullopt);
            }
            rate = FrameRate{*numerator, *denominator};
            break;
        }
        case 'C':
            m_colourspace = std::string(value);
            break;
        case 'X':
            if (value == "COLORRANGE=FULL")
                m_pixelFormat = pixelFormat::yuv420Full;
            break;
        default: // interlacing, pixel aspect and future tags do not change how frames are read
            break;
        }
    }

    if (!width || !height)
        fail("has a damaged header: it does not give the frame size.", std::nullopt);
    if (*width < 1 || *width > maximumSide || *height < 1 || *height > maximumSide) {
        fail("has a frame size of " + std::to_string(*width) + "x" + std::to_string(*height)
                 + ", outside 1 to " + std::to_string(maximumSide) + " pixels per side.",
             std::nullopt);
    }
    if (!rate)
        fail("has a damaged header: it does not give the frame rate.", std::nullopt);
    m_mono = m_colourspace == "mono";
    if (!m_mono && !isReadable420(m_colourspace)) {
        fail("uses colourspace C" + m_colourspace + ", which cannot be read (only 4:2:0 and mono clips).",
             std::nullopt);
    }
    m_width = static_cast<int>(*width);
    m_height = static_cast<int>(*height);
    m_frameRate = *rate;
}

bool Y4mReader::readFrameHeader()
{
    std::string line;
    char c = 0;
    if (!m_file.get(c))
        return false; // clean end: the previous frame was the last
    do {
        if (c == '\n')
            break;
        if (line.size() == maximumFrameHeaderBytes)
            failFrame("has a frame header that does not end.");
        line.push_back(c);
    } while (m_file.get(c));
    if (c != '\n')
        failFrame("is cut short in its frame header.");
    if (line.compare(0, frameMagic.size(), frameMagic) != 0
        || (line.size() > frameMagic.size() && line[frameMagic.size()] != ' ')) {
        failFrame("does not start with \"FRAME\".");
    }
    return true;
}

void Y4mReader::readPlanes(std::size_t lumaBytes, std::size_t chromaBytes)
{
    const std::size_t total = lumaBytes + 2 * chromaBytes;
    m_planes.resize(total);
    m_file.read(reinterpret_cast<char*>(m_planes.data()), static_cast<std::streamsize>(total));
    const auto got = static_cast<std::size_t>(m_file.gcount());
    if (got == total)
        return;
    std::string plane = "luma";
    std::size_t planeStart = 0;
    std::size_t planeBytes = lumaBytes;
    if (got >= lumaBytes) {
        const bool inV = got >= lumaBytes + chromaBytes;
        plane = inV ? "V" : "U";
        planeStart = inV ? lumaBytes + chromaBytes : lumaBytes;
        planeBytes = chromaBytes;
    }
    failFrame("is cut short in its " + plane + " plane (" + std::to_string(got - planeStart) + " of "
              + std::to_string(planeBytes) + " bytes).");
}

std::optional<ClipFrame> Y4mReader::next()
{
    if (m_failure)
        throw *m_failure;
    if (!readFrameHeader())
        return std::nullopt;

    const PlanarLayout layout(m_width, m_height);
    readPlanes(layout.lumaBytes(), m_mono ? 0 : layout.chromaBytes());

    PixelBuffer buffer(m_width, m_height, m_pixelFormat);
    for (int y = 0; y < m_height; ++y)
        std::copy_n(m_planes.data() + static_cast<std::size_t>(y) * layout.width, layout.width, buffer.row(0, y));
    const std::size_t cw = layout.chromaWidth;
    for (std::size_t y = 0; y < layout.chromaHeight; ++y) {
        std::uint8_t* out = buffer.row(1, static_cast<int>(y));
        if (m_mono) {
            std::fill_n(out, 2 * cw, neutralChroma);
            continue;
        }
        const std::uint8_t* u = layout.u(m_planes.data()) + y * cw;
        const std::uint8_t* v = layout.v(m_planes.data()) + y * cw;
        for (std::size_t x = 0; x < cw; ++x) {
            out[2 * x] = u[x];
            out[2 * x + 1] = v[x];
        }
    }

    const std::int64_t index = m_framesRead++;
    return ClipFrame{std::move(buffer), index, m_frameRate.timeOf(index)};
}

// ---- writing -------------------------------------------------------------------------

Y4mWriter::Y4mWriter(const std::filesystem::path& path, int width, int height, FrameRate rate, bool fullRange)
    : m_path(path), m_temporaryPath(path.string() + ".part"), m_width(width), m_height(height), m_rate(rate),
      m_fullRange(fullRange)
{
    if (width < 1 || width > Y4mReader::maximumSide || height < 1 || height > Y4mReader::maximumSide)
        fail("cannot hold frames of " + std::to_string(width) + "x" + std::to_string(height) + " pixels.");
    if (rate.numerator <= 0 || rate.denominator <= 0)
        fail("needs a positive frame rate.");
    m_file.open(m_temporaryPath, std::ios::binary | std::ios::trunc);
    if (!m_file)
        fail("cannot be created: " + systemReason() + ".");
    const std::string header = std::string(streamMagic) + " W" + std::to_string(width) + " H"
        + std::to_string(height) + " F" + std::to_string(rate.numerator) + ":" + std::to_string(rate.denominator)
        + " Ip A1:1 C420jpeg XYSCSS=420JPEG" + (fullRange ? " XCOLORRANGE=FULL" : "") + "\n";
    try {
        writeBytes(reinterpret_cast<const std::uint8_t*>(header.data()), header.size());
    } catch (const ClipError&) {
        discardTemporary(); // the destructor does not run for a writer that was never built
        throw;
    }
    m_planes.resize(PlanarLayout(width, height).frameBytes());
}

Y4mWriter::~Y4mWriter()
{
    if (!m_finished)
        discardTemporary();
}

void Y4mWriter::discardTemporary() noexcept
{
    m_file.close();
    std::error_code ignored;
    std::filesystem::remove(m_temporaryPath, ignored);
}

void Y4mWriter::fail(const std::string& what)
{
    throw ClipError(m_path.string() + ": " + what, std::nullopt);
}

void Y4mWriter::writeBytes(const std::uint8_t* data, std::size_t bytes)
{
    m_file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(bytes));
    if (!m_file)
        fail("cannot be written: " + systemReason() + ".");
}

void Y4mWriter::write(const PixelBufferView& frame)
{
    if (m_finished)
        fail("is already finished.");
    const auto refuse = [&](const std::string& why) {
        throw ClipError(m_path.string() + ": frame " + std::to_string(m_framesWritten) + " " + why, m_framesWritten);
    };
    if (frame.width() != m_width || frame.height() != m_height) {
        refuse("is " + std::to_string(frame.width()) + "x" + std::to_string(frame.height()) + ", not "
               + std::to_string(m_width) + "x" + std::to_string(m_height) + ".");
    }
    if (frame.format() == pixelFormat::bgra) {
        convertBgra(frame);
    } else if (isNV12(frame.format())) {
        if ((frame.format() == pixelFormat::yuv420Full) != m_fullRange)
            refuse("is NV12 of the other colour range than the clip's.");
        splitNv12(frame);
    } else {
        refuse("has pixel format '" + fourCharName(frame.format()) + "'; only NV12 and BGRA frames can be written.");
    }

    static constexpr std::string_view frameLine = "FRAME\n";
    writeBytes(reinterpret_cast<const std::uint8_t*>(frameLine.data()), frameLine.size());
    writeBytes(m_planes.data(), m_planes.size());
    ++m_framesWritten;
}

void Y4mWriter::splitNv12(const PixelBufferView& frame)
{
    const PlanarLayout layout(m_width, m_height);
    for (int y = 0; y < m_height; ++y)
        std::copy_n(frame.row(0, y), layout.width, m_planes.data() + static_cast<std::size_t>(y) * layout.width);
    const std::size_t cw = layout.chromaWidth;
    for (std::size_t y = 0; y < layout.chromaHeight; ++y) {
        const std::uint8_t* in = frame.row(1, static_cast<int>(y));
        std::uint8_t* u = layout.u(m_planes.data()) + y * cw;
        std::uint8_t* v = layout.v(m_planes.data()) + y * cw;
        for (std::size_t x = 0; x < cw; ++x) {
            u[x] = in[2 * x];
            v[x] = in[2 * x + 1];
        }
    }
}

void Y4mWriter::convertBgra(const PixelBufferView& frame)
{
    const Bt601 matrix{m_fullRange};
    const PlanarLayout layout(m_width, m_height);
    for (int y = 0; y < m_height; ++y) {
        const std::uint8_t* in = frame.row(0, y);
        std::uint8_t* out = m_planes.data() + static_cast<std::size_t>(y) * layout.width;
        for (std::size_t x = 0; x < layout.width; ++x)
            out[x] = clampToByte(matrix.luma(in[4 * x + 2], in[4 * x + 1], in[4 * x]));
    }
    // Chroma from the mean colour of each 2x2 block (a lone edge row or column at odd sizes).
    const std::size_t cw = layout.chromaWidth;
    for (std::size_t cy = 0; cy < layout.chromaHeight; ++cy) {
        const int y0 = static_cast<int>(2 * cy);
        const int y1 = std::min(y0 + 1, m_height - 1);
        std::uint8_t* u = layout.u(m_planes.data()) + cy * cw;
        std::uint8_t* v = layout.v(m_planes.data()) + cy * cw;
        for (std::size_t cx = 0; cx < cw; ++cx) {
            const std::size_t x0 = 2 * cx;
            const std::size_t x1 = std::min(x0 + 1, layout.width - 1);
            float r = 0;
            float g = 0;
            float b = 0;
            for (const int y : {y0, y1}) {
                for (const std::size_t x : {x0, x1}) {
                    const std::uint8_t* p = frame.row(0, y) + 4 * x;
                    b += p[0];
                    g += p[1];
                    r += p[2];
                }
            }
            u[cx] = clampToByte(matrix.blueDifference(r / 4, g / 4, b / 4));
            v[cx] = clampToByte(matrix.redDifference(r / 4, g / 4, b / 4));
        }
    }
}

void Y4mWriter::finish()
{
    if (m_finished)
        return;
    m_file.flush();
    if (!m_file)
        fail("cannot be written: " + systemReason() + ".");
    m_file.close();
    if (m_file.fail())
        fail("cannot be written: " + systemReason() + ".");
    std::error_code error;
    std::filesystem::rename(m_temporaryPath, m_path, error);
    if (error)
        fail("cannot be put in place: " + error.message() + ".");
    m_finished = true;
}

} // namespace verticora
