#include "platform/HogFaceScanner.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

// The arithmetic below repeats dlib's (scan_fhog_pyramid.h, fhog.h, interpolation.h,
// spatial_filtering.h) operation for operation in single precision, including where its
// vector and scalar paths round differently, so that the scores come out the same.

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
using Ints = std::int32_t __attribute__((vector_size(32)));

// The gradient length and the nearest of the 18 signed orientations (0 for none) of the
// pixels 1 to end - 1 of a row, eight at a time.
void orientRow(const std::uint8_t* up, const std::uint8_t* middle, const std::uint8_t* down, int end, float* length,
               std::int32_t* bins)
{
    int x = 1;
    for (; x + 8 <= end; x += 8) {
        Ints right{};
        Ints left{};
        Ints below{};
        Ints above{};
        for (int k = 0; k < 8; ++k) {
            right[k] = middle[x + k + 1];
            left[k] = middle[x + k - 1];
            below[k] = down[x + k];
            above[k] = up[x + k];
        }
        const Floats gx = __builtin_convertvector(right - left, Floats);
        const Floats gy = __builtin_convertvector(below - above, Floats);
        const Floats squared = gx * gx + gy * gy;
        Floats best{};
        Ints bin{};
        for (int o = 0; o < contrastInsensitiveBins; ++o) {
            const Floats dot = gx * directionX[static_cast<std::size_t>(o)] + gy * directionY[static_cast<std::size_t>(o)];
            Ints more = dot > best;
            bin = more ? Ints{} + o : bin;
            best = more ? dot : best;
            more = -dot > best;
            bin = more ? Ints{} + (o + contrastInsensitiveBins) : bin;
            best = more ? -dot : best;
        }
        std::memcpy(length + x, &squared, sizeof(squared));
        std::memcpy(bins + x, &bin, sizeof(bin));
    }
    for (; x < end; ++x) {
        const auto gx = static_cast<float>(static_cast<int>(middle[x + 1]) - static_cast<int>(middle[x - 1]));
        const auto gy = static_cast<float>(static_cast<int>(down[x]) - static_cast<int>(up[x]));
        float best = 0;
        int bin = 0;
        for (int o = 0; o < contrastInsensitiveBins; ++o) {
            const float dot = gx * directionX[static_cast<std::size_t>(o)] + gy * directionY[static_cast<std::size_t>(o)];
            if (dot > best) {
                best = dot;
                bin = o;
            } else if (-dot > best) {
                best = -dot;
                bin = o + contrastInsensitiveBins;
            }
        }
        length[x] = gx * gx + gy * gy;
        bins[x] = bin;
    }
    for (x = 1; x < end; ++x)
        length[x] = std::sqrt(length[x]);
}

using Taps = std::array<float, facemodel::filterTaps>;

Floats loadFloats(const float* p)
{
    Floats v;
    std::memcpy(&v, p, sizeof(v));
    return v;
}

