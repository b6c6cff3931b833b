#include "analysis/LandmarkPatchTracker.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace verticora {

namespace {

constexpr int maximumFrameSide = 512;
constexpr int minimumFrameSide = 24;
constexpr double minimumPeak = 0.9;
constexpr double minimumPeakLead = 0.015;
constexpr double rigidityTolerance = 1.5;         // pixels from the mean motion since seeding
constexpr double motionTolerance = 3.0;           // pixels from the mean motion of this frame
constexpr double sceneMeanTolerance = 7.0;
constexpr double sceneOutlier = 18.0;
constexpr double sceneOutlierShare = 0.08;
constexpr std::size_t minimumGuardPoints = 12;
constexpr double notAScore = -2;

constexpr std::string_view edgeTexts[] = {"edge left eye", "edge right eye", "edge nose"};
constexpr std::string_view weakTexts[] = {"weak left eye", "weak right eye", "weak nose"};

int sanitizedRadius(int radius)
{
    return radius == 7 || radius == 10 || radius == 12 ? radius : 7;
}

bool inUnitRange(double v)
{
    return std::isfinite(v) && v >= 0 && v <= 1;
}

bool inImage(Point p)
{
    return inUnitRange(p.x) && inUnitRange(p.y);
}

Rect grown(const Rect& r, double by)
{
    return {r.minX - by, r.minY - by, r.width + 2 * by, r.height + 2 * by};
}

bool contains(const Rect& r, Point p)
{
    return p.x >= r.minX && p.x <= r.maxX() && p.y >= r.minY && p.y <= r.maxY();
}

Point mean(const std::array<Point, 3>& points)
{
    return {(points[0].x + points[1].x + points[2].x) / 3, (points[0].y + points[1].y + points[2].y) / 3};
}

// Pixel position of a normalised image point, row 0 at the top.
Point pixelPosition(Point p, int width, int height)
{
    return {p.x * (width - 1), (1 - p.y) * (height - 1)};
}

int sceneColumn(int c, int width)
{
    return std::min((2 * c + 1) * width / 24, width - 1);
}

int sceneRow(int r, int height)
{
    return std::min((2 * r + 1) * height / 24, height - 1);
}

// Normalised cross-correlation of a template with a window from the window's sum, sum
// of squares and product with the template; -2 for a window too flat to compare (less
// than 5 grey levels of standard deviation).
double correlation(double templateEnergy, double n, double sum, double squares, double cross)
{
    const double variance = std::max(squares - sum * sum / n, 0.0);
    if (variance < 25 * n)
        return notAScore;
    return std::clamp(cross / std::sqrt(templateEnergy * variance), -1.0, 1.0);
}

} // namespace

LandmarkPatchTracker::LandmarkPatchTracker(int radius) : m_radius(sanitizedRadius(radius))
{
    reset();
}

void LandmarkPatchTracker::reset()
{
    m_templates.clear();
    m_templateOffsets.clear();
    m_previousPoints.clear();
    m_seedPoints.clear();
    m_previousBox = {};
    m_outside.clear();
    m_dimensions = {0, 0};
    m_rememberedAt = std::numeric_limits<double>::quiet_NaN();
    m_lastAt = std::numeric_limits<double>::quiet_NaN();
    m_lastFailure.reset();
}

std::nullopt_t LandmarkPatchTracker::fail(std::string_view text)
{
    m_lastFailure = text;
    m_templates.clear();
    m_templateOffsets.clear();
    m_previousPoints.clear();
    m_seedPoints.clear();
    m_outside.clear();
    return std::nullopt;
}

bool LandmarkPatchTracker::valid(const Rect& r)
{
    return std::isfinite(r.minX) && std::isfinite(r.minY) && std::isfinite(r.width) && std::isfinite(r.height)
        && r.width > 0 && r.height > 0 && r.minX >= 0 && r.minY >= 0 && r.maxX() <= 1 && r.maxY() <= 1;
}

