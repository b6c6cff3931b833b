#include "FrameCondition.h"

#include "PictureMove.h"

#include "analysis/AnalysisFrames.h"
#include "platform/LandmarkDetector.h"
#include "platform/Y4mClip.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace verticora {

namespace {

Point centerOf(const Rect& box, const std::optional<LandmarkRegion>& region, int width, int height)
{
    Point sum;
    for (const Point& p : region->normalizedPoints)
        sum = {sum.x + p.x, sum.y + p.y};
    const auto n = static_cast<double>(region->normalizedPoints.size());
    return {(box.minX + sum.x / n * box.width) * width, (1 - (box.minY + sum.y / n * box.height)) * height};
}

std::optional<FaceReference> referenceOf(const FaceObservation& face, int width, int height)
{
    const Rect& box = face.boundingBox;
    if (!face.leftEye || !face.rightEye || !face.noseCrest || !face.nose || !face.faceContour
        || face.faceContour->normalizedPoints.empty())
        return std::nullopt;
    const Point left = centerOf(box, face.leftEye, width, height);
    const Point right = centerOf(box, face.rightEye, width, height);
    const Point noseBase = centerOf(box, face.nose, width, height);
    const auto& contour = face.faceContour->normalizedPoints;
    const Point lowest = *std::min_element(contour.begin(), contour.end(),
                                           [](const Point& a, const Point& b) { return a.y < b.y; });
    FaceReference reference;
    reference.eyes = {(left.x + right.x) / 2, (left.y + right.y) / 2};
    reference.nose = centerOf(box, face.noseCrest, width, height);
    reference.chin = {(box.minX + lowest.x * box.width) * width, (1 - (box.minY + lowest.y * box.height)) * height};
    reference.mouth = {noseBase.x + (reference.chin.x - noseBase.x) / 3, noseBase.y + (reference.chin.y - noseBase.y) / 3};
    return reference;
}

std::uint8_t clampLevel(double v)
{
    return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

} // namespace

const std::optional<FaceReference>& ClipReferences::at(double t) const
{
    static const std::optional<FaceReference> none;
    const long index = std::lround(t * framesPerSecond);
    if (index < 0 || index >= static_cast<long>(frames.size()))
        return none;
    return frames[static_cast<std::size_t>(index)];
}

ClipReferences findReferences(const std::filesystem::path& clip, LandmarkDetector& detector)
{
    Y4mReader reader(clip);
    ClipReferences references;
    references.framesPerSecond = reader.frameRate().framesPerSecond();
    AnalysisFrames frames;
    while (std::optional<ClipFrame> frame = reader.next()) {
        const PixelBufferView view = frame->buffer.view();
        const std::optional<PixelBufferView> resized = frames.resized(view);
        const std::vector<FaceObservation> faces = detector.perform(resized ? *resized : view);
        references.frames.push_back(faces.empty() ? std::nullopt : referenceOf(faces.front(), view.width(), view.height()));
    }
    return references;
}

std::vector<FrameCondition> FrameCondition::standardSet()
{
    using Cut = FrameCondition::Cut;
    // The tilt takes a second; the slouch three, slow enough to be followed (a faster
    // slump is the subject of the continuity's own tests).
    constexpr double from = 5;
    constexpr double tilt = 1;
    constexpr double slouch = 3;
    return {
        {"light x1", 1, 0, 0, Cut::none, 0, 0},
        {"light x0.5 + noise 4", 0.5, 4, 0, Cut::none, 0, 0},
        {"light x0.3 + noise 4", 0.3, 4, 0, Cut::none, 0, 0},
        {"light x0.2 + noise 4", 0.2, 4, 0, Cut::none, 0, 0},
        {"light x0.12 + noise 4", 0.12, 4, 0, Cut::none, 0, 0},
        {"rolled 15", 1, 0, 15, Cut::none, from, tilt},
        {"rolled 30", 1, 0, 30, Cut::none, from, tilt},
        {"rolled 35", 1, 0, 35, Cut::none, from, tilt},
        {"rolled 45", 1, 0, 45, Cut::none, from, tilt},
        {"rolled 50", 1, 0, 50, Cut::none, from, tilt},
        {"cut at the chin", 1, 0, 0, Cut::chin, from, slouch},
        {"cut at the mouth", 1, 0, 0, Cut::mouth, from, slouch},
    };
}

std::optional<PixelBuffer> alteredFrame(const PixelBufferView& frame, double t, const FrameCondition& condition,
                                        const std::optional<FaceReference>& reference, std::mt19937& random)
{
    const double eased = condition.ramp > 0 ? std::clamp((t - condition.from) / condition.ramp, 0.0, 1.0)
                                            : (t >= condition.from ? 1.0 : 0.0);
    const double weight = eased * eased * (3 - 2 * eased);
    const bool geometric = weight > 0 && (condition.roll != 0 || condition.cut != FrameCondition::Cut::none);
    const bool tonal = weight > 0 && (condition.light != 1 || condition.noise > 0);
    if (!isNV12(frame.format()) || (!geometric && !tonal) || (geometric && !reference))
        return std::nullopt;

    // Output pixel p comes from source pivot + R(-roll) (p - pivot) - (0, shift), in
    // luma pixels; the chroma plane takes the same map at half the size.
    Point pivot{frame.width() / 2.0, frame.height() / 2.0};
    double shift = 0;
    if (reference) {
        pivot = reference->nose;
        if (condition.cut != FrameCondition::Cut::none) {
            const double cutRow = condition.cut == FrameCondition::Cut::chin ? reference->chin.y : reference->mouth.y;
            shift = weight * std::max(0.0, frame.height() - 0.5 - cutRow);
        }
    }
    const double angle = weight * condition.roll * std::numbers::pi / 180;
    const double cosine = std::cos(angle);
    const double sine = std::sin(angle);
    const double levelScale = 1 + weight * (condition.light - 1);
    const double noise = weight * condition.noise;
    std::normal_distribution<double> lumaNoise(0, std::max(noise, 1e-9));
    std::normal_distribution<double> chromaNoise(0, std::max(noise / 2, 1e-9));

    PixelBuffer altered(frame.width(), frame.height(), frame.format());
    const double black = isFullRange(frame.format()) ? 0 : 16;
    const auto fill = [&](std::size_t plane, int width, int height, int channels, double scale) {
        for (int y = 0; y < height; ++y) {
            std::uint8_t* out = altered.row(plane, y);
            for (int x = 0; x < width; ++x) {
                const double px = (x + 0.5) * scale - pivot.x;
                const double py = (y + 0.5) * scale - pivot.y;
                const double sx = (pivot.x + cosine * px + sine * py) / scale - 0.5;
                const double sy = (pivot.y - sine * px + cosine * py - shift) / scale - 0.5;
                for (int c = 0; c < channels; ++c) {
                    double v = geometric ? bilinearSample(frame, plane, width, height, channels, c, sx, sy)
                                         : frame.row(plane, y)[x * channels + c];
                    if (tonal) {
                        const double zero = plane == 0 ? black : 128;
                        v = zero + (v - zero) * levelScale;
                        if (noise > 0)
                            v += plane == 0 ? lumaNoise(random) : chromaNoise(random);
                    }
                    out[x * channels + c] = clampLevel(v);
                }
            }
        }
    };
    fill(0, frame.width(), frame.height(), 1, 1.0);
    fill(1, (frame.width() + 1) / 2, PixelBufferView::planeRows(frame.format(), frame.height(), 1), 2, 2.0);
    return altered;
}

} // namespace verticora
