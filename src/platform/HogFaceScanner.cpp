#include "platform/HogFaceScanner.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

// What the scan computes and how is dlib's, repeated operation for operation; the per-pixel
// part is in HogScanKernels.inc.

namespace verticora::detail {

namespace {

constexpr int orientationBins = 18;
constexpr int contrastInsensitiveBins = 9;

// The unit vectors of the nine unsigned orientations, as dlib rounds them.
constexpr std::array<float, 9> directionX{
    static_cast<float>(1.0000),  static_cast<float>(0.9397),  static_cast<float>(0.7660),
    static_cast<float>(0.500),   static_cast<float>(0.1736),  static_cast<float>(-0.1736),
    static_cast<float>(-0.5000), static_cast<float>(-0.7660), static_cast<float>(-0.9397)};
constexpr std::array<float, 9> directionY{
    static_cast<float>(0.0000), static_cast<float>(0.3420), static_cast<float>(0.6428),
    static_cast<float>(0.8660), static_cast<float>(0.9848), static_cast<float>(0.9848),
    static_cast<float>(0.8660), static_cast<float>(0.6428), static_cast<float>(0.3420)};

using Floats = float __attribute__((vector_size(32)));
using Taps = std::array<float, facemodel::filterTaps>;

constexpr int gradientRange = 2 * 255 + 1; // a difference of two grey levels

// The nearest of the 18 signed orientations (0 for none) to the gradient (gx, gy), as
// dlib finds it: the largest dot product with the nine directions or their opposites,
// the first of equals.
int orientationOf(int gx, int gy)
{
    const auto x = static_cast<float>(gx);
    const auto y = static_cast<float>(gy);
    float best = 0;
    int bin = 0;
    for (int o = 0; o < contrastInsensitiveBins; ++o) {
        const float dot = x * directionX[static_cast<std::size_t>(o)] + y * directionY[static_cast<std::size_t>(o)];
        if (dot > best) {
            best = dot;
            bin = o;
        } else if (-dot > best) {
            best = -dot;
            bin = o + contrastInsensitiveBins;
        }
    }
    return bin;
}

// dlib's rectangle: whole pixels, right and bottom inclusive, empty when right < left.
struct Box {
    long left = 0;
    long top = 0;
    long right = -1;
    long bottom = -1;

    [[nodiscard]] long width() const { return right < left ? 0 : right - left + 1; }
    [[nodiscard]] long height() const { return bottom < top ? 0 : bottom - top + 1; }
    [[nodiscard]] double area() const
    {
        return static_cast<double>(width()) * static_cast<double>(height());
    }
};

Box intersection(const Box& a, const Box& b)
{
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
            std::min(a.bottom, b.bottom)};
}

Box hull(const Box& a, const Box& b)
{
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
            std::max(a.bottom, b.bottom)};
}

long roundHalfUp(double value)
{
    return static_cast<long>(std::floor(value + 0.5));
}

// pyramid_down<step>: one level finer (up) or coarser (down), then dlib's conversion of
// the corner points to whole pixels.
Box scaleBox(const Box& box, int step, int levels, bool up)
{
    const double stepCount = step;
    double left = static_cast<double>(box.left);
    double top = static_cast<double>(box.top);
    double right = static_cast<double>(box.right);
    double bottom = static_cast<double>(box.bottom);
    for (int i = 0; i < levels; ++i) {
        if (up) {
            const double ratio = stepCount / (stepCount - 1.0);
            left = left * ratio + 0.3;
            top = top * ratio + 0.3;
            right = right * ratio + 0.3;
            bottom = bottom * ratio + 0.3;
        } else {
            const double ratio = (stepCount - 1.0) / stepCount;
            left = (left - 0.3) * ratio;
            top = (top - 0.3) * ratio;
            right = (right - 0.3) * ratio;
            bottom = (bottom - 0.3) * ratio;
        }
    }
    return {roundHalfUp(std::min(left, right)), roundHalfUp(std::min(top, bottom)), roundHalfUp(std::max(left, right)),
            roundHalfUp(std::max(top, bottom))};
}

// A HOG cell back to the image: the centre of the cell, dlib's fhog_to_image.
long cellToPixel(long cell, int cellSize, int windowCells)
{
    const long p = (cell + 1 - (windowCells - 1) / 2) * cellSize + 1;
    return p + (p >= 0 ? cellSize / 2 : -(cellSize / 2));
}

// The kernels: once for any x86-64 processor, once for those with AVX2. The second copy
// is built in a region for AVX2 processors, and only ever called on one.
namespace baseline {
#include "platform/HogScanKernels.inc"
} // namespace baseline

#if defined(__x86_64__)
#pragma GCC push_options
#pragma GCC target("avx2")
namespace avx2 {
#define VERTICORA_HOG_AVX2
#include "platform/HogScanKernels.inc"
#undef VERTICORA_HOG_AVX2
} // namespace avx2
#pragma GCC pop_options
#endif

} // namespace

const HogKernels& baselineHogKernels()
{
    return baseline::kernels;
}

const HogKernels* avx2HogKernels()
{
#if defined(__x86_64__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2"))
        return &avx2::kernels;
#endif
    return nullptr;
}

const HogKernels& fastestHogKernels()
{
    const HogKernels* avx2 = avx2HogKernels();
    return avx2 ? *avx2 : baselineHogKernels();
}

void FeaturePlane::resize(int newRows, int newColumns)
{
    if (newRows == rows && newColumns == columns)
        return;
    rows = newRows;
    columns = newColumns;
    stride = (static_cast<std::size_t>(columns) + 7) / 8 * 8 + 16;
    values.assign(static_cast<std::size_t>(rows) * stride + 16, 0.0f);
}

