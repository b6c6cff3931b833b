#include "analysis/PixelBuffer.h"

#include <cstdio>
#include <stdexcept>

namespace verticora {

namespace {

constexpr std::size_t rowAlignment = 16;

std::size_t alignedRow(std::size_t bytes)
{
    return (bytes + rowAlignment - 1) / rowAlignment * rowAlignment;
}

} // namespace

std::string fourCharName(std::uint32_t format)
{
    if (PixelBufferView::planesOf(format) > 0) {
        return {char(format >> 24), char((format >> 16) & 0xff), char((format >> 8) & 0xff), char(format & 0xff)};
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08x", static_cast<unsigned>(format));
    return hex;
}

bool isNV12(std::uint32_t format)
{
    return format == pixelFormat::yuv420Full || format == pixelFormat::yuv420Video;
}

bool isI420(std::uint32_t format)
{
    return format == pixelFormat::i420Full || format == pixelFormat::i420Video;
}

bool isFullRange(std::uint32_t format)
{
    return format == pixelFormat::yuv420Full || format == pixelFormat::i420Full;
}

bool hasGreyLevels(std::uint32_t format)
{
    return isNV12(format) || isI420(format) || format == pixelFormat::bgra;
}

std::size_t PixelBufferView::planesOf(std::uint32_t format)
{
    if (isI420(format))
        return 3;
    if (isNV12(format))
        return 2;
    if (format == pixelFormat::uyvy || format == pixelFormat::yuyv || format == pixelFormat::bgra)
        return 1;
    return 0;
}

int PixelBufferView::planeRows(std::uint32_t format, int height, std::size_t index)
{
    return (isNV12(format) || isI420(format)) && index > 0 ? (height + 1) / 2 : height;
}

std::size_t PixelBufferView::planeRowBytes(std::uint32_t format, int width, std::size_t index)
{
    const auto w = static_cast<std::size_t>(width);
    if (isNV12(format))
        return index == 0 ? w : 2 * ((w + 1) / 2);
    if (isI420(format))
        return index == 0 ? w : (w + 1) / 2;
    if (format == pixelFormat::bgra)
        return 4 * w;
    return 4 * ((w + 1) / 2); // 4:2:2 rows hold whole pixel pairs of four bytes
}

std::optional<std::string> PixelBufferView::geometryError(int width, int height, std::uint32_t format,
                                                          std::span<const PixelPlane> planes)
{
    // Described only on failure: views are built for every camera frame.
    const auto frame = [&] {
        return "frame " + std::to_string(width) + "x" + std::to_string(height) + " '" + fourCharName(format) + "'";
    };
    if (width <= 0 || height <= 0)
        return frame() + " has no pixels.";
    const std::size_t needed = planesOf(format);
    if (needed == 0)
        return frame() + " has a pixel format that cannot be analysed.";
    if (planes.size() < needed)
        return frame() + " is missing plane " + std::to_string(planes.size()) + ".";
    for (std::size_t i = 0; i < needed; ++i) {
        if (planes[i].base == nullptr)
            return frame() + " is missing plane " + std::to_string(i) + ".";
        if (planes[i].bytesPerRow < planeRowBytes(format, width, i))
            return frame() + ": plane " + std::to_string(i) + " has " + std::to_string(planes[i].bytesPerRow)
                + " bytes per row, fewer than its " + std::to_string(planeRowBytes(format, width, i)) + ".";
    }
    return std::nullopt;
}

PixelBufferView::PixelBufferView(int width, int height, std::uint32_t format, std::span<const PixelPlane> planes)
{
    if (auto error = geometryError(width, height, format, planes))
        throw std::invalid_argument(*error);
    m_width = width;
    m_height = height;
    m_format = format;
    m_planeCount = planesOf(format);
    for (std::size_t i = 0; i < m_planeCount; ++i)
        m_planes[i] = planes[i];
}

PixelBuffer::PixelBuffer(int width, int height, std::uint32_t format)
    : m_width(width), m_height(height), m_format(format), m_planeCount(PixelBufferView::planesOf(format))
{
    if (width <= 0 || height <= 0 || m_planeCount == 0) {
        throw std::invalid_argument("cannot create a " + std::to_string(width) + "x" + std::to_string(height) + " '"
                                    + fourCharName(format) + "' frame.");
    }
    std::size_t total = 0;
    for (std::size_t i = 0; i < m_planeCount; ++i) {
        m_bytesPerRow[i] = alignedRow(PixelBufferView::planeRowBytes(format, width, i));
        m_planeOffset[i] = total;
        total += m_bytesPerRow[i] * static_cast<std::size_t>(PixelBufferView::planeRows(format, height, i));
    }
    m_storage.assign(total, 0);
}

std::uint8_t* PixelBuffer::planeData(std::size_t planeIndex)
{
    return m_storage.data() + m_planeOffset.at(planeIndex);
}

const std::uint8_t* PixelBuffer::planeData(std::size_t planeIndex) const
{
    return m_storage.data() + m_planeOffset.at(planeIndex);
}

PixelBufferView PixelBuffer::view() const
{
    std::array<PixelPlane, PixelBufferView::maximumPlanes> planes{};
    for (std::size_t i = 0; i < m_planeCount; ++i)
        planes[i] = {planeData(i), m_bytesPerRow[i]};
    return PixelBufferView(m_width, m_height, m_format, std::span(planes.data(), m_planeCount));
}

} // namespace verticora
