#include "platform/LandmarkDetector.h"

#include "platform/DlibFaceModel.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <span>
#include <utility>

namespace verticora {

using detail::DetectedFace;
using detail::DlibFaceModel;
using detail::FaceModelError;

namespace {

// ---- luma ----------------------------------------------------------------------------

void copyLuma(const PixelBufferView& frame, std::uint8_t* out)
{
    const auto width = static_cast<std::size_t>(frame.width());
    for (int y = 0; y < frame.height(); ++y, out += width) {
        const std::uint8_t* in = frame.row(0, y);
        if (isNV12(frame.format()) || isI420(frame.format())) {
            std::copy_n(in, width, out); // plane 0 is the luma plane
        } else if (frame.format() == pixelFormat::bgra) {
            for (std::size_t x = 0; x < width; ++x, in += 4)
                out[x] = static_cast<std::uint8_t>((29 * in[0] + 150 * in[1] + 77 * in[2] + 128) >> 8);
        } else {
            const std::size_t first = frame.format() == pixelFormat::uyvy ? 1 : 0; // luma sits between chroma bytes
            for (std::size_t x = 0; x < width; ++x)
                out[x] = in[2 * x + first];
        }
    }
}

// Halves a grey image with 2x2 means (a lone last row or column is averaged with itself),
// through `scratch`.
void halve(std::vector<std::uint8_t>& pixels, std::vector<std::uint8_t>& scratch, int& width, int& height)
{
    const int halfWidth = (width + 1) / 2;
    const int halfHeight = (height + 1) / 2;
    scratch.resize(static_cast<std::size_t>(halfWidth) * static_cast<std::size_t>(halfHeight));
    const auto at = [&](int x, int y) {
        return pixels[static_cast<std::size_t>(std::min(y, height - 1)) * static_cast<std::size_t>(width)
                      + static_cast<std::size_t>(std::min(x, width - 1))];
    };
    for (int y = 0; y < halfHeight; ++y) {
        for (int x = 0; x < halfWidth; ++x) {
            const int sum = at(2 * x, 2 * y) + at(2 * x + 1, 2 * y) + at(2 * x, 2 * y + 1) + at(2 * x + 1, 2 * y + 1);
            scratch[static_cast<std::size_t>(y) * static_cast<std::size_t>(halfWidth) + static_cast<std::size_t>(x)] =
                static_cast<std::uint8_t>((sum + 2) / 4);
        }
    }
    pixels.swap(scratch);
    width = halfWidth;
    height = halfHeight;
}

// One source coordinate of bilinear sampling: the two neighbours and the weight of the
// second, in 1/256.
struct Tap {
    int first = 0;
    int second = 0;
    int weight = 0;
};

// Pixel centres map to pixel centres, so normalised positions agree in both images.
void bilinearTaps(int sourceSize, int targetSize, std::vector<Tap>& taps)
{
    taps.resize(static_cast<std::size_t>(targetSize));
    const double step = static_cast<double>(sourceSize) / targetSize;
    for (int i = 0; i < targetSize; ++i) {
        const double s = std::clamp((i + 0.5) * step - 0.5, 0.0, static_cast<double>(sourceSize - 1));
        const int first = static_cast<int>(s);
        taps[static_cast<std::size_t>(i)] = {first, std::min(first + 1, sourceSize - 1),
                                             static_cast<int>(std::lround((s - first) * 256))};
    }
}

// ---- head yaw ------------------------------------------------------------------------

struct Vec3 {
    double x = 0;
    double y = 0;
    double z = 0;
};

// A generic head (arbitrary units; x to the image's right for a frontal face, y up, z
// towards the camera) at six of the 68 landmarks: nose tip, chin, the outer eye corners
// and the mouth corners.
constexpr std::array<std::pair<std::size_t, Vec3>, 6> headModel{{
    {30, {0, 0, 0}},
    {8, {0, -330, -65}},
    {36, {-225, 170, -135}},
    {45, {225, 170, -135}},
    {48, {-150, -150, -125}},
    {54, {150, -150, -125}},
}};

double dot(const Vec3& a, const Vec3& b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

Vec3 scaled(const Vec3& a, double f)
{
    return {a.x * f, a.y * f, a.z * f};
}

Vec3 plus(const Vec3& a, const Vec3& b)
{
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}

Vec3 minus(const Vec3& a, const Vec3& b)
{
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

Vec3 cross(const Vec3& a, const Vec3& b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

using Matrix3 = std::array<std::array<double, 3>, 3>;

std::optional<Matrix3> inverse(const Matrix3& m)
{
    Matrix3 cofactor{};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            const int r1 = (r + 1) % 3;
            const int r2 = (r + 2) % 3;
            const int c1 = (c + 1) % 3;
            const int c2 = (c + 2) % 3;
            cofactor[c][r] = m[r1][c1] * m[r2][c2] - m[r1][c2] * m[r2][c1]; // transposed: the adjugate
        }
    }
    const double determinant = m[0][0] * cofactor[0][0] + m[0][1] * cofactor[1][0] + m[0][2] * cofactor[2][0];
    if (!(std::abs(determinant) > 1e-12))
        return std::nullopt;
    for (auto& row : cofactor) {
        for (double& value : row)
            value /= determinant;
    }
    return cofactor;
}

// Fits image ≈ A · head + t (a scaled orthographic camera) by least squares and reads
// the yaw from the rotation in A. `points` are in pixels with y up.
std::optional<double> estimateYaw(std::span<const Point, detail::faceLandmarkCount> points)
{
    Vec3 headMean;
    Point imageMean;
    for (const auto& [index, head] : headModel) {
        headMean = plus(headMean, head);
        imageMean = {imageMean.x + points[index].x, imageMean.y + points[index].y};
    }
    const double n = headModel.size();
    headMean = scaled(headMean, 1 / n);
    imageMean = {imageMean.x / n, imageMean.y / n};

    Matrix3 headScatter{};
    Vec3 imageXByHead;
    Vec3 imageYByHead;
    for (const auto& [index, head] : headModel) {
        const Vec3 h = minus(head, headMean);
        const std::array<double, 3> hv{h.x, h.y, h.z};
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c)
                headScatter[r][c] += hv[r] * hv[c];
        }
        imageXByHead = plus(imageXByHead, scaled(h, points[index].x - imageMean.x));
        imageYByHead = plus(imageYByHead, scaled(h, points[index].y - imageMean.y));
    }
    const auto solve = inverse(headScatter);
    if (!solve)
        return std::nullopt;
    // The scatter matrix is symmetric, and so is its inverse.
    const auto times = [&](const Vec3& v) {
        const Matrix3& m = *solve;
        return Vec3{dot(v, {m[0][0], m[0][1], m[0][2]}), dot(v, {m[1][0], m[1][1], m[1][2]}),
                    dot(v, {m[2][0], m[2][1], m[2][2]})};
    };
    const Vec3 rowX = times(imageXByHead);
    const Vec3 rowY = times(imageYByHead);