bool LandmarkPatchTracker::remember(const PixelBufferView& frame, const Rect& box, std::span<const Point> points,
                                    double t)
{
    reset();
    if (!std::isfinite(t) || points.size() != 4 || !std::all_of(points.begin(), points.end(), inImage)) {
        fail("invalid seed points");
        return false;
    }
    if (!valid(box)) {
        fail("invalid seed box");
        return false;
    }
    if (!read(frame, points.first(3))) {
        fail("unreadable seed");
        return false;
    }

    const int width = m_frame.width;
    const int height = m_frame.height;
    const Rect seedArea = grown(box, 0.02);
    std::vector<Patch> templates;
    std::vector<Point> offsets;
    for (const Point& point : points.first(3)) {
        if (!contains(seedArea, point)) {
            fail("seed geometry");
            return false;
        }
        const Point exact = pixelPosition(point, width, height);
        const int px = static_cast<int>(exact.x);
        const int py = static_cast<int>(exact.y);
        auto seed = patch(px, py);
        if (!seed) {
            fail("seed contrast or bounds");
            return false;
        }
        templates.push_back(std::move(*seed));
        offsets.push_back({exact.x - px, exact.y - py});
    }

    // The scene guard watches everything but the face and the body below the chin.
    const Rect face = grown(box, 0.04);
    const double bandMinX = std::max(box.midX() - 1.2 * box.width, 0.0);
    const double bandMaxX = std::min(box.midX() + 1.2 * box.width, 1.0);
    const Rect body{bandMinX, 0, bandMaxX - bandMinX, points[3].y};
    std::vector<GuardSample> outside;
    for (int r = 0; r < sceneGridSide; ++r) {
        for (int c = 0; c < sceneGridSide; ++c) {
            const Point position{static_cast<double>(sceneColumn(c, width)) / (width - 1),
                                 1 - static_cast<double>(sceneRow(r, height)) / (height - 1)};
            if (contains(face, position) || contains(body, position))
                continue;
            const int index = sceneGridSide * r + c;
            outside.push_back({index, m_frame.sceneGrid[static_cast<std::size_t>(index)]});
        }
    }
    if (outside.size() < minimumGuardPoints) {
        fail("insufficient scene guard");
        return false;
    }

    m_templates = std::move(templates);
    m_templateOffsets = std::move(offsets);
    m_previousPoints.assign(points.begin(), points.end());
    m_seedPoints = m_previousPoints;
    m_previousBox = box;
    m_outside = std::move(outside);
    m_dimensions = {width, height};
    m_rememberedAt = t;
    m_lastAt = t;
    return true;
}

std::optional<LandmarkPatchTrack> LandmarkPatchTracker::track(const PixelBufferView& frame, double t)
{
    if (m_templates.size() != 3 || m_seedPoints.size() != 4)
        return fail("no template");
    if (!std::isfinite(t) || !std::isfinite(m_lastAt) || !(m_lastAt < t) || !(t - m_rememberedAt <= templateLifetime))
        return fail("expired or invalid sequence");
    if (!read(frame, std::span(m_previousPoints).first(3))
        || std::pair(m_frame.width, m_frame.height) != m_dimensions) {
        return fail("source changed");
    }
    if (sceneMoved())
        return fail("scene motion");

    const int width = m_frame.width;
    const int height = m_frame.height;
    std::array<Point, 3> moved;
    std::array<Point, 3> motion;
    double confidence = 1;
    for (std::size_t i = 0; i < 3; ++i) {
        const auto match = matchPoint(i);
        if (!match)
            return std::nullopt;
        moved[i] = match->point;
        motion[i] = match->motion;
        confidence = std::min(confidence, match->score);
    }

    // The three points must have moved as one head since seeding.
    std::array<Point, 3> sinceSeed;
    for (std::size_t i = 0; i < 3; ++i)
        sinceSeed[i] = {moved[i].x - m_seedPoints[i].x, moved[i].y - m_seedPoints[i].y};
    const Point meanShift = mean(sinceSeed);
    for (std::size_t i = 0; i < 3; ++i) {
        const double offX = (sinceSeed[i].x - meanShift.x) * (width - 1);
        const double offY = (sinceSeed[i].y - meanShift.y) * (height - 1);
        if (std::hypot(offX, offY) > rigidityTolerance)
            return fail("nonrigid head");
    }

    // The chin is never searched: it follows the head.
    const Point chin{m_seedPoints[3].x + meanShift.x, m_seedPoints[3].y + meanShift.y};
    if (!inImage(chin))
        return fail("jaw bounds");

    const Point meanMotion = mean(motion);
    for (const Point& m : motion) {
        if (std::hypot(m.x - meanMotion.x, m.y - meanMotion.y) > motionTolerance)
            return fail("inconsistent geometry");
    }

    const Point& leftEye = moved[0];
    const Point& rightEye = moved[1];
    const Point& nose = moved[2];
    const bool faceOrder = chin.y < std::min(leftEye.y, rightEye.y) && nose.y < (leftEye.y + rightEye.y) / 2
        && (leftEye.x - rightEye.x) * (m_previousPoints[0].x - m_previousPoints[1].x) > 0;
    if (!faceOrder)
        return fail("inconsistent geometry");

    const Rect box{m_previousBox.minX + meanMotion.x / (width - 1), m_previousBox.minY - meanMotion.y / (height - 1),
                   m_previousBox.width, m_previousBox.height};
    if (!valid(box))
        return fail("face bounds");

    m_previousPoints = {leftEye, rightEye, nose, chin};
    m_previousBox = box;
    m_lastAt = t;
    m_lastFailure.reset();
    return LandmarkPatchTrack{box, m_previousPoints, confidence};
}

