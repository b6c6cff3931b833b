#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace verticora {

// Four-character pixel format codes, as cameras name them.
[[nodiscard]] constexpr std::uint32_t fourCharCode(const char (&code)[5])
{
    return (std::uint32_t(std::uint8_t(code[0])) << 24) | (std::uint32_t(std::uint8_t(code[1])) << 16)
        | (std::uint32_t(std::uint8_t(code[2])) << 8) | std::uint32_t(std::uint8_t(code[3]));
}

namespace pixelFormat {
inline constexpr std::uint32_t yuv420Full = fourCharCode("420f");  // NV12, full range
inline constexpr std::uint32_t yuv420Video = fourCharCode("420v"); // NV12, video range
inline constexpr std::uint32_t uyvy = fourCharCode("2vuy");        // 4:2:2, U Y0 V Y1
inline constexpr std::uint32_t yuyv = fourCharCode("yuvs");        // 4:2:2, Y0 U Y1 V
inline constexpr std::uint32_t i420Full = fourCharCode("f420");    // I420 (Y, U, V planes), full range
inline constexpr std::uint32_t i420Video = fourCharCode("y420");   // I420, video range
inline constexpr std::uint32_t bgra = fourCharCode("BGRA");        // B, G, R, A bytes
} // namespace pixelFormat

// "420v" for a known code, the hexadecimal value otherwise.
[[nodiscard]] std::string fourCharName(std::uint32_t format);

[[nodiscard]] bool isNV12(std::uint32_t format);
[[nodiscard]] bool isI420(std::uint32_t format);
// Whether the format carries full-range (JPEG) levels rather than video range.
[[nodiscard]] bool isFullRange(std::uint32_t format);

struct PixelPlane {
    const std::uint8_t* base = nullptr;
    std::size_t bytesPerRow = 0;
};

// A read-only view of one camera or analysis frame. Its geometry is checked when it is
// built, so code that reads it may rely on every plane covering its rows.
class PixelBufferView {
public:
    static constexpr std::size_t maximumPlanes = 3;

    // Why a frame of this geometry cannot be read safely, or none when it can.
    [[nodiscard]] static std::optional<std::string> geometryError(int width, int height, std::uint32_t format,
                                                                  std::span<const PixelPlane> planes);

    // Throws std::invalid_argument with the geometryError text for an impossible frame.
    PixelBufferView(int width, int height, std::uint32_t format, std::span<const PixelPlane> planes);

    [[nodiscard]] int width() const { return m_width; }
    [[nodiscard]] int height() const { return m_height; }
    [[nodiscard]] std::uint32_t format() const { return m_format; }
    [[nodiscard]] std::size_t planeCount() const { return m_planeCount; }
    [[nodiscard]] const PixelPlane& plane(std::size_t index) const { return m_planes.at(index); }
    [[nodiscard]] const std::uint8_t* row(std::size_t planeIndex, int y) const
    {
        const PixelPlane& p = plane(planeIndex);
        return p.base + static_cast<std::size_t>(y) * p.bytesPerRow;
    }

    // Rows of plane `index` (the chroma planes of NV12 and I420 have half as many, rounded up).
    [[nodiscard]] static int planeRows(std::uint32_t format, int height, std::size_t index);
    // Bytes of one row of plane `index` that hold pixels.
    [[nodiscard]] static std::size_t planeRowBytes(std::uint32_t format, int width, std::size_t index);
    // How many planes a format has; 0 for a format the system does not read.
    [[nodiscard]] static std::size_t planesOf(std::uint32_t format);

private:
    int m_width = 0;
    int m_height = 0;
    std::uint32_t m_format = 0;
    std::size_t m_planeCount = 0;
    std::array<PixelPlane, maximumPlanes> m_planes{};
};

// Whether grey levels can be read from frames of this format: the luma plane of NV12 and
// I420, or "BGRA".
[[nodiscard]] bool hasGreyLevels(std::uint32_t format);

// Grey level of pixel (x, y) of a frame that hasGreyLevels: the luma byte for NV12 and I420,
// 0.114 B + 0.587 G + 0.299 R for "BGRA".
[[nodiscard]] inline double greyLevel(const PixelBufferView& frame, int x, int y)
{
    const std::uint8_t* row = frame.row(0, y);
    if (frame.format() == pixelFormat::bgra) {
        const std::uint8_t* p = row + 4 * static_cast<std::size_t>(x);
        return 0.114 * p[0] + 0.587 * p[1] + 0.299 * p[2];
    }
    return row[x];
}

// A frame that owns its pixels, tightly packed apart from rows rounded up to 16 bytes.
class PixelBuffer {
public:
    // Throws std::invalid_argument for a zero size or an unknown format.
    PixelBuffer(int width, int height, std::uint32_t format);

    [[nodiscard]] int width() const { return m_width; }
    [[nodiscard]] int height() const { return m_height; }
    [[nodiscard]] std::uint32_t format() const { return m_format; }
    [[nodiscard]] std::size_t planeCount() const { return m_planeCount; }
    [[nodiscard]] std::size_t bytesPerRow(std::size_t planeIndex) const { return m_bytesPerRow.at(planeIndex); }
    [[nodiscard]] std::uint8_t* planeData(std::size_t planeIndex);
    [[nodiscard]] const std::uint8_t* planeData(std::size_t planeIndex) const;
    [[nodiscard]] std::uint8_t* row(std::size_t planeIndex, int y)
    {
        return planeData(planeIndex) + static_cast<std::size_t>(y) * bytesPerRow(planeIndex);
    }
    [[nodiscard]] const std::uint8_t* row(std::size_t planeIndex, int y) const
    {
        return planeData(planeIndex) + static_cast<std::size_t>(y) * bytesPerRow(planeIndex);
    }

    [[nodiscard]] PixelBufferView view() const;

private:
    int m_width;
    int m_height;
    std::uint32_t m_format;
    std::size_t m_planeCount = 0;
    std::array<std::size_t, PixelBufferView::maximumPlanes> m_bytesPerRow{};
    std::array<std::size_t, PixelBufferView::maximumPlanes> m_planeOffset{};
    std::vector<std::uint8_t> m_storage;
};

} // namespace verticora