    const double lengthX = std::sqrt(dot(rowX, rowX));
    if (!(lengthX > 1e-9))
        return std::nullopt;
    const Vec3 r1 = scaled(rowX, 1 / lengthX);
    const Vec3 upright = minus(rowY, scaled(r1, dot(rowY, r1)));
    const double lengthY = std::sqrt(dot(upright, upright));
    if (!(lengthY > 1e-9))
        return std::nullopt;
    const Vec3 r3 = cross(r1, scaled(upright, 1 / lengthY));
    // The head's forward axis seen from the camera is (r1.z, r2.z, r3.z).
    const double yaw = std::atan2(r1.z, r3.z);
    return std::isfinite(yaw) ? std::optional(yaw) : std::nullopt;
}

// ---- observations --------------------------------------------------------------------

float confidenceOf(double score)
{
    return static_cast<float>(1.0 / (1.0 + 3.0 / 7.0 * std::exp(-2.0 * score)));
}

struct Normaliser {
    int width;
    int height;

    [[nodiscard]] double x(double pixelX) const { return (pixelX + 0.5) / width; }
    [[nodiscard]] double y(double pixelY) const { return 1.0 - (pixelY + 0.5) / height; }
};

LandmarkRegion regionOf(const DetectedFace& face, std::size_t first, std::size_t last, const Rect& box,
                        const Normaliser& image)
{
    LandmarkRegion region;
    region.pointCount = static_cast<int>(last - first + 1);
    region.normalizedPoints.reserve(last - first + 1);
    for (std::size_t i = first; i <= last; ++i) {
        region.normalizedPoints.push_back({(image.x(face.points[i].x) - box.minX) / box.width,
                                           (image.y(face.points[i].y) - box.minY) / box.height});
    }
    return region;
}

FaceObservation observationOf(const DetectedFace& face, const Normaliser& image)
{
    FaceObservation o;
    // Edges sit half a pixel outside the outermost pixel centres.
    const double minX = image.x(face.left);
    const double maxX = image.x(face.right);
    const double minY = image.y(face.bottom);
    const double maxY = image.y(face.top);
    o.boundingBox = {minX, minY, maxX - minX, maxY - minY};
    o.confidence = confidenceOf(face.score);

    std::array<Point, detail::faceLandmarkCount> upright{};
    for (std::size_t i = 0; i < upright.size(); ++i)
        upright[i] = {face.points[i].x, -face.points[i].y};
    o.yaw = estimateYaw(upright);

    o.faceContour = regionOf(face, 0, 16, o.boundingBox, image);
    o.leftEye = regionOf(face, 36, 41, o.boundingBox, image);
    o.rightEye = regionOf(face, 42, 47, o.boundingBox, image);
    o.noseCrest = regionOf(face, 27, 30, o.boundingBox, image);
    o.nose = regionOf(face, 31, 35, o.boundingBox, image);
    return o;
}

// A pyramid level finds faces down to about this share of its face side.
constexpr double levelReach = 0.85;

// ---- light ---------------------------------------------------------------------------

// A face area whose brightest percent stays below this, or whose levels span less than
// `flatSpan`, is brightened; any other is analysed as it is.
constexpr int dimHighlights = 150;
constexpr int flatSpan = 70;
constexpr double toneWhite = 235;
constexpr double toneMidtone = 0.45; // where the median lands, as a share of white
constexpr double maximumStretch = 12;
// From this stretch on, sensor noise would dominate the gradients: smooth first.
constexpr double noisyStretch = 3;

struct ToneCurve {
    std::array<std::uint8_t, 256> levels{};
    double stretch = 1; // output levels per input level, before the midtones are lifted
};

// The tone curve for grey levels whose histogram is `counts`, or none when they are
// bright and contrasty enough as they are.
std::optional<ToneCurve> toneCurve(const std::array<int, 256>& counts)
{
    const long total = std::accumulate(counts.begin(), counts.end(), 0L);
    if (total < 64)
        return std::nullopt;
    const auto percentile = [&](double share) {
        const auto wanted = static_cast<long>(share * static_cast<double>(total));
        long seen = 0;
        for (int v = 0; v < 256; ++v) {
            seen += counts[static_cast<std::size_t>(v)];
            if (seen > wanted)
                return v;
        }
        return 255;
    };
    const int low = percentile(0.01);
    const int median = percentile(0.5);
    const int high = percentile(0.99);
    if (high >= dimHighlights && high - low >= flatSpan)
        return std::nullopt;
    const double span = std::max(high - low, static_cast<int>(toneWhite / maximumStretch));
    const double middle = std::clamp((median - low) / span, 0.02, 0.98);
    const double gamma = std::clamp(std::log(toneMidtone) / std::log(middle), 0.4, 1.0);
    ToneCurve curve;
    curve.stretch = toneWhite / span;
    for (int v = 0; v < 256; ++v) {
        const double x = std::clamp((v - low) / span, 0.0, 1.0);
        curve.levels[static_cast<std::size_t>(v)] = static_cast<std::uint8_t>(std::lround(toneWhite * std::pow(x, gamma)));
    }
    return curve;
}

// A 1-2-1 binomial smoothing of a grey image, through `scratch`; edges repeat.
void smooth(std::vector<std::uint8_t>& pixels, std::vector<std::uint8_t>& scratch, int width, int height)
{
    scratch.resize(pixels.size());
    const auto w = static_cast<std::size_t>(width);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* in = pixels.data() + static_cast<std::size_t>(y) * w;
        std::uint8_t* out = scratch.data() + static_cast<std::size_t>(y) * w;
        for (int x = 0; x < width; ++x) {
            const int left = in[std::max(x - 1, 0)];
            const int right = in[std::min(x + 1, width - 1)];
            out[x] = static_cast<std::uint8_t>((left + 2 * in[x] + right + 2) / 4);
        }
    }
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* up = scratch.data() + static_cast<std::size_t>(std::max(y - 1, 0)) * w;
        const std::uint8_t* in = scratch.data() + static_cast<std::size_t>(y) * w;
        const std::uint8_t* down = scratch.data() + static_cast<std::size_t>(std::min(y + 1, height - 1)) * w;
        std::uint8_t* out = pixels.data() + static_cast<std::size_t>(y) * w;
        for (std::size_t x = 0; x < w; ++x)
            out[x] = static_cast<std::uint8_t>((up[x] + 2 * in[x] + down[x] + 2) / 4);
    }
}