std::optional<LandmarkPatchTracker::PointMatch> LandmarkPatchTracker::matchPoint(std::size_t i)
{
    const int width = m_frame.width;
    const int height = m_frame.height;
    const Patch& patch = m_templates[i];
    const Point exact = pixelPosition(m_previousPoints[i], width, height);
    const int px = static_cast<int>(exact.x);
    const int py = static_cast<int>(exact.y);

    // Every position within six pixels; the best is the first strictly highest score.
    ScoreGrid scores;
    const auto at = [&scores](int dx, int dy) -> double& { return scores[gridIndex(dx, dy)]; };
    int bx = -searchReach;
    int by = -searchReach;
    for (int dy = -searchReach; dy <= searchReach; ++dy) {
        for (int dx = -searchReach; dx <= searchReach; ++dx) {
            at(dx, dy) = score(patch, px + dx, py + dy);
            if (at(dx, dy) > at(bx, by)) {
                bx = dx;
                by = dy;
            }
        }
    }
    if (std::abs(bx) >= searchReach || std::abs(by) >= searchReach)
        return fail(edgeTexts[i]);

    // The best separate peak: a local maximum more than two positions away. The flank of
    // the best peak is no second match, however slowly it falls (a nose ridge in soft,
    // compressed video keeps scoring within a hair of the peak for pixels along it).
    const auto localMaximum = [&at](int dx, int dy) {
        for (int ny = std::max(dy - 1, -searchReach); ny <= std::min(dy + 1, searchReach); ++ny) {
            for (int nx = std::max(dx - 1, -searchReach); nx <= std::min(dx + 1, searchReach); ++nx) {
                if (at(nx, ny) > at(dx, dy))
                    return false;
            }
        }
        return true;
    };
    std::optional<std::pair<int, int>> second;
    for (int dy = -searchReach; dy <= searchReach; ++dy) {
        for (int dx = -searchReach; dx <= searchReach; ++dx) {
            const bool separate = std::abs(dx - bx) > 2 || std::abs(dy - by) > 2;
            if (separate && (!second || at(dx, dy) > at(second->first, second->second)) && localMaximum(dx, dy))
                second = {dx, dy};
        }
    }

    const Peak best = refine(patch, scores, {double(bx), double(by), at(bx, by)}, px, py);
    double secondScore = notAScore;
    if (second) {
        const auto [sx, sy] = *second;
        secondScore = refine(patch, scores, {double(sx), double(sy), at(sx, sy)}, px, py).score;
    }
    if (best.score < minimumPeak)
        return fail(weakTexts[i]);
    if (best.score - secondScore < minimumPeakLead)
        return fail("ambiguous match");

    const double x = px + best.dx + m_templateOffsets[i].x;
    const double y = py + best.dy + m_templateOffsets[i].y;
    const Point point{x / (width - 1), 1 - y / (height - 1)};
    if (!inImage(point))
        return fail("point bounds");
    return PointMatch{point, {x - exact.x, y - exact.y}, best.score};
}

