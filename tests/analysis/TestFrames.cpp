#include "TestFrames.h"

#include "analysis/SeatedPoseDetector.h"

#include <QImage>
#include <QLoggingCategory>
#include <QString>

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace verticora::test {

std::uint8_t toByte(double value)
{
    return static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

TightFrame::TightFrame(int width, int height, std::uint32_t format) : m_width(width), m_height(height), m_format(format)
{
    for (std::size_t i = 0; i < PixelBufferView::planesOf(format); ++i) {
        m_bytes[i].resize(PixelBufferView::planeRowBytes(format, width, i)
                          * std::size_t(PixelBufferView::planeRows(format, height, i)));
    }
}

PixelBufferView TightFrame::view() const
{
    std::vector<PixelPlane> planes;
    for (std::size_t i = 0; i < PixelBufferView::planesOf(m_format); ++i)
        planes.push_back({m_bytes[i].data(), PixelBufferView::planeRowBytes(m_format, m_width, i)});
    return PixelBufferView(m_width, m_height, m_format, planes);
}

std::uint8_t* TightFrame::pixel(std::size_t plane, int x, int y, int bytesPerPixel)
{
    const std::size_t row = PixelBufferView::planeRowBytes(m_format, m_width, plane);
    return m_bytes[plane].data() + std::size_t(y) * row + std::size_t(x * bytesPerPixel);
}

Rgb RgbImage::at(int x, int y) const
{
    x = std::clamp(x, 0, width - 1);
    y = std::clamp(y, 0, height - 1);
    const std::uint8_t* p = rgb.data() + 3 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + x);
    return {double(p[0]), double(p[1]), double(p[2])};
}

Rgb RgbImage::sample(double x, double y) const
{
    const int ix = static_cast<int>(std::floor(x));
    const int iy = static_cast<int>(std::floor(y));
    const double ax = x - ix;
    const double ay = y - iy;
    const Rgb a = at(ix, iy);
    const Rgb b = at(ix + 1, iy);
    const Rgb c = at(ix, iy + 1);
    const Rgb d = at(ix + 1, iy + 1);
    const auto mix = [&](double Rgb::*channel) {
        const double top = a.*channel + ax * (b.*channel - a.*channel);
        const double bottom = c.*channel + ax * (d.*channel - c.*channel);
        return top + ay * (bottom - top);
    };
    return {mix(&Rgb::r), mix(&Rgb::g), mix(&Rgb::b)};
}

std::optional<RgbImage> loadPortrait(std::string& error)
{
    const std::filesystem::path path = std::filesystem::path(VERTICORA_TEST_DATA_DIR) / "astronaut.png";
    // The portrait carries a colour profile libpng complains about; the pixels are fine.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio.warning=false"));
    QImage image;
    if (!std::filesystem::exists(path) || !image.load(QString::fromStdString(path.string()))) {
        error = "The test portrait " + path.string()
            + " is missing or unreadable; run `make test`, which fetches it with scripts/fetch-test-imagery.";
        return std::nullopt;
    }
    image = image.convertToFormat(QImage::Format_RGB888);
    RgbImage result{image.width(), image.height(), {}};
    result.rgb.reserve(static_cast<std::size_t>(3 * image.width() * image.height()));
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = image.constScanLine(y);
        result.rgb.insert(result.rgb.end(), line, line + 3 * image.width());
    }
    return result;
}

PixelBuffer bgraFrame(int width, int height, const std::function<Rgb(int x, int y)>& colour)
{
    PixelBuffer frame(width, height, pixelFormat::bgra);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = frame.row(0, y);
        for (int x = 0; x < width; ++x) {
            const Rgb c = colour(x, y);
            row[4 * x] = toByte(c.b);
            row[4 * x + 1] = toByte(c.g);
            row[4 * x + 2] = toByte(c.r);
            row[4 * x + 3] = 255;
        }
    }
    return frame;
}

PixelBuffer nv12Frame(int width, int height, std::uint32_t format, const std::function<double(int x, int y)>& grey)
{
    PixelBuffer frame(width, height, format);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = frame.row(0, y);
        for (int x = 0; x < width; ++x)
            row[x] = toByte(grey(x, y));
    }
    for (int y = 0; y < PixelBufferView::planeRows(format, height, 1); ++y)
        std::fill_n(frame.row(1, y), PixelBufferView::planeRowBytes(format, width, 1), std::uint8_t{128});
    return frame;
}

FaceObservation frontalFace(double minX, double noseY)
{
    FaceObservation face;
    face.boundingBox = {minX, 1 - noseY - 0.12, 0.2, 0.24};
    face.confidence = 0.95f;
    face.yaw = 0.0;
    const auto region = [](std::vector<Point> points) { return LandmarkRegion{int(points.size()), std::move(points)}; };
    face.faceContour = region({{0.0, 0.7}, {0.5, 0.0}, {1.0, 0.7}});
    face.leftEye = region({{0.3, 0.62}});
    face.rightEye = region({{0.7, 0.62}});
    face.noseCrest = region({{0.5, 0.5}});
    return face;
}

PoseFeatures referencePose(const FaceObservation& face, double aspect)
{
    const SeatedDetection measured = SeatedPoseDetector::landmarks(face, aspect);
    PoseFeatures reference = *PoseFeatures::fromCoreVector(measured.features.value().coreVector());
    reference.landmarkHeight = LandmarkHeightCalibration::capture(measured.features->heightLandmarks);
    return reference;
}

std::vector<FaceObservation> ScriptedRequest::perform(const PixelBufferView&)
{
    if (m_script.fail)
        throw LandmarkRequestError("The landmark model could not be read.");
    ++m_script.requests;
    return m_script.faces;
}

std::vector<FaceObservation> ScriptedRequest::findMissedFaces(const PixelBufferView&)
{
    ++m_script.secondLooks;
    return m_script.missed;
}

} // namespace verticora::test
