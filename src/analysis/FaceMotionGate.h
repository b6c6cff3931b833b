#pragma once

#include "analysis/Geometry.h"
#include "analysis/PixelBuffer.h"

#include <limits>
#include <optional>
#include <span>
#include <vector>

namespace verticora {

// Remembers a coarse grey-level picture of the area around the tracked face and tells
// the frame loop how long it may wait before analysing again: longer while that area
// looks unchanged, the normal interval otherwise. Reads camera frames at any size.
class FaceMotionGate {
public:
    static constexpr double normalInterval = 1.0 / 3.0;
    static constexpr double stillInterval = 0.53;
    static constexpr int grid = 24; // samples per row and column of the face area

    // Takes the face area around the detection's points (left eye, right eye, nose,
    // chin) as the new reference. Anything but four points, or an area too small to
    // judge, clears the gate.
    void remember(const PixelBufferView& buffer, std::span<const Point> points);

    // Seconds until the next analysis: `stillInterval` when the face area matches the
    // reference apart from a uniform brightness change, `normalInterval` otherwise and
    // whenever the frame cannot be judged.
    [[nodiscard]] double interval(const PixelBufferView& buffer);

    void clear();

    [[nodiscard]] const std::optional<std::vector<double>>& reference() const { return m_reference; }
    // The face area in top-down normalised coordinates.
    [[nodiscard]] const Rect& region() const { return m_region; }
    [[nodiscard]] double difference() const { return m_difference; }
    [[nodiscard]] int verticalShift() const { return m_verticalShift; }
    [[nodiscard]] double contrast() const { return m_contrast; }

    // Whether the gate reads frames of this format: NV12, I420 and BGRA, and the luma of 4:2:2.
    [[nodiscard]] static bool samples(std::uint32_t format);

private:
    // The grid of 3x3-mean grey levels of the face area, `offsetY` rows lower; false
    // when the frame cannot be read.
    bool sample(const PixelBufferView& buffer, int offsetY, std::vector<double>& into) const;

    std::optional<std::vector<double>> m_reference;
    Rect m_region;
    double m_difference = std::numeric_limits<double>::infinity();
    int m_verticalShift = 0;
    double m_contrast = 0;

    // Reused between calls so that steady frames allocate nothing.
    std::vector<double> m_current;
    std::vector<double> m_shifted;
};

} // namespace verticora