bool LandmarkPatchTracker::read(const PixelBufferView& frame, std::span<const Point> points)
{
    const int width = frame.width();
    const int height = frame.height();
    if (width < minimumFrameSide || width > maximumFrameSide || height < minimumFrameSide
        || height > maximumFrameSide || !hasGreyLevels(frame.format()) || points.size() != 3
        || !std::all_of(points.begin(), points.end(), inImage)) {
        return false;
    }

    const int margin = m_radius + 8;
    int minX = width;
    int maxX = 0;
    int minY = height;
    int maxY = 0;
    for (const Point& point : points) {
        const Point exact = pixelPosition(point, width, height);
        minX = std::min(minX, static_cast<int>(exact.x));
        maxX = std::max(maxX, static_cast<int>(exact.x));
        minY = std::min(minY, static_cast<int>(exact.y));
        maxY = std::max(maxY, static_cast<int>(exact.y));
    }
    const int x0 = std::max(minX - margin, 1);
    const int x1 = std::min(maxX + margin, width - 2);
    const int y0 = std::max(minY - margin, 1);
    const int y1 = std::min(maxY + margin, height - 2);
    if (x1 < x0 || y1 < y0)
        return false;

    Frame& f = m_frame;
    f.width = width;
    f.height = height;
    f.originX = x0 - 1;
    f.originY = y0 - 1;
    f.regionWidth = x1 - x0 + 3;
    f.regionHeight = y1 - y0 + 3;
    const int w = f.regionWidth;
    const int h = f.regionHeight;
    const auto cells = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    m_raw.resize(cells);
    for (int row = 0; row < h; ++row) {
        for (int column = 0; column < w; ++column)
            m_raw[std::size_t(row * w + column)] = greyLevel(frame, f.originX + column, f.originY + row);
    }
    for (int r = 0; r < sceneGridSide; ++r) {
        for (int c = 0; c < sceneGridSide; ++c)
            f.sceneGrid[std::size_t(sceneGridSide * r + c)] = greyLevel(frame, sceneColumn(c, width), sceneRow(r, height));
    }

    // A 1-2-1 blur across, then down; the outermost rows and columns stay raw.
    m_horizontal = m_raw;
    for (int row = 0; row < h; ++row) {
        for (int column = 1; column < w - 1; ++column) {
            const std::size_t i = std::size_t(row * w + column);
            m_horizontal[i] = (m_raw[i - 1] + 2 * m_raw[i] + m_raw[i + 1]) / 4;
        }
    }
    f.luma = m_raw;
    for (int row = 1; row < h - 1; ++row) {
        for (int column = 1; column < w - 1; ++column) {
            const std::size_t i = std::size_t(row * w + column);
            f.luma[i] = (m_horizontal[i - std::size_t(w)] + 2 * m_horizontal[i] + m_horizontal[i + std::size_t(w)]) / 4;
        }
    }
    return true;
}

// Whether the window of the template's size centred at (x, y), widened by `extra`
// columns and rows to the right and below, lies inside the frame (and so inside the
// luminance region, which `read` makes large enough for every search position).
bool LandmarkPatchTracker::windowFits(int x, int y, int extra) const
{
    const Frame& f = m_frame;
    const int r = m_radius;
    const bool inFrame = r <= x && r <= y && x + r + extra < f.width && y + r + extra < f.height;
    const bool inRegion = x - r >= f.originX && y - r >= f.originY && x + r + extra < f.originX + f.regionWidth
        && y + r + extra < f.originY + f.regionHeight;
    return inFrame && inRegion;
}

std::optional<LandmarkPatchTracker::Patch> LandmarkPatchTracker::patch(int x, int y) const
{
    const Frame& f = m_frame;
    const int r = m_radius;
    if (!windowFits(x, y, 0))
        return std::nullopt;

    const int side = 2 * r + 1;
    Patch result;
    result.pixels.reserve(std::size_t(side * side));
    double sum = 0;
    for (int row = y - r; row <= y + r; ++row) {
        const double* line = f.luma.data() + std::size_t((row - f.originY) * f.regionWidth + (x - r - f.originX));
        for (int k = 0; k < side; ++k) {
            result.pixels.push_back(line[k]);
            sum += line[k];
        }
    }
    const double mean = sum / double(side * side);
    for (double& v : result.pixels) {
        v -= mean;
        result.energy += v * v;
    }
    // At least 5 grey levels of standard deviation.
    if (result.energy < 25.0 * side * side)
        return std::nullopt;
    return result;
}