// A 10-tap filter along a line of `span` outputs into `out` (added to it with `add`),
// where output c reads the inputs `at(c, k)` for taps k. dlib computes the first
// `vectorSpan` outputs (a multiple of 8) eight at a time in three partial sums (taps
// 0 3 6 9, 1 4 7 and 2 5 8, added as first + (second + third)), and the rest in tap
// order; both are repeated here.
template <typename Input>
void filterLine(Input at, float* out, bool add, int vectorSpan, int span, const Taps& taps)
{
    static_assert(facemodel::filterTaps == 10);
    const auto sumAt = [&](int c) {
        Floats first = loadFloats(at(c, 0)) * taps[0];
        Floats second = loadFloats(at(c, 1)) * taps[1];
        Floats third = loadFloats(at(c, 2)) * taps[2];
        first += loadFloats(at(c, 3)) * taps[3];
        second += loadFloats(at(c, 4)) * taps[4];
        third += loadFloats(at(c, 5)) * taps[5];
        first += loadFloats(at(c, 6)) * taps[6];
        second += loadFloats(at(c, 7)) * taps[7];
        third += loadFloats(at(c, 8)) * taps[8];
        first += loadFloats(at(c, 9)) * taps[9];
        return first + (second + third);
    };
    for (int c = 0; c < vectorSpan; c += 8) {
        Floats sum = sumAt(c);
        if (add)
            sum += loadFloats(out + c);
        std::memcpy(out + c, &sum, sizeof(sum));
    }
    for (int c = vectorSpan; c < span; ++c) {
        float sum = 0;
        for (int k = 0; k < facemodel::filterTaps; ++k)
            sum += *at(c, k) * taps[static_cast<std::size_t>(k)];
        out[c] = add ? out[c] + sum : sum;
    }
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

// Bilinear shrinking of a grey image, as dlib's resize_image does it: four output
// columns at a time in single precision and rounded, the last few one at a time and
// truncated. The source column and weight of each output column are the same in every
// row and are worked out once, into `lefts` and `fractions`.
void resizeGrey(const GreyView& in, std::uint8_t* out, int outWidth, int outHeight, std::vector<int>& lefts,
                std::vector<float>& fractions)
{
    const double xScale = (in.width - 1) / static_cast<double>(std::max(outWidth - 1, 1));
    const double yScale = (in.height - 1) / static_cast<double>(std::max(outHeight - 1, 1));
    lefts.resize(static_cast<std::size_t>(outWidth));
    fractions.resize(static_cast<std::size_t>(outWidth));
    const float step = static_cast<float>(4 * xScale);
    const double x0 = -4 * xScale;
    std::array<float, 4> lanes{static_cast<float>(x0), static_cast<float>(x0 + xScale),
                               static_cast<float>(x0 + 2 * xScale), static_cast<float>(x0 + 3 * xScale)};
    int vectorColumns = 0;
    for (; vectorColumns + 4 <= outWidth; vectorColumns += 4) {
        std::array<int, 4> left{};
        for (std::size_t k = 0; k < 4; ++k) {
            lanes[k] += step;
            left[k] = static_cast<int>(lanes[k]);
        }
        if (left[3] + 1 >= in.width)
            break;
        for (std::size_t k = 0; k < 4; ++k) {
            lefts[static_cast<std::size_t>(vectorColumns) + k] = left[k];
            fractions[static_cast<std::size_t>(vectorColumns) + k] = lanes[k] - static_cast<float>(left[k]);
        }
    }

    double y = -yScale;
    for (int r = 0; r < outHeight; ++r) {
        y += yScale;
        const long top = static_cast<long>(std::floor(y));
        const long bottom = std::min<long>(top + 1, in.height - 1);
        const double tbFraction = y - static_cast<double>(top);
        const std::uint8_t* upper = in.pixels + static_cast<std::size_t>(top) * in.bytesPerRow;
        const std::uint8_t* lower = in.pixels + static_cast<std::size_t>(bottom) * in.bytesPerRow;
        std::uint8_t* outRow = out + static_cast<std::size_t>(r) * static_cast<std::size_t>(outWidth);
        const float tb = static_cast<float>(tbFraction);
        const float inverseTb = static_cast<float>(1 - tbFraction);
        for (int c = 0; c < vectorColumns; ++c) {
            const auto i = static_cast<std::size_t>(c);
            const auto left = static_cast<std::size_t>(lefts[i]);
            const float fraction = fractions[i];
            const float inverse = 1 - fraction;
            const float value = inverseTb * inverse * static_cast<float>(upper[left])
                + inverseTb * fraction * static_cast<float>(upper[left + 1])
                + tb * inverse * static_cast<float>(lower[left]) + tb * fraction * static_cast<float>(lower[left + 1]);
            outRow[c] = static_cast<std::uint8_t>(value + 0.5);
        }
        double x = -xScale + vectorColumns * xScale;
        for (int c = vectorColumns; c < outWidth; ++c) {
            x += xScale;
            const long left = static_cast<long>(std::floor(x));
            const long right = std::min<long>(left + 1, in.width - 1);
            const float fraction = static_cast<float>(x - static_cast<double>(left));
            const float value = static_cast<float>(
                (1 - tbFraction)
                    * ((1 - fraction) * static_cast<float>(upper[left]) + fraction * static_cast<float>(upper[right]))
                + tbFraction
                    * ((1 - fraction) * static_cast<float>(lower[left]) + fraction * static_cast<float>(lower[right])));
            outRow[c] = static_cast<std::uint8_t>(std::clamp(value, 0.0f, 255.0f));
        }
    }
}

} // namespace

void HogFaceScanner::Plane::resize(int newRows, int newColumns)
{
    if (newRows == rows && newColumns == columns)
        return;
    rows = newRows;
    columns = newColumns;
    values.assign(static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns), 0.0f);
}

HogFaceScanner::HogFaceScanner(const HogDetectorSpec& spec) : m_spec(spec) {}

int HogFaceScanner::levelCount(int width, int height) const
{
    Box box{0, 0, width - 1, height - 1};
    int levels = 0;
    do {
        box = scaleBox(box, m_spec.pyramidStep, 1, false);
        ++levels;
    } while (box.width() >= m_spec.minimumLevelSide && box.height() >= m_spec.minimumLevelSide);
    return levels;
}

