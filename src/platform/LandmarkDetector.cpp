#include "platform/LandmarkDetector.h"

#include "platform/DlibFaceModel.h"

#include <algorithm>
#include <array>
#include <cmath>
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

LandmarkDetector::LandmarkDetector(std::filesystem::path modelPath)
    : m_modelPath(std::move(modelPath)), m_taps(std::make_unique<Taps>())
{
    m_load = [path = m_modelPath] { return std::make_unique<DlibFaceModel>(path); };
}

LandmarkDetector::LandmarkDetector(std::function<std::unique_ptr<detail::FaceEngine>()> load)
    : m_load(std::move(load)), m_taps(std::make_unique<Taps>())
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

std::vector<FaceObservation> LandmarkDetector::perform(const PixelBufferView& frame)
{
    loadModel();
    readLuma(frame);
    resampleToWorkingSize();

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

} // namespace verticora