// Normalised cross-correlation of `patch` with the window centred at pixel (x, y); -2
// for a window outside the frame or one too flat to compare.
double LandmarkPatchTracker::score(const Patch& patch, int x, int y) const
{
    const Frame& f = m_frame;
    const int r = m_radius;
    if (!windowFits(x, y, 0))
        return notAScore;

    const int side = 2 * r + 1;
    const double n = double(side * side);
    double s = 0;
    double q = 0;
    double cross = 0;
    const double* t = patch.pixels.data();
    for (int row = y - r; row <= y + r; ++row) {
        const double* line = f.luma.data() + std::size_t((row - f.originY) * f.regionWidth + (x - r - f.originX));
        for (int k = 0; k < side; ++k) {
            const double v = line[k];
            s += v;
            q += v * v;
            cross += v * *t++;
        }
    }
    return correlation(patch.energy, n, s, q, cross);
}

// The same score against the bilinearly interpolated window whose centre is (x, y).
double LandmarkPatchTracker::subPixelScore(const Patch& patch, double x, double y) const
{
    const Frame& f = m_frame;
    const int r = m_radius;
    const int ix = static_cast<int>(x);
    const int iy = static_cast<int>(y);
    const double ax = x - ix;
    const double ay = y - iy;
    if (!windowFits(ix, iy, 1))
        return notAScore;

    const int side = 2 * r + 1;
    const double n = double(side * side);
    const auto w = std::size_t(f.regionWidth);
    double s = 0;
    double q = 0;
    double cross = 0;
    const double* t = patch.pixels.data();
    for (int row = iy - r; row <= iy + r; ++row) {
        const double* top = f.luma.data() + std::size_t((row - f.originY) * f.regionWidth + (ix - r - f.originX));
        const double* bottom = top + w;
        for (int k = 0; k < side; ++k) {
            const double upper = top[k] + ax * (top[k + 1] - top[k]);
            const double lower = bottom[k] + ax * (bottom[k + 1] - bottom[k]);
            const double v = upper + ay * (lower - upper);
            s += v;
            q += v * v;
            cross += v * *t++;
        }
    }
    return correlation(patch.energy, n, s, q, cross);
}

// Moves a peak of the integer score grid to the vertex of the parabolas through it and
// its neighbours, when the template matches better there.
LandmarkPatchTracker::Peak LandmarkPatchTracker::refine(const Patch& patch, const ScoreGrid& scores, Peak peak,
                                                       int px, int py) const
{
    const int dx = static_cast<int>(peak.dx);
    const int dy = static_cast<int>(peak.dy);
    const double s = peak.score;
    if (std::abs(dx) >= searchReach || std::abs(dy) >= searchReach || s >= 0.999999999)
        return peak;

    const auto vertex = [s](double before, double after) {
        const double den = before - 2 * s + after;
        if (before > -1 && s > -1 && after > -1 && den < -0.00001)
            return std::clamp(((before - after) * 0.5) / den, -0.5, 0.5);
        return 0.0;
    };
    const auto at = [&scores](int x, int y) { return scores[gridIndex(x, y)]; };
    const double sx = vertex(at(dx - 1, dy), at(dx + 1, dy));
    const double sy = vertex(at(dx, dy - 1), at(dx, dy + 1));

    const double refined = subPixelScore(patch, px + dx + sx, py + dy + sy);
    if (refined > s)
        return {dx + sx, dy + sy, refined};
    return peak;
}

bool LandmarkPatchTracker::sceneMoved() const
{
    // The median change is the scene's brightness change; what remains is motion.
    std::array<double, sceneGridSide * sceneGridSide> changes;
    const std::size_t count = m_outside.size();
    for (std::size_t i = 0; i < count; ++i)
        changes[i] = m_frame.sceneGrid[std::size_t(m_outside[i].index)] - m_outside[i].luminance;
    std::array<double, sceneGridSide * sceneGridSide> sorted = changes;
    std::sort(sorted.begin(), sorted.begin() + std::ptrdiff_t(count));
    const double median = sorted[count / 2];

    double total = 0;
    std::size_t outliers = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double residual = std::abs(changes[i] - median);
        total += residual;
        if (residual > sceneOutlier)
            ++outliers;
    }
    return total / double(count) >= sceneMeanTolerance || double(outliers) / double(count) >= sceneOutlierShare;
}

} // namespace verticora