void HogFaceScanner::shrink(const GreyView& from, Level& to)
{
    const int step = m_spec.pyramidStep;
    const int width = static_cast<int>(static_cast<long>(step - 1) * from.width / step);
    const int height = static_cast<int>(static_cast<long>(step - 1) * from.height / step);
    to.pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    to.view = {to.pixels.data(), width, height, static_cast<std::size_t>(width)};
    if (width > 0 && height > 0)
        resizeGrey(from, to.pixels.data(), width, height, m_shrinkLefts, m_shrinkFractions);
}

void HogFaceScanner::computeFeatures(Level& level)
{
    const GreyView& image = level.view;
    const int cell = m_spec.cellSize;
    const int cellRows = static_cast<int>(static_cast<float>(image.height) / static_cast<float>(cell) + 0.5);
    const int cellColumns = static_cast<int>(static_cast<float>(image.width) / static_cast<float>(cell) + 0.5);
    const int hogRows = std::max(cellRows - 2, 0);
    const int hogColumns = std::max(cellColumns - 2, 0);
    level.empty = hogRows == 0 || hogColumns == 0;
    if (level.empty)
        return;

    // Orientation histograms of the cells, with a border of one cell all round. Each
    // pixel's gradient votes into the four nearest cells, weighted by distance.
    const int histogramColumns = cellColumns + 2;
    const std::size_t histogramRow = static_cast<std::size_t>(histogramColumns) * orientationBins;
    // (plus one vector, read past the last cell by the feature loop below)
    m_histograms.assign(static_cast<std::size_t>(cellRows + 2) * histogramRow + 8, 0.0f);
    const int visibleRows = std::min(cellRows * cell, image.height) - 1;
    const int visibleColumns = std::min(cellColumns * cell, image.width) - 1;
    int vectorEnd = 1; // dlib handles eight pixels at a time up to here, the rest one by one
    while (vectorEnd < visibleColumns - 7)
        vectorEnd += 8;

    // The cell to the left of each column and the weights of that cell and the next;
    // the same for every row.
    const auto columns = static_cast<std::size_t>(image.width);
    m_columnCell.resize(columns);
    m_columnNear.resize(columns);
    m_columnFar.resize(columns);
    for (int x = 1; x < visibleColumns; ++x) {
        const auto i = static_cast<std::size_t>(x);
        if (x < vectorEnd) {
            const float xp = (static_cast<float>(x) + 0.5f) / static_cast<float>(cell) + 0.5f;
            const int ixp = static_cast<int>(xp);
            const float far = xp - static_cast<float>(ixp);
            m_columnCell[i] = ixp;
            m_columnNear[i] = 1.0f - far;
            m_columnFar[i] = far;
        } else {
            const float xp = static_cast<float>((static_cast<double>(x) + 0.5) / static_cast<double>(cell) - 0.5);
            const int ixp = static_cast<int>(std::floor(xp));
            const float far = xp - static_cast<float>(ixp);
            m_columnCell[i] = ixp + 1;
            m_columnNear[i] = static_cast<float>(1.0 - far);
            m_columnFar[i] = far;
        }
    }
    m_magnitudes.resize(columns);
    m_bins.resize(columns);
    float* magnitude = m_magnitudes.data();
    std::int32_t* bins = m_bins.data();

    for (int y = 1; y < visibleRows; ++y) {
        const float yp = static_cast<float>((static_cast<float>(y) + 0.5) / static_cast<float>(cell) - 0.5);
        const int iyp = static_cast<int>(std::floor(yp));
        const float vy0 = yp - static_cast<float>(iyp);
        const float vy1 = static_cast<float>(1.0 - vy0);
        const std::uint8_t* up = image.pixels + static_cast<std::size_t>(y - 1) * image.bytesPerRow;
        const std::uint8_t* middle = up + image.bytesPerRow;
        const std::uint8_t* down = middle + image.bytesPerRow;

        orientRow(up, middle, down, visibleColumns, magnitude, bins);

        float* upper = m_histograms.data() + static_cast<std::size_t>(iyp + 1) * histogramRow;
        float* lower = upper + histogramRow;
        // A gradient of length 0 adds nothing, and plain backgrounds have many.
        for (int x = 1; x < vectorEnd; ++x) {
            const float v = magnitude[x];
            if (v == 0)
                continue;
            const auto i = static_cast<std::size_t>(x);
            const std::size_t first =
                static_cast<std::size_t>(m_columnCell[i]) * orientationBins + static_cast<std::size_t>(bins[x]);
            const float vx1 = m_columnNear[i] * v;
            const float vx0 = m_columnFar[i] * v;
            upper[first] += vy1 * vx1;
            lower[first] += vy0 * vx1;
            upper[first + orientationBins] += vy1 * vx0;
            lower[first + orientationBins] += vy0 * vx0;
        }
        for (int x = vectorEnd; x < visibleColumns; ++x) {
            const float v = magnitude[x];
            const auto i = static_cast<std::size_t>(x);
            const std::size_t first =
                static_cast<std::size_t>(m_columnCell[i]) * orientationBins + static_cast<std::size_t>(bins[x]);
            upper[first] += vy1 * m_columnNear[i] * v;
            lower[first] += vy0 * m_columnNear[i] * v;
            upper[first + orientationBins] += vy1 * m_columnFar[i] * v;
            lower[first + orientationBins] += vy0 * m_columnFar[i] * v;
        }
    }

    // The energy of each cell over the nine unsigned orientations.
    m_energy.resize(static_cast<std::size_t>(cellRows) * static_cast<std::size_t>(cellColumns));
    for (int r = 0; r < cellRows; ++r) {
        for (int c = 0; c < cellColumns; ++c) {
            const float* h = m_histograms.data() + static_cast<std::size_t>(r + 1) * histogramRow
                + static_cast<std::size_t>(c + 1) * orientationBins;
            float energy = 0;
            for (int o = 0; o < contrastInsensitiveBins; ++o) {
                const float both = h[o] + h[o + contrastInsensitiveBins];
                energy += both * both;
            }
            m_energy[static_cast<std::size_t>(r) * static_cast<std::size_t>(cellColumns) + static_cast<std::size_t>(c)] =
                energy;
        }
    }

    // 31 features per cell: 18 signed and 9 unsigned orientations, each normalised by
    // the four 2x2 blocks around the cell and clipped, and four texture sums.
    const int padding = m_spec.windowCells;
    const int offset = (padding - 1) / 2;
    level.features.resize(facemodel::hogPlanes);
    for (Plane& plane : level.features)
        plane.resize(hogRows + padding - 1, hogColumns + padding - 1);
    const float eps = static_cast<float>(0.0001);
    const float clip = static_cast<float>(0.2);
    const float scale = static_cast<float>(0.1);
    const float textureScale = static_cast<float>(2 * 0.2357);
    const std::size_t planeColumns = static_cast<std::size_t>(level.features[0].columns);
    std::array<float*, facemodel::hogPlanes> planes{};
    for (std::size_t p = 0; p < planes.size(); ++p)
        planes[p] = level.features[p].values.data();
    for (int y = 0; y < hogRows; ++y) {
        const float* above = m_energy.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(cellColumns);
        const float* centre = above + cellColumns;
        const float* below = centre + cellColumns;
        for (int x = 0; x < hogColumns; ++x) {
            // The energies of the four 2x2 blocks that hold the cell (y + 1, x + 1).
            const std::array<float, 4> z1{centre[x + 1], above[x + 1], centre[x], above[x]};
            const std::array<float, 4> z2{centre[x + 2], above[x + 2], centre[x + 1], above[x + 1]};
            const std::array<float, 4> z3{below[x + 1], centre[x + 1], below[x], centre[x]};
            const std::array<float, 4> z4{below[x + 2], centre[x + 2], below[x + 1], centre[x + 1]};
            // Per block: the histogram normalised by the block's energy and clipped.
            const float* h = m_histograms.data() + static_cast<std::size_t>(y + 2) * histogramRow
                + static_cast<std::size_t>(x + 2) * orientationBins;
            const Floats low = loadFloats(h);         // signed orientations 0-7
            const Floats middle = loadFloats(h + 8);  // 8-15
            const Floats high = loadFloats(h + 16);   // 16, 17 (the rest is the next cell's)
            const Floats unsignedLow = low + loadFloats(h + contrastInsensitiveBins); // unsigned 0-7
            const float unsignedLast = h[8] + h[17];
            std::array<Floats, 4> lows{};
            std::array<Floats, 4> middles{};
            std::array<Floats, 4> highs{};
            std::array<Floats, 4> unsignedLows{};
            std::array<float, 4> unsignedLasts{};
            for (std::size_t k = 0; k < 4; ++k) {
                const float limit = clip * std::sqrt(z1[k] + z2[k] + z3[k] + z4[k] + eps);
                const float gain = scale / limit;
                const auto normalise = [&](const Floats& v) { return (v < limit ? v : Floats{} + limit) * gain; };
                lows[k] = normalise(low);
                middles[k] = normalise(middle);
                highs[k] = normalise(high);
                unsignedLows[k] = normalise(unsignedLow);
                unsignedLasts[k] = (unsignedLast < limit ? unsignedLast : limit) * gain;
            }
            const auto blockSum = [](const std::array<Floats, 4>& v) { return (v[0] + v[1]) + (v[2] + v[3]); };
            const Floats signedLow = blockSum(lows);
            const Floats signedMiddle = blockSum(middles);
            const Floats signedHigh = blockSum(highs);
            const Floats unsignedSum = blockSum(unsignedLows);
            const std::size_t at =
                static_cast<std::size_t>(y + offset) * planeColumns + static_cast<std::size_t>(x + offset);
            for (int o = 0; o < 8; ++o) {
                planes[static_cast<std::size_t>(o)][at] = signedLow[o];
                planes[static_cast<std::size_t>(o + 8)][at] = signedMiddle[o];
                planes[static_cast<std::size_t>(orientationBins + o)][at] = unsignedSum[o];
            }
            planes[16][at] = signedHigh[0];
            planes[17][at] = signedHigh[1];
            planes[orientationBins + 8][at] =
                (unsignedLasts[0] + unsignedLasts[1]) + (unsignedLasts[2] + unsignedLasts[3]);
            // Four texture features: per block, the sum over the signed orientations,
            // three at a time in dlib's order.
            for (std::size_t k = 0; k < 4; ++k) {
                std::array<float, orientationBins> n{};
                for (int o = 0; o < 8; ++o) {
                    n[static_cast<std::size_t>(o)] = lows[k][o];
                    n[static_cast<std::size_t>(o + 8)] = middles[k][o];
                }
                n[16] = highs[k][0];
                n[17] = highs[k][1];
                float texture = 0;
                for (std::size_t o = 0; o < orientationBins; o += 3)
                    texture += n[o] + n[o + 1] + n[o + 2];
                planes[orientationBins + contrastInsensitiveBins + k][at] = texture * textureScale;
            }
        }
    }
}

