#include "platform/HogFaceScanner.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#if defined(__AVX2__)
#include <immintrin.h>
#endif

// The arithmetic below repeats dlib's (scan_fhog_pyramid.h, fhog.h, interpolation.h,
// spatial_filtering.h) operation for operation in single precision, including where its
// vector and scalar paths round differently, so that the pyramid and the features come
// out the same and the scores to the last bits. With AVX2 the hot loops are vectorised
// by hand; without it they run as dlib's scalar code does.

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

// Where the pixels 1 to end - 1 of a row vote and with what weights: the offset of
// the histogram bin (the cell to the left of the pixel and the pixel's orientation), and
// the gradient length weighted by the distance to that cell and the next, above and
// below. dlib weights its vector columns (up to vectorEnd) as vy * (vx * v) and the rest
// as (vy * vx) * v; so does this.
void rowVotes(const std::uint8_t* up, const std::uint8_t* middle, const std::uint8_t* down, int vectorEnd, int end,
              float vy0, float vy1, const ColumnWeights& columns, const std::uint8_t* orientations, RowVotes& votes)
{
    int x = 1;
#if defined(__AVX2__)
    const auto widen = [](const std::uint8_t* p) {
        return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
    };
    const __m256 above = _mm256_set1_ps(vy1);
    const __m256 below = _mm256_set1_ps(vy0);
    const __m256i centre = _mm256_set1_epi32(255);
    const __m256i range = _mm256_set1_epi32(gradientRange);
    const __m256i byte = _mm256_set1_epi32(0xff);
    for (; x < vectorEnd; x += 8) {
        const auto i = static_cast<std::size_t>(x);
        const __m256i dx = _mm256_sub_epi32(widen(middle + x + 1), widen(middle + x - 1));
        const __m256i dy = _mm256_sub_epi32(widen(down + x), widen(up + x));
        const __m256 gx = _mm256_cvtepi32_ps(dx);
        const __m256 gy = _mm256_cvtepi32_ps(dy);
        const __m256 v = _mm256_sqrt_ps(_mm256_add_ps(_mm256_mul_ps(gx, gx), _mm256_mul_ps(gy, gy)));
        const __m256i index = _mm256_add_epi32(_mm256_mullo_epi32(_mm256_add_epi32(dx, centre), range),
                                               _mm256_add_epi32(dy, centre));
        const __m256i bins = _mm256_and_si256(
            _mm256_i32gather_epi32(reinterpret_cast<const int*>(orientations), index, 1), byte);
        const __m256i cells = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(columns.cell.data() + i));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(votes.bin.data() + i), _mm256_add_epi32(cells, bins));
        const __m256 near = _mm256_mul_ps(_mm256_loadu_ps(columns.near.data() + i), v);
        const __m256 far = _mm256_mul_ps(_mm256_loadu_ps(columns.far.data() + i), v);
        _mm256_storeu_ps(votes.upperNear.data() + i, _mm256_mul_ps(above, near));
        _mm256_storeu_ps(votes.lowerNear.data() + i, _mm256_mul_ps(below, near));
        _mm256_storeu_ps(votes.upperFar.data() + i, _mm256_mul_ps(above, far));
        _mm256_storeu_ps(votes.lowerFar.data() + i, _mm256_mul_ps(below, far));
    }
#endif
    for (; x < end; ++x) {
        const auto i = static_cast<std::size_t>(x);
        const int dx = static_cast<int>(middle[x + 1]) - static_cast<int>(middle[x - 1]);
        const int dy = static_cast<int>(down[x]) - static_cast<int>(up[x]);
        const auto gx = static_cast<float>(dx);
        const auto gy = static_cast<float>(dy);
        const float v = std::sqrt(gx * gx + gy * gy);
        votes.bin[i] = columns.cell[i] + orientations[(dx + 255) * gradientRange + dy + 255];
        if (x < vectorEnd) {
            const float near = columns.near[i] * v;
            const float far = columns.far[i] * v;
            votes.upperNear[i] = vy1 * near;
            votes.lowerNear[i] = vy0 * near;
            votes.upperFar[i] = vy1 * far;
            votes.lowerFar[i] = vy0 * far;
        } else {
            votes.upperNear[i] = vy1 * columns.near[i] * v;
            votes.lowerNear[i] = vy0 * columns.near[i] * v;
            votes.upperFar[i] = vy1 * columns.far[i] * v;
            votes.lowerFar[i] = vy0 * columns.far[i] * v;
        }
    }
}

using Taps = std::array<float, facemodel::filterTaps>;

Floats loadFloats(const float* p)
{
    Floats v;
    std::memcpy(&v, p, sizeof(v));
    return v;
}

// The filters run as many columns at a time as the processor's vectors hold.
#if defined(__AVX__)
constexpr int filterLanes = 8;
#else
constexpr int filterLanes = 4;
#endif
using FilterFloats = float __attribute__((vector_size(4 * filterLanes)));

