#include "analysis/FaceMotionGate.h"

#include <algorithm>
#include <cmath>

namespace verticora {

namespace {

constexpr double minimumContrast = 8.0;
constexpr double minimumRegionSide = 0.04;
constexpr int verticalShifts[] = {-4, -2, 2, 4};

// Mean absolute difference after removing a uniform brightness change; NaN for no samples.
double residual(std::span<const double> current, std::span<const double> reference)
{
    if (current.empty())
        return std::numeric_limits<double>::quiet_NaN();
    const std::size_t pairs = std::min(current.size(), reference.size());
    const auto count = static_cast<double>(current.size());
    double shift = 0;
    for (std::size_t i = 0; i < pairs; ++i)
        shift += current[i] - reference[i];
    shift /= count;
    double sum = 0;
    for (std::size_t i = 0; i < pairs; ++i)
        sum += std::abs(current[i] - reference[i] - shift);
    return sum / count;
}

double populationDeviation(std::span<const double> values)
{
    double mean = 0;
    for (double v : values)
        mean += v;
    mean /= static_cast<double>(values.size());
    double squares = 0;
    for (double v : values)
        squares += (v - mean) * (v - mean);
    return std::sqrt(squares / static_cast<double>(values.size()));
}

// Three eye distances wide, centred on the eyes, from 0.8 face heights above the eyes to
// 0.2 face heights below the chin, top-down and cut to the image.
Rect faceArea(Point leftEye, Point rightEye, Point chin)
{
    const double eyeSpan = std::abs(leftEye.x - rightEye.x);
    const double eyeMidY = (leftEye.y + rightEye.y) / 2;
    const double faceHeight = std::max(eyeMidY - chin.y, 0.06);
    const double top = eyeMidY + 0.8 * faceHeight;
    const double bottom = chin.y - 0.2 * faceHeight;
    const double minX = std::max((leftEye.x + rightEye.x) / 2 - 1.5 * eyeSpan, 0.0);
    const double maxX = std::min((leftEye.x + rightEye.x) / 2 + 1.5 * eyeSpan, 1.0);
    const double minY = std::max(1 - top, 0.0);
    const double maxY = std::min(1 - bottom, 1.0);
    if (!(maxX >= minX && maxY >= minY))
        return {};
    return {minX, minY, maxX - minX, maxY - minY};
}

} // namespace

void FaceMotionGate::clear()
{
    m_reference.reset();
    m_region = {};
    m_verticalShift = 0;
    m_contrast = 0;
    m_difference = std::numeric_limits<double>::infinity();
}

void FaceMotionGate::remember(const PixelBufferView& buffer, std::span<const Point> points)
{
    if (points.size() != 4) {
        clear();
        return;
    }
    m_region = faceArea(points[0], points[1], points[3]);
    if (!(m_region.width > minimumRegionSide && m_region.height > minimumRegionSide)) {
        clear();
        return;
    }
    std::vector<double> reference;
    if (!sample(buffer, 0, reference))
        return;
    m_contrast = populationDeviation(reference);
    m_reference = std::move(reference);
}

double FaceMotionGate::interval(const PixelBufferView& buffer)
{
    if (!m_reference || !sample(buffer, 0, m_current))
        return normalInterval;
    const std::vector<double>& reference = *m_reference;
    // A flat face area cannot show motion reliably.
    if (m_current.size() != reference.size() || m_contrast < minimumContrast)
        return normalInterval;

    const double d0 = residual(m_current, reference);
    m_difference = d0;
    m_verticalShift = 0;
    double best = d0;
    for (int shift : verticalShifts) {
        if (!sample(buffer, shift, m_shifted))
            return normalInterval;
        const double r = residual(m_shifted, reference);
        if (r < best) {
            best = r;
            m_verticalShift = shift;
        }
    }

    const double threshold = std::clamp(0.22 * m_contrast, 3.5, 10.0);
    // A face moving up or down by a few rows changes little at shift 0 but is motion.
    const bool shiftExplainsChange = m_verticalShift != 0 && best < 0.88 * d0 && d0 - best > 0.45;
    if (shiftExplainsChange)
        return normalInterval;
    return d0 <= threshold ? stillInterval : normalInterval;
}

bool FaceMotionGate::samples(std::uint32_t format)
{
    return hasGreyLevels(format) || format == pixelFormat::yuyv || format == pixelFormat::uyvy;
}

namespace {

// The luma byte of pixel (x, y) in a 4:2:2 frame: Y0 U Y1 V for "yuvs", U Y0 V Y1 for "2vuy".
double packedLuma(const PixelBufferView& frame, int x, int y)
{
    const std::size_t offset = frame.format() == pixelFormat::uyvy ? 1 : 0;
    return frame.row(0, y)[2 * static_cast<std::size_t>(x) + offset];
}

} // namespace

bool FaceMotionGate::sample(const PixelBufferView& buffer, int offsetY, std::vector<double>& into) const
{
    if (!samples(buffer.format()) || !(m_region.width > 0))
        return false;
    // Linux webcams commonly deliver 4:2:2 frames; their luma serves as the grey level.
    const bool packed = !hasGreyLevels(buffer.format());
    const int width = buffer.width();
    const int height = buffer.height();
    into.clear();
    into.reserve(grid * grid);
    for (int j = 0; j < grid; ++j) {
        const double rowY = (m_region.minY + (j + 0.5) * m_region.height / grid) * height;
        const int y = std::clamp(static_cast<int>(rowY) + offsetY, 0, height - 1);
        for (int i = 0; i < grid; ++i) {
            const double columnX = (m_region.minX + (i + 0.5) * m_region.width / grid) * width;
            const int x = std::clamp(static_cast<int>(columnX), 0, width - 1);
            double sum = 0;
            for (int dy = -1; dy <= 1; ++dy) {
                const int sy = std::clamp(y + dy, 0, height - 1);
                for (int dx = -1; dx <= 1; ++dx) {
                    const int sx = std::clamp(x + dx, 0, width - 1);
                    sum += packed ? packedLuma(buffer, sx, sy) : greyLevel(buffer, sx, sy);
                }
            }
            into.push_back(sum / 9);
        }
    }
    return true;
}

} // namespace verticora
