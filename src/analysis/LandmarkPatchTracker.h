#pragma once

#include "analysis/Geometry.h"
#include "analysis/PixelBuffer.h"

#include <array>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace verticora {

// Where the tracked face moved: its box, the four points (left eye, right eye, nose,
// chin) in normalised image coordinates, and the weakest of the three match scores.
struct LandmarkPatchTrack {
    Rect box;
    std::vector<Point> points;
    double confidence = 0;
};

// Follows the two eyes and the nose between detector passes by normalised
// cross-correlation of small grey-level templates taken from the last full pass, and
// carries the chin along with them. It refuses readily: low-contrast seeds, a changed
// scene around the person, templates older than 0.9 s, weak, ambiguous or out-of-window
// matches and a head that no longer moves rigidly. Every refusal leaves a failure text
// and an unseeded tracker. Reads analysis frames of at most 512 x 512 pixels.
class LandmarkPatchTracker {
public:
    // A template with its mean removed, row by row, and the sum of its squares.
    struct Patch {
        std::vector<double> pixels;
        double energy = 0;
    };

    // A scene grid point outside the person: its index and its luminance at seeding.
    struct GuardSample {
        int index = 0;
        double luminance = 0;
    };

    static constexpr int sceneGridSide = 12;
    static constexpr double templateLifetime = 0.9; // seconds after seeding

    // Radius 7, 10 or 12; any other value gives 7.
    explicit LandmarkPatchTracker(int radius = 7);

    void reset();

    // Seeds the tracker from a frame whose face box and four points a full pass measured.
    // False, with `lastFailure` set, when the seed is unusable.
    [[nodiscard]] bool remember(const PixelBufferView& frame, const Rect& box, std::span<const Point> points, double t);

    // The face followed into `frame` at time `t`; none, with `lastFailure` set and the
    // tracker unseeded, on any doubt.
    [[nodiscard]] std::optional<LandmarkPatchTrack> track(const PixelBufferView& frame, double t);

    [[nodiscard]] int radius() const { return m_radius; }
    [[nodiscard]] const std::optional<std::string_view>& lastFailure() const { return m_lastFailure; }
    [[nodiscard]] const std::vector<Patch>& templates() const { return m_templates; }
    [[nodiscard]] const std::vector<Point>& previousPoints() const { return m_previousPoints; }
    [[nodiscard]] const std::vector<Point>& seedPoints() const { return m_seedPoints; }
    [[nodiscard]] const Rect& previousBox() const { return m_previousBox; }
    [[nodiscard]] const std::vector<GuardSample>& outside() const { return m_outside; }
    [[nodiscard]] std::pair<int, int> dimensions() const { return m_dimensions; }
    [[nodiscard]] double rememberedAt() const { return m_rememberedAt; }
    [[nodiscard]] double lastAt() const { return m_lastAt; }

private:
    // The smoothed luminance around the tracked points and a coarse grid of the scene.
    struct Frame {
        int width = 0;
        int height = 0;
        int regionWidth = 0;
        int regionHeight = 0;
        int originX = 0;
        int originY = 0;
        std::vector<double> luma;
        std::array<double, sceneGridSide * sceneGridSide> sceneGrid{};
    };

    // Where one template matched best: the sub-pixel offset from the search centre and
    // the score there.
    struct Peak {
        double dx = 0;
        double dy = 0;
        double score = -2;
    };

    // One point followed into the frame: its new position, its motion in pixels and
    // the refined score of its match.
    struct PointMatch {
        Point point;
        Point motion;
        double score = 0;
    };

    static constexpr int searchReach = 6; // the search spans -6..6 pixels each way
    static constexpr int searchSide = 2 * searchReach + 1;
    using ScoreGrid = std::array<double, searchSide * searchSide>;

    [[nodiscard]] static std::size_t gridIndex(int dx, int dy)
    {
        return static_cast<std::size_t>((dy + searchReach) * searchSide + dx + searchReach);
    }

    bool read(const PixelBufferView& frame, std::span<const Point> points);
    std::optional<PointMatch> matchPoint(std::size_t index);
    [[nodiscard]] bool windowFits(int x, int y, int extra) const;
    [[nodiscard]] std::optional<Patch> patch(int x, int y) const;
    [[nodiscard]] double score(const Patch& patch, int x, int y) const;
    [[nodiscard]] double subPixelScore(const Patch& patch, double x, double y) const;
    [[nodiscard]] Peak refine(const Patch& patch, const ScoreGrid& scores, Peak peak, int px, int py) const;
    [[nodiscard]] bool sceneMoved() const;
    std::nullopt_t fail(std::string_view text);
    [[nodiscard]] static bool valid(const Rect& rect);

    int m_radius;
    std::vector<Patch> m_templates;
    std::vector<Point> m_templateOffsets;
    std::vector<Point> m_previousPoints;
    std::vector<Point> m_seedPoints;
    Rect m_previousBox;
    std::vector<GuardSample> m_outside;
    std::pair<int, int> m_dimensions{0, 0};
    double m_rememberedAt;
    double m_lastAt;
    std::optional<std::string_view> m_lastFailure;

    // Working memory of the last `read`, reused between frames.
    Frame m_frame;
    std::vector<double> m_raw;
    std::vector<double> m_horizontal;
};

} // namespace verticora