// ---- the second finder's faces -------------------------------------------------------

// Where HOG puts the box of a face the second finder found, fitted on faces both find
// (`verticora-face-conditions --fit-box` over the desk footage and the portrait): its
// side in units of the finder's box side, and its centre from the finder's eye midpoint,
// along the face's own axes, in units of its side.
constexpr double hogSidePerFinderSide = 1.06;
constexpr double hogCenterRightOfEyes = 0.01;
constexpr double hogCenterBelowEyes = 0.19;
// A face rolled by more than this is turned upright before the cascade measures it.
constexpr double uprightRoll = 0.17; // radians, about 10 degrees
// The cascade's eyes must lie this close to the finder's, in finder eye distances.
constexpr double eyeAgreement = 0.4;

Point meanOf(std::span<const Point> points)
{
    Point sum;
    for (const Point& p : points)
        sum = {sum.x + p.x, sum.y + p.y};
    const auto n = static_cast<double>(points.size());
    return {sum.x / n, sum.y / n};
}

float finderConfidence(float score)
{
    // The finder's threshold lands a little above the measurable 0.7.
    const float share = (score - BlazeFaceFinder::minimumScore) / (1.0f - BlazeFaceFinder::minimumScore);
    return 0.72f + 0.27f * std::clamp(share, 0.0f, 1.0f);
}

} // namespace

