#pragma once

#include "analysis/FaceLandmarkRequest.h"
#include "analysis/PixelBuffer.h"
#include "analysis/PoseFeatures.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace verticora::test {

struct Rgb {
    double r = 0;
    double g = 0;
    double b = 0;
};

// An 8-bit RGB picture, row-major, top row first.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;

    [[nodiscard]] Rgb at(int x, int y) const;
    // Bilinear sample at a fractional position, edges clamped.
    [[nodiscard]] Rgb sample(double x, double y) const;
};

// The public-domain portrait the build fetches into its test-data folder; none, with
// `error` saying what to do, when it is missing or unreadable.
[[nodiscard]] std::optional<RgbImage> loadPortrait(std::string& error);

// Frames filled pixel by pixel; values are rounded and clamped to 0..255.
[[nodiscard]] PixelBuffer bgraFrame(int width, int height, const std::function<Rgb(int x, int y)>& colour);
// NV12 luma from `grey`; the chroma plane is neutral.
[[nodiscard]] PixelBuffer nv12Frame(int width, int height, std::uint32_t format,
                                    const std::function<double(int x, int y)>& grey);

[[nodiscard]] std::uint8_t toByte(double value);

// A frame whose planes are exactly as large as their rows need, with no padding after
// the last row, so that the sanitizers catch any read past a plane. Starts zeroed.
class TightFrame {
public:
    TightFrame(int width, int height, std::uint32_t format);

    [[nodiscard]] PixelBufferView view() const;
    [[nodiscard]] std::vector<std::uint8_t>& plane(std::size_t index) { return m_bytes[index]; }
    [[nodiscard]] std::uint8_t* pixel(std::size_t plane, int x, int y, int bytesPerPixel);

private:
    int m_width;
    int m_height;
    std::uint32_t m_format;
    std::vector<std::uint8_t> m_bytes[3];
};

// A confident frontal face 0.2 wide and 0.24 high whose box starts at `minX`, its nose
// crest at `noseY` from the top; landmark points are relative to the box.
[[nodiscard]] FaceObservation frontalFace(double minX, double noseY);

// The pose measured on `face` with its landmark height calibrated: a reference on which
// that face measures green.
[[nodiscard]] PoseFeatures referencePose(const FaceObservation& face, double aspect);

// What a scripted landmark request returns, and how often it was asked.
struct FaceScript {
    std::vector<FaceObservation> faces;
    std::vector<FaceObservation> missed; // what the second face finder sees besides
    int requests = 0;
    int secondLooks = 0;
    bool fail = false;
};

// A landmark request that answers from a script the test owns and changes.
class ScriptedRequest final : public FaceLandmarkRequest {
public:
    explicit ScriptedRequest(FaceScript& script) : m_script(script) {}
    std::vector<FaceObservation> perform(const PixelBufferView&) override;
    std::vector<FaceObservation> findMissedFaces(const PixelBufferView&) override;

private:
    FaceScript& m_script;
};

} // namespace verticora::test