void HogFaceScanner::filterLevel(const Level& level, int levelIndex)
{
    const Plane& first = level.features.front();
    const int rows = first.rows;
    const int columns = first.columns;
    const int taps = facemodel::filterTaps;
    const int firstRow = taps / 2;
    const int firstColumn = taps / 2;
    const int lastRow = rows - (taps - 1) / 2;
    const int lastColumn = columns - (taps - 1) / 2;
    m_rowPass.resize(rows, columns);
    m_saliency.resize(rows, columns);
    int vectorEnd = firstColumn; // dlib filters eight columns at a time up to here
    while (vectorEnd < lastColumn - 7)
        vectorEnd += 8;

    const int window = m_spec.windowCells;
    for (const facemodel::DetectorRecord& detector : m_spec.detectors) {
        bool firstFilter = true;
        for (const facemodel::SeparableFilter& filter :
             m_spec.filters.subspan(detector.firstFilter, detector.filterCount)) {
            const Plane& in = level.features[filter.plane];
            const int span = lastColumn - firstColumn;
            const int vectorSpan = vectorEnd - firstColumn;
            for (int r = 0; r < rows; ++r) {
                const float* source = in.row(r);
                filterLine([&](int c, int k) { return source + c + k; }, m_rowPass.row(r) + firstColumn, false,
                           vectorSpan, span, filter.row);
            }
            const auto stride = static_cast<std::size_t>(columns);
            for (int r = firstRow; r < lastRow; ++r) {
                const float* source = m_rowPass.row(r - firstRow) + firstColumn;
                filterLine([&](int c, int k) { return source + static_cast<std::size_t>(k) * stride + c; },
                           m_saliency.row(r) + firstColumn, !firstFilter, vectorSpan, span, filter.column);
            }
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
                const Box pixels{cellToPixel(cells.left, m_spec.cellSize, window),
                                 cellToPixel(cells.top, m_spec.cellSize, window),
                                 cellToPixel(cells.right, m_spec.cellSize, window),
                                 cellToPixel(cells.bottom, m_spec.cellSize, window)};
                const Box up = scaleBox(pixels, m_spec.pyramidStep, levelIndex, true);
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
    if (image.width <= 0 || image.height <= 0 || m_spec.detectors.empty())
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
        computeFeatures(level);
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
            return inner / hull(box, other).area() > m_spec.overlapIou || inner / box.area() > m_spec.overlapCovered
                || inner / other.area() > m_spec.overlapCovered;
        });
        if (!suppressed)
            faces.push_back({candidate.box.left, candidate.box.top, candidate.box.right, candidate.box.bottom,
                             candidate.score});
    }
}

} // namespace verticora::detail