struct LandmarkDetector::Taps {
    int sourceWidth = 0;
    int sourceHeight = 0;
    int targetWidth = 0;
    int targetHeight = 0;
    std::vector<Tap> columns;
    std::vector<Tap> rows;
    std::vector<int> across; // two source rows interpolated across
};

std::filesystem::path LandmarkDetector::defaultModelPath()
{
    return VERTICORA_FACE_MODEL_FILE;
}

LandmarkDetector::LandmarkDetector(std::filesystem::path modelPath, std::filesystem::path finderModelPath)
    : m_modelPath(std::move(modelPath)), m_taps(std::make_unique<Taps>()),
      m_finderModelPath(std::move(finderModelPath))
{
    m_load = [path = m_modelPath] { return std::make_unique<DlibFaceModel>(path); };
}

LandmarkDetector::LandmarkDetector(std::function<std::unique_ptr<detail::FaceEngine>()> load)
    : m_load(std::move(load)), m_taps(std::make_unique<Taps>()),
      m_finderModelPath(BlazeFaceFinder::defaultModelPath())
{
}

LandmarkDetector::~LandmarkDetector() = default;
LandmarkDetector::LandmarkDetector(LandmarkDetector&&) noexcept = default;
LandmarkDetector& LandmarkDetector::operator=(LandmarkDetector&&) noexcept = default;

void LandmarkDetector::loadModel()
{
    if (m_engine)
        return;
    if (m_loadFailure)
        throw LandmarkDetectionError(*m_loadFailure);
    try {
        m_engine = m_load();
    } catch (const FaceModelError& error) {
        m_loadFailure = error.what();
        throw LandmarkDetectionError(*m_loadFailure);
    }
}

void LandmarkDetector::prepare()
{
    try {
        loadModel();
    } catch (const LandmarkDetectionError&) {
        // remembered in m_loadFailure; every perform reports it
    }
}

void LandmarkDetector::setSearchHint(const FaceSearchHint& hint)
{
    m_hint = hint;
}