// A 10-tap filter along a line of `span` outputs into `out` (added to it with `add`),
// where output c reads the inputs `at(c, k)` for taps k, a vector of outputs at a time
// (and up to seven more past the end, which the caller ignores). The sums are dlib's: three
// partial sums (taps 0 3 6 9, 1 4 7 and 2 5 8) added as first + (second + third). (dlib
// sums its last few columns in tap order instead, which can differ in the last bit.)
template <typename Input>
void filterLine(Input at, float* out, bool add, int span, const Taps& taps)
{
    static_assert(facemodel::filterTaps == 10);
    const auto load = [](const float* p) {
        FilterFloats v;
        std::memcpy(&v, p, sizeof(v));
        return v;
    };
    const auto sumAt = [&](int c) {
        FilterFloats first = load(at(c, 0)) * taps[0];
        FilterFloats second = load(at(c, 1)) * taps[1];
        FilterFloats third = load(at(c, 2)) * taps[2];
        first += load(at(c, 3)) * taps[3];
        second += load(at(c, 4)) * taps[4];
        third += load(at(c, 5)) * taps[5];
        first += load(at(c, 6)) * taps[6];
        second += load(at(c, 7)) * taps[7];
        third += load(at(c, 8)) * taps[8];
        first += load(at(c, 9)) * taps[9];
        return first + (second + third);
    };
    const auto put = [&](int c, FilterFloats sum) {
        if (add)
            sum += load(out + c);
        std::memcpy(out + c, &sum, sizeof(sum));
    };
    int c = 0;
    for (; c + filterLanes < span; c += 2 * filterLanes) { // two at a time, so that the sums overlap
        const FilterFloats a = sumAt(c);
        const FilterFloats b = sumAt(c + filterLanes);
        put(c, a);
        put(c + filterLanes, b);
    }
    for (; c < span; c += filterLanes)
        put(c, sumAt(c));
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
// row and are worked out once, into `plan`, with the byte shuffles that gather the source
// pixels of eight output columns at a time from one 16-byte load.
void resizeGrey(const GreyView& in, std::uint8_t* out, int outWidth, int outHeight, ShrinkColumns& plan)
{
    std::vector<int>& lefts = plan.lefts;
    std::vector<float>& fractions = plan.fractions;
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

    // Eight output columns whose source pixels (left and right) lie within 16 bytes.
    int shuffledColumns = 0;
#if defined(__AVX2__)
    const int groups = vectorColumns / 8;
    plan.shuffles.resize(static_cast<std::size_t>(groups));
    for (int g = 0; g < groups; ++g) {
        const auto first = static_cast<std::size_t>(8 * g);
        const int base = lefts[first];
        if (base + 16 > in.width || lefts[first + 7] + 1 - base > 15)
            break;
        Bytes16& shuffle = plan.shuffles[static_cast<std::size_t>(g)];
        for (std::size_t k = 0; k < 8; ++k) {
            shuffle[k] = static_cast<std::uint8_t>(lefts[first + k] - base);
            shuffle[k + 8] = static_cast<std::uint8_t>(lefts[first + k] + 1 - base);
        }
        shuffledColumns = 8 * (g + 1);
    }
#endif

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
#if defined(__AVX2__)
        for (int c = 0; c < shuffledColumns; c += 8) {
            const auto i = static_cast<std::size_t>(c);
            const auto base = static_cast<std::size_t>(lefts[i]);
            const __m128i shuffle = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&plan.shuffles[i / 8]));
            const __m128i above =
                _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(upper + base)), shuffle);
            const __m128i below =
                _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lower + base)), shuffle);
            const __m256 tl = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(above));
            const __m256 tr = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_srli_si128(above, 8)));
            const __m256 bl = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(below));
            const __m256 br = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_srli_si128(below, 8)));
            const Floats fraction = loadFloats(fractions.data() + i);
            const Floats inverse = 1 - fraction;
            Floats tlv;
            Floats trv;
            Floats blv;
            Floats brv;
            std::memcpy(&tlv, &tl, sizeof(tlv));
            std::memcpy(&trv, &tr, sizeof(trv));
            std::memcpy(&blv, &bl, sizeof(blv));
            std::memcpy(&brv, &br, sizeof(brv));
            const Floats value =
                inverseTb * inverse * tlv + inverseTb * fraction * trv + tb * inverse * blv + tb * fraction * brv;
            __m256 packed;
            std::memcpy(&packed, &value, sizeof(packed));
            const __m256d half = _mm256_set1_pd(0.5);
            const __m128i low = _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(packed)), half));
            const __m128i high = _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(packed, 1)), half));
            const __m128i words = _mm_packus_epi32(low, high);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(outRow + c), _mm_packus_epi16(words, words));
        }