HogFaceScanner::HogFaceScanner(const HogDetectorModel& model, const HogKernels& kernels)
    : m_model(model), m_kernels(kernels), m_orientations(static_cast<std::size_t>(gradientRange) * gradientRange + 4)
{
    for (int gx = -255; gx <= 255; ++gx) {
        for (int gy = -255; gy <= 255; ++gy)
            m_orientations[static_cast<std::size_t>((gx + 255) * gradientRange + gy + 255)] =
                static_cast<std::uint8_t>(orientationOf(gx, gy));
    }
}

int HogFaceScanner::levelCount(int width, int height) const
{
    Box box{0, 0, width - 1, height - 1};
    int levels = 0;
    do {
        box = scaleBox(box, m_model.pyramidStep, 1, false);
        ++levels;
    } while (box.width() >= m_model.minimumLevelSide && box.height() >= m_model.minimumLevelSide);
    return levels;
}

void HogFaceScanner::shrink(const GreyView& from, Level& to)
{
    const int step = m_model.pyramidStep;
    const int width = static_cast<int>(static_cast<long>(step - 1) * from.width / step);
    const int height = static_cast<int>(static_cast<long>(step - 1) * from.height / step);
    to.pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    to.view = {to.pixels.data(), width, height, static_cast<std::size_t>(width)};
    if (width > 0 && height > 0)
        m_kernels.shrink(from, to.pixels.data(), width, height, m_shrink);
}

void HogFaceScanner::filterLevel(const Level& level, int levelIndex)
{
    const FeaturePlane& first = level.features.front();
    const int rows = first.rows;
    const int columns = first.columns;
    const int taps = facemodel::filterTaps;
    const int firstRow = taps / 2;
    const int firstColumn = taps / 2;
    const int lastRow = rows - (taps - 1) / 2;
    const int lastColumn = columns - (taps - 1) / 2;
    m_rowPass.resize(rows, columns);
    m_saliency.resize(rows, columns);

    const int window = m_model.windowCells;
    for (const facemodel::DetectorRecord& detector : m_model.detectors) {
        bool firstFilter = true;
        for (const facemodel::SeparableFilter& filter :
             m_model.filters.subspan(detector.firstFilter, detector.filterCount)) {
            m_kernels.filter(level.features[filter.plane], filter, !firstFilter, m_rowPass, m_saliency);
            firstFilter = false;
        }
        if (firstFilter)
            continue; // a detector without filters never fires

        for (int r = firstRow; r < lastRow; ++r) {
            const float* saliency = m_saliency.row(r);
            for (int c = firstColumn; c < lastColumn; ++c) {
                if (!(saliency[c] >= detector.threshold))
                    continue;
                // The window centred on this cell, back in the pixels of level 0.
                const long left = c - window / 2;
                const long top = r - window / 2;
                const Box cells{left, top, left + window - 1, top + window - 1};
                const Box pixels{cellToPixel(cells.left, m_model.cellSize, window),
                                 cellToPixel(cells.top, m_model.cellSize, window),
                                 cellToPixel(cells.right, m_model.cellSize, window),
                                 cellToPixel(cells.bottom, m_model.cellSize, window)};
                const Box up = scaleBox(pixels, m_model.pyramidStep, levelIndex, true);
                m_candidates.push_back(
                    {static_cast<double>(saliency[c]) - detector.threshold, {up.left, up.top, up.right, up.bottom, 0}});
            }
        }
    }
}

void HogFaceScanner::scan(const GreyView& image, int firstLevel, std::vector<PixelBox>& faces)
{
    faces.clear();
    m_candidates.clear();
    if (image.width <= 0 || image.height <= 0 || m_model.detectors.empty())
        return;
    const int levels = levelCount(image.width, image.height);
    firstLevel = std::clamp(firstLevel, 0, levels - 1); // the coarsest level is always scanned
    if (m_levels.size() < static_cast<std::size_t>(levels))
        m_levels.resize(static_cast<std::size_t>(levels));
    m_levels.front().view = image;
    for (int l = 0; l < levels; ++l) {
        Level& level = m_levels[static_cast<std::size_t>(l)];
        if (l > 0)
            shrink(m_levels[static_cast<std::size_t>(l - 1)].view, level);
        if (l < firstLevel)
            continue;
        level.empty = !m_kernels.features(level.view, m_model.cellSize, m_model.windowCells, m_orientations.data(),
                                          m_features, level.features);
        if (!level.empty)
            filterLevel(level, l);
    }

    // The detectors' windows, best first, each kept unless it overlaps a better one. Ties
    // (which dlib leaves in no particular order) go to the upper, then left one.
    std::sort(m_candidates.begin(), m_candidates.end(), [](const Candidate& a, const Candidate& b) {
        if (a.score != b.score)
            return a.score > b.score;
        if (a.box.top != b.box.top)
            return a.box.top < b.box.top;
        return a.box.left < b.box.left;
    });
    for (const Candidate& candidate : m_candidates) {
        const Box box{candidate.box.left, candidate.box.top, candidate.box.right, candidate.box.bottom};
        const bool suppressed = std::any_of(faces.begin(), faces.end(), [&](const PixelBox& kept) {
            const Box other{kept.left, kept.top, kept.right, kept.bottom};
            const double inner = intersection(box, other).area();
            if (inner == 0)
                return false;
            return inner / hull(box, other).area() > m_model.overlapIou || inner / box.area() > m_model.overlapCovered
                || inner / other.area() > m_model.overlapCovered;
        });
        if (!suppressed)
            faces.push_back({candidate.box.left, candidate.box.top, candidate.box.right, candidate.box.bottom,
                             candidate.score});
    }
}

} // namespace verticora::detail