int LandmarkDetector::firstLevel()
{
    const bool recentWholeRange = m_hint && m_lastWholeRange && std::isfinite(m_hint->time)
        && m_hint->time >= *m_lastWholeRange && m_hint->time - *m_lastWholeRange < wholeRangeInterval;
    if (recentWholeRange && m_hint->subjectBox) {
        const Rect& box = *m_hint->subjectBox;
        const double subjectSide = std::max(box.width * m_workingWidth, box.height * m_workingHeight);
        const double levels = std::log(smallestFaceShare * subjectSide / (levelReach * detail::levelFaceSide(0)))
            / std::log(6.0 / 5.0);
        if (std::isfinite(levels) && levels >= 1)
            return static_cast<int>(std::min(levels, 32.0));
    }
    if (m_hint && std::isfinite(m_hint->time))
        m_lastWholeRange = m_hint->time;
    return 0;
}

void LandmarkDetector::readLuma(const PixelBufferView& frame)
{
    m_lumaWidth = frame.width();
    m_lumaHeight = frame.height();
    m_luma.resize(static_cast<std::size_t>(m_lumaWidth) * static_cast<std::size_t>(m_lumaHeight));
    copyLuma(frame, m_luma.data());
}

void LandmarkDetector::resampleToWorkingSize()
{
    // Bilinear sampling aliases below half size, so large frames are halved first.
    while (std::max(m_lumaWidth, m_lumaHeight) > 2 * workingSide)
        halve(m_luma, m_halved, m_lumaWidth, m_lumaHeight);
    const double scale = static_cast<double>(workingSide) / std::max(m_lumaWidth, m_lumaHeight);
    m_workingWidth = std::max(1, static_cast<int>(std::lround(m_lumaWidth * scale)));
    m_workingHeight = std::max(1, static_cast<int>(std::lround(m_lumaHeight * scale)));
    m_working.resize(static_cast<std::size_t>(m_workingWidth) * static_cast<std::size_t>(m_workingHeight));

    Taps& taps = *m_taps;
    if (taps.sourceWidth != m_lumaWidth || taps.targetWidth != m_workingWidth) {
        bilinearTaps(m_lumaWidth, m_workingWidth, taps.columns);
        taps.sourceWidth = m_lumaWidth;
        taps.targetWidth = m_workingWidth;
    }
    if (taps.sourceHeight != m_lumaHeight || taps.targetHeight != m_workingHeight) {
        bilinearTaps(m_lumaHeight, m_workingHeight, taps.rows);
        taps.sourceHeight = m_lumaHeight;
        taps.targetHeight = m_workingHeight;
    }
    // Each source row is interpolated across once, into one of two row buffers, and each
    // output row blends the two rows it lies between (the same sums as pixel by pixel).
    const auto width = static_cast<std::size_t>(m_workingWidth);
    taps.across.resize(2 * width);
    std::array<int, 2> held{-1, -1}; // the source row in each buffer
    // Source row y interpolated across, keeping the buffer that holds row `keep`.
    const auto across = [&](int y, int keep) -> const int* {
        for (std::size_t slot = 0; slot < 2; ++slot) {
            if (held[slot] == y)
                return taps.across.data() + slot * width;
        }
        const std::size_t slot = held[0] == keep ? 1 : 0;
        int* out = taps.across.data() + slot * width;
        const std::uint8_t* in = m_luma.data() + static_cast<std::size_t>(y) * m_lumaWidth;
        for (std::size_t c = 0; c < width; ++c) {
            const Tap& column = taps.columns[c];
            out[c] = in[column.first] * (256 - column.weight) + in[column.second] * column.weight;
        }
        held[slot] = y;
        return out;
    };
    std::uint8_t* out = m_working.data();
    for (const Tap& row : taps.rows) {
        const int* upper = across(row.first, row.second);
        const int* lower = across(row.second, row.first);
        for (std::size_t c = 0; c < width; ++c)
            out[c] = static_cast<std::uint8_t>((upper[c] * (256 - row.weight) + lower[c] * row.weight + 32768) >> 16);
        out += width;
    }
}