#endif
        for (int c = shuffledColumns; c < vectorColumns; ++c) {
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
    stride = (static_cast<std::size_t>(columns) + 7) / 8 * 8 + 16;
    values.assign(static_cast<std::size_t>(rows) * stride + 16, 0.0f);
}

HogFaceScanner::HogFaceScanner(const HogDetectorSpec& spec)
    : m_spec(spec), m_orientations(static_cast<std::size_t>(gradientRange) * gradientRange + 4)
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
        resizeGrey(from, to.pixels.data(), width, height, m_shrink);
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
    const auto columns = static_cast<std::size_t>(image.width) + 8;
    m_columns.cell.resize(columns);
    m_columns.near.resize(columns);
    m_columns.far.resize(columns);
    for (int x = 1; x < visibleColumns; ++x) {
        const auto i = static_cast<std::size_t>(x);
        if (x < vectorEnd) {
            const float xp = (static_cast<float>(x) + 0.5f) / static_cast<float>(cell) + 0.5f;
            const int ixp = static_cast<int>(xp);
            const float far = xp - static_cast<float>(ixp);
            m_columns.cell[i] = ixp * orientationBins;
            m_columns.near[i] = 1.0f - far;
            m_columns.far[i] = far;
        } else {
            const float xp = static_cast<float>((static_cast<double>(x) + 0.5) / static_cast<double>(cell) - 0.5);
            const int ixp = static_cast<int>(std::floor(xp));
            const float far = xp - static_cast<float>(ixp);
            m_columns.cell[i] = (ixp + 1) * orientationBins;
            m_columns.near[i] = static_cast<float>(1.0 - far);
            m_columns.far[i] = far;
        }
    }
    for (std::vector<float>* weights : {&m_votes.upperNear, &m_votes.lowerNear, &m_votes.upperFar, &m_votes.lowerFar})
        weights->resize(columns);
    m_votes.bin.resize(columns);

    for (int y = 1; y < visibleRows; ++y) {
        const float yp = static_cast<float>((static_cast<float>(y) + 0.5) / static_cast<float>(cell) - 0.5);
        const int iyp = static_cast<int>(std::floor(yp));
        const float vy0 = yp - static_cast<float>(iyp);
        const float vy1 = static_cast<float>(1.0 - vy0);
        const std::uint8_t* up = image.pixels + static_cast<std::size_t>(y - 1) * image.bytesPerRow;
        const std::uint8_t* middle = up + image.bytesPerRow;
        const std::uint8_t* down = middle + image.bytesPerRow;
        rowVotes(up, middle, down, vectorEnd, visibleColumns, vy0, vy1, m_columns, m_orientations.data(), m_votes);

        // Each pixel votes into its cell and the next, in the cell rows above and below
        // it, in dlib's order.
        float* upper = m_histograms.data() + static_cast<std::size_t>(iyp + 1) * histogramRow;
        float* lower = upper + histogramRow;
        const std::int32_t* bins = m_votes.bin.data();
        const float* upperNear = m_votes.upperNear.data();
        const float* lowerNear = m_votes.lowerNear.data();
        const float* upperFar = m_votes.upperFar.data();
        const float* lowerFar = m_votes.lowerFar.data();
        for (int x = 1; x < visibleColumns; ++x) {
            const auto bin = static_cast<std::size_t>(bins[x]);
            upper[bin] += upperNear[x];
            lower[bin] += lowerNear[x];
            upper[bin + orientationBins] += upperFar[x];
            lower[bin + orientationBins] += lowerFar[x];
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
    const std::size_t planeStride = level.features[0].stride;
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
                static_cast<std::size_t>(y + offset) * planeStride + static_cast<std::size_t>(x + offset);
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
    // Only the rows of HOG cells are non-zero; the window padding above and below is not.
    const int firstCellRow = (taps - 1) / 2;
    const int endCellRow = rows - taps / 2;
    const int span = lastColumn - firstColumn;

    const int window = m_spec.windowCells;
    for (const facemodel::DetectorRecord& detector : m_spec.detectors) {
        bool firstFilter = true;
        for (const facemodel::SeparableFilter& filter :
             m_spec.filters.subspan(detector.firstFilter, detector.filterCount)) {
            const Plane& in = level.features[filter.plane];
            for (int r = firstCellRow; r < endCellRow; ++r) {
                const float* source = in.row(r);
                filterLine([&](int c, int k) { return source + c + k; }, m_rowPass.row(r) + firstColumn, false, span,
                           filter.row);
            }
            const std::size_t stride = m_rowPass.stride;
            for (int r = firstRow; r < lastRow; ++r) {
                const float* source = m_rowPass.row(r - firstRow) + firstColumn;
                filterLine([&](int c, int k) { return source + static_cast<std::size_t>(k) * stride + c; },
                           m_saliency.row(r) + firstColumn, !firstFilter, span, filter.column);
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