void LandmarkDetector::normaliseLight()
{
    m_toned = false;
    if (!m_normalisesLight)
        return;
    // The subject's face, with some margin, when one is followed; else the whole frame.
    int left = 0;
    int top = 0;
    int right = m_workingWidth;
    int bottom = m_workingHeight;
    if (m_hint && m_hint->subjectBox) {
        const Rect& box = *m_hint->subjectBox;
        const double margin = 0.15;
        left = std::max(0, static_cast<int>((box.minX - margin * box.width) * m_workingWidth));
        right = std::min(m_workingWidth, static_cast<int>(std::ceil((box.maxX() + margin * box.width) * m_workingWidth)));
        top = std::max(0, static_cast<int>((1 - box.maxY() - margin * box.height) * m_workingHeight));
        bottom = std::min(m_workingHeight,
                          static_cast<int>(std::ceil((1 - box.minY + margin * box.height) * m_workingHeight)));
        if (right - left < 16 || bottom - top < 16) {
            left = 0;
            top = 0;
            right = m_workingWidth;
            bottom = m_workingHeight;
        }
    }
    std::array<int, 256> counts{};
    const auto width = static_cast<std::size_t>(m_workingWidth);
    for (int y = top; y < bottom; y += 2) {
        const std::uint8_t* row = m_working.data() + static_cast<std::size_t>(y) * width;
        for (int x = left; x < right; x += 2)
            ++counts[row[x]];
    }
    const std::optional<ToneCurve> curve = toneCurve(counts);
    if (!curve)
        return;
    m_tone = curve->levels;
    m_toned = true;
    if (curve->stretch >= noisyStretch)
        smooth(m_working, m_smoothed, m_workingWidth, m_workingHeight);
    for (std::uint8_t& v : m_working)
        v = m_tone[v];
}

std::vector<FaceObservation> LandmarkDetector::perform(const PixelBufferView& frame)
{
    loadModel();
    readLuma(frame);
    resampleToWorkingSize();
    normaliseLight();

    m_lastFirstLevel = firstLevel();
    const detail::GreyView working{m_working.data(), m_workingWidth, m_workingHeight,
                                   static_cast<std::size_t>(m_workingWidth)};
    m_engine->detect(working, m_lastFirstLevel, m_faces);
    const Normaliser image{m_workingWidth, m_workingHeight};
    std::vector<FaceObservation> observations;
    observations.reserve(m_faces.size());
    for (const DetectedFace& face : m_faces)
        observations.push_back(observationOf(face, image));
    return observations;
}

std::optional<std::string> LandmarkDetector::finderLoadFailure() const
{
    return m_finder ? m_finder->loadFailure() : std::nullopt;
}

void LandmarkDetector::measureUpright(DetectedFace& face, Point center, double roll)
{
    // The patch's x axis runs along the eye line: patch pixel (u, v) lies at
    // center + (u - c) * (cos, sin) + (v - c) * (-sin, cos) in the working image.
    const double side = face.right - face.left;
    const int patchSide = std::clamp(static_cast<int>(std::ceil(2 * side)), 16, 2 * workingSide);
    const double c = (patchSide - 1) / 2.0;
    const double cosine = std::cos(roll);
    const double sine = std::sin(roll);
    m_upright.resize(static_cast<std::size_t>(patchSide) * static_cast<std::size_t>(patchSide));
    const auto width = static_cast<std::size_t>(m_workingWidth);
    for (int v = 0; v < patchSide; ++v) {
        for (int u = 0; u < patchSide; ++u) {
            const double x = center.x + (u - c) * cosine - (v - c) * sine;
            const double y = center.y + (u - c) * sine + (v - c) * cosine;
            std::uint8_t value = 0; // outside the picture, as the cascade reads it
            if (x >= 0 && y >= 0 && x <= m_workingWidth - 1 && y <= m_workingHeight - 1) {
                const int x0 = static_cast<int>(x);
                const int y0 = static_cast<int>(y);
                const int x1 = std::min(x0 + 1, m_workingWidth - 1);
                const int y1 = std::min(y0 + 1, m_workingHeight - 1);
                const double ax = x - x0;
                const double ay = y - y0;
                const auto at = [&](int px, int py) {
                    return static_cast<double>(m_working[static_cast<std::size_t>(py) * width + static_cast<std::size_t>(px)]);
                };
                const double upper = at(x0, y0) + ax * (at(x1, y0) - at(x0, y0));
                const double lower = at(x0, y1) + ax * (at(x1, y1) - at(x0, y1));
                value = static_cast<std::uint8_t>(std::lround(upper + ay * (lower - upper)));
            }
            m_upright[static_cast<std::size_t>(v) * static_cast<std::size_t>(patchSide) + static_cast<std::size_t>(u)] = value;
        }
    }
    DetectedFace upright = face;
    upright.left = c - side / 2;
    upright.right = c + side / 2;
    upright.top = c - side / 2;
    upright.bottom = c + side / 2;
    const detail::GreyView patch{m_upright.data(), patchSide, patchSide, static_cast<std::size_t>(patchSide)};
    m_engine->measure(patch, upright);
    for (std::size_t i = 0; i < face.points.size(); ++i) {
        const double u = upright.points[i].x - c;
        const double v = upright.points[i].y - c;
        face.points[i] = {center.x + u * cosine - v * sine, center.y + u * sine + v * cosine};
    }
}

std::optional<DetectedFace> LandmarkDetector::measureFound(const BlazeFace& found, double toWorking)
{
    const auto working = [&](Point p) { return Point{p.x * toWorking, p.y * toWorking}; };
    const Point rightEye = working(found.keypoints[BlazeFace::rightEye]); // on the image's left
    const Point leftEye = working(found.keypoints[BlazeFace::leftEye]);
    const double eyeDistance = std::hypot(leftEye.x - rightEye.x, leftEye.y - rightEye.y);
    if (!(eyeDistance > 2))
        return std::nullopt;
    const double roll = std::atan2(leftEye.y - rightEye.y, leftEye.x - rightEye.x);
    const double side = hogSidePerFinderSide * found.side * toWorking;
    const Point eyes{(leftEye.x + rightEye.x) / 2, (leftEye.y + rightEye.y) / 2};
    const double across = hogCenterRightOfEyes * side;
    const double down = hogCenterBelowEyes * side;
    const Point center{eyes.x + std::cos(roll) * across - std::sin(roll) * down,
                       eyes.y + std::sin(roll) * across + std::cos(roll) * down};
    DetectedFace face;
    face.left = center.x - side / 2;
    face.right = center.x + side / 2;
    face.top = center.y - side / 2;
    face.bottom = center.y + side / 2;
    if (std::abs(roll) > uprightRoll)
        measureUpright(face, center, roll);
    else
        m_engine->measure({m_working.data(), m_workingWidth, m_workingHeight, static_cast<std::size_t>(m_workingWidth)},
                          face);

    // dlib's 36-41 are the eye on the image's left, the finder's "right eye".
    const Point imageLeftEye = meanOf(std::span(face.points).subspan(36, 6));
    const Point imageRightEye = meanOf(std::span(face.points).subspan(42, 6));
    const double limit = eyeAgreement * eyeDistance;
    if (std::hypot(imageLeftEye.x - rightEye.x, imageLeftEye.y - rightEye.y) > limit
        || std::hypot(imageRightEye.x - leftEye.x, imageRightEye.y - leftEye.y) > limit)
        return std::nullopt;
    return face;
}

std::vector<FaceObservation> LandmarkDetector::findMissedFaces(const PixelBufferView& frame)
{
    if (!m_engine || m_working.empty() || frame.width() <= 0)
        return {};
    if (!m_finder)
        m_finder = std::make_unique<BlazeFaceFinder>(m_finderModelPath);
    const std::vector<BlazeFace> found =
        m_finder->find(frame, m_toned ? std::span<const std::uint8_t>(m_tone) : std::span<const std::uint8_t>());
    const double toWorking = static_cast<double>(m_workingWidth) / frame.width();
    const Normaliser image{m_workingWidth, m_workingHeight};
    std::vector<FaceObservation> observations;
    for (const BlazeFace& face : found) {
        if (const std::optional<DetectedFace> measured = measureFound(face, toWorking)) {
            FaceObservation o = observationOf(*measured, image);
            o.confidence = finderConfidence(face.score);
            observations.push_back(std::move(o));
        }
    }
    return observations;
}

} // namespace verticora
