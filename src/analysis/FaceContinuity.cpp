#include "analysis/FaceContinuity.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace verticora {

namespace {

constexpr double ambiguousMatchMargin = 0.24;
constexpr double ambiguousAcquisitionMargin = 0.16;
constexpr double signatureGate = 0.22;
constexpr double recentWindow = 1.0;
constexpr std::size_t recentLimit = 8;
constexpr double seatedWindow = 1.6;
constexpr std::size_t seatedLimit = 6;
constexpr double settlingSeconds = 2.0;
constexpr int settlingSightings = 4;
constexpr double settlingMaximumGap = 1.5;

bool finite(double v)
{
    return std::isfinite(v);
}

bool usable(const FaceCandidate& c)
{
    const Rect& b = c.box;
    if (!finite(b.minX) || !finite(b.minY) || !finite(b.width) || !finite(b.height))
        return false;
    if (!(b.width > 0 && b.height > 0))
        return false;
    // A face cut by the bottom edge in a deep slouch reaches below the picture; its eyes
    // and nose still measure it.
    if (b.minX < -0.05 || b.maxX() > 1.05 || b.minY < -0.05 - 0.5 * b.height || b.maxY() > 1.05)
        return false;
    return std::all_of(c.signature.begin(), c.signature.end(), finite);
}

// Score of a complete face as the first subject: central and reasonably large; none
// for a face cut deep by the bottom edge, too small, too far to the side, or too high or
// low.
std::optional<double> acquisitionScore(const FaceCandidate& c)
{
    const Rect& b = c.box;
    if (c.signature.empty() || b.minY < -0.05 || b.width < 0.075 || b.height < 0.1 || std::abs(b.midX() - 0.5) > 0.3
        || b.midY() < 0.15 || b.midY() > 0.9) {
        return std::nullopt;
    }
    const double centrality = std::max(0.0, 1 - std::abs(b.midX() - 0.5) / 0.4);
    const double size = std::min(std::sqrt(b.width * b.height) / 0.35, 1.0);
    return 0.65 * centrality + 0.35 * size;
}

double logSizeChange(const Rect& to, const Rect& from)
{
    return std::abs(std::log(to.width / from.width)) + std::abs(std::log(to.height / from.height));
}

bool within(double value, double low, double high)
{
    return value >= low && value <= high;
}

// Cost of matching `c` through a return anchor, or none when it is not near enough.
std::optional<double> anchorCost(const Rect& c, const Rect& anchor, FaceLossReason inferredLoss, double penalty)
{
    // After a loss through the bottom the subject may come back anywhere lower.
    const bool vertical = inferredLoss == FaceLossReason::bottom
        ? c.midY() <= anchor.midY() + 0.35 * anchor.height
        : std::abs(c.midY() - anchor.midY()) <= 0.55 * anchor.height;
    const double dx = std::abs(c.midX() - anchor.midX());
    const bool horizontal = dx <= std::clamp(anchor.width * 0.45, 0.06, 0.13);
    const bool sized = within(c.width / anchor.width, 0.65, 1.55) && within(c.height / anchor.height, 0.65, 1.55);
    if (!(vertical && horizontal && sized))
        return std::nullopt;
    return penalty + 2 * dx + 0.35 + 0.18 * logSizeChange(c, anchor);
}

// Whether `s` lies within the stillness window of `box`.
bool still(const Rect& s, const Rect& box)
{
    return std::abs(s.midX() - box.midX()) <= std::min(0.15 * box.width, 0.04)
        && std::abs(s.midY() - box.midY()) <= std::min(0.2 * box.height, 0.05)
        && within(s.width / box.width, 0.9, 1.1) && within(s.height / box.height, 0.9, 1.1);
}

bool seatedCentral(const Rect& b)
{
    return b.minX > 0.08 && b.maxX() < 0.92 && b.minY > 0.12 && b.maxY() < 0.98 && std::abs(b.midX() - 0.5) <= 0.3;
}

// Whether `s` is where a face first seen at `first` has stayed, give or take the moves of
// a seated person talking and turning; somebody walking past leaves it within a second.
bool stayedPut(const Rect& s, const Rect& first)
{
    return std::abs(s.midX() - first.midX()) <= 0.5 * first.width
        && std::abs(s.midY() - first.midY()) <= 0.5 * first.height && within(s.width / first.width, 0.75, 1.33)
        && within(s.height / first.height, 0.75, 1.33);
}

// Whether `c` lies where a subject last seen at `seat` may have sunk to: no higher than a
// third of its box above, in its column, and about its size (leaning back or forward).
bool settlesBelow(const Rect& c, const Rect& seat)
{
    return c.midY() <= seat.midY() + 0.35 * seat.height
        && std::abs(c.midX() - seat.midX()) <= std::clamp(seat.width * 0.65, 0.065, 0.18)
        && within(c.width / seat.width, 0.65, 1.55) && within(c.height / seat.height, 0.65, 1.55);
}

} // namespace

FaceSelection FaceContinuity::select(std::span<const FaceCandidate> candidates, double t)
{
    // A late or broken frame time must not disturb the timing windows.
    if (!finite(t) || (processedAt && t < *processedAt)) {
        lastDecision = "stale timestamp";
        return {std::nullopt, FaceLossReason::cameraStale};
    }
    processedAt = t;

    std::vector<std::size_t> usableIndices;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        if (usable(candidates[i]))
            usableIndices.push_back(i);
    }
    lastDecision = usableIndices.empty() ? "no usable face boxes" : "position or scale mismatch";

    if (!selectedBox)
        return acquire(candidates, usableIndices, t);

    std::vector<Match> matches;
    for (std::size_t i : usableIndices) {
        if (const auto cost = matchCost(candidates[i]))
            matches.push_back({i, *cost});
    }

    if (!matches.empty()) {
        settlingFace.reset();
        std::stable_sort(matches.begin(), matches.end(),
                         [](const Match& a, const Match& b) { return a.cost < b.cost; });
        if (matches.size() >= 2 && matches[1].cost - matches[0].cost < ambiguousMatchMargin) {
            lastDecision = "ambiguous subjects";
            seatedSamples.clear();
            unresolvedAmbiguity = true;
            needsReacquisition = true;
            return {std::nullopt, FaceLossReason::ambiguous};
        }
        accept(candidates[matches[0].index], t);
        lastDecision = "matched subject";
        // A tracked face near the bottom or a side edge already says where it is heading.
        return {matches[0].index, directionalLoss(t)};
    }

    needsReacquisition = true;
    seatedSamples.clear();
    if (const std::optional<std::size_t> settled = settledLoneFace(candidates, usableIndices, t)) {
        accept(candidates[*settled], t);
        lastDecision = "settled lone face";
        return {*settled, FaceLossReason::unknown};
    }
    if (inferredLoss != FaceLossReason::unknown)
        return {std::nullopt, inferredLoss};
    inferredLoss = directionalLoss(t);
    if (inferredLoss == FaceLossReason::unknown && unresolvedAmbiguity)
        return {std::nullopt, FaceLossReason::ambiguous};
    return {std::nullopt, inferredLoss};
}

FaceSelection FaceContinuity::acquire(std::span<const FaceCandidate> candidates, std::span<const std::size_t> usable,
                                      double t)
{
    std::vector<Match> scored; // cost holds the score here
    for (std::size_t i : usable) {
        if (const auto score = acquisitionScore(candidates[i]))
            scored.push_back({i, *score});
    }
    std::stable_sort(scored.begin(), scored.end(), [](const Match& a, const Match& b) { return a.cost > b.cost; });

    if (scored.empty()) {
        lastDecision = "no complete initial face";
        return {std::nullopt, FaceLossReason::unknown};
    }
    if (scored.size() >= 2 && scored[0].cost - scored[1].cost < ambiguousAcquisitionMargin) {
        lastDecision = "ambiguous initial subjects";
        return {std::nullopt, FaceLossReason::ambiguous};
    }
    accept(candidates[scored[0].index], t);
    lastDecision = "acquired subject";
    return {scored[0].index, FaceLossReason::unknown};
}

std::optional<double> FaceContinuity::matchCost(const FaceCandidate& candidate)
{
    const Rect& c = candidate.box;
    const Rect& s = *selectedBox;

    const std::optional<double> distance = distanceFromSignature(candidate);
    if (!signature.empty()) {
        if (!distance) {
            lastDecision = "incomplete returning landmarks";
            return std::nullopt;
        }
        if (*distance > signatureGate) {
            lastDecision = "landmark proportions mismatch";
            return std::nullopt;
        }
    }

    const double penalty = distance ? 1.2 * *distance : 0.0;
    std::optional<double> cost;

    const double dx = std::abs(c.midX() - s.midX());
    const double dy = std::abs(c.midY() - s.midY());
    const double xTolerance = std::clamp(s.width * 0.65, 0.065, 0.18);
    const double yTolerance = std::clamp(s.height * 0.85, 0.1, 0.24);
    const double wr = c.width / s.width;
    const double hr = c.height / s.height;
    if (dx <= xTolerance && dy <= yTolerance && within(wr, 0.55, 1.7) && within(hr, 0.55, 1.7)) {
        cost = penalty + 0.18 * (std::abs(std::log(wr)) + std::abs(std::log(hr)))
            + 0.55 * std::hypot(dx / xTolerance, dy / yTolerance);
    }

    const bool lost = needsReacquisition || inferredLoss == FaceLossReason::bottom
        || inferredLoss == FaceLossReason::side;
    if (lost) {
        for (const std::optional<Rect>& anchor : {anchorBox, seatedReturnBox}) {
            if (!anchor)
                continue;
            if (const auto viaAnchor = anchorCost(c, *anchor, inferredLoss, penalty))
                cost = std::min(cost.value_or(*viaAnchor), *viaAnchor);
        }
    }
    return cost;
}

std::optional<double> FaceContinuity::distanceFromSignature(const FaceCandidate& candidate) const
{
    const bool cutChin = candidate.chinOnBottomEdge;
    std::optional<double> distance = signatureDistance(signature, candidate.signature, cutChin);
    const auto storedFacing = facingSignature(signature, signatureYaw);
    const auto candidateFacing = facingSignature(candidate.signature, candidate.yaw);
    if (storedFacing && candidateFacing) {
        // A head turned since the signature was learnt narrows the eye distance.
        if (const auto facing = signatureDistance(*storedFacing, *candidateFacing, cutChin))
            distance = std::min(distance.value_or(std::numeric_limits<double>::infinity()), *facing);
    }
    return distance;
}

// Where a lost subject may settle without having been followed there: a face of its
// proportions, about its size, in its column and no higher than it sat. A passer-by who
// stops stands higher, and a face in the background is smaller.
bool FaceContinuity::couldBeSettledSubject(const FaceCandidate& candidate) const
{
    if (signature.empty() || candidate.signature.empty())
        return false;
    const std::optional<double> distance = distanceFromSignature(candidate);
    if (!distance || *distance > signatureGate)
        return false;
    const Rect& c = candidate.box;
    const std::array seats{selectedBox, anchorBox, seatedReturnBox};
    return std::ranges::any_of(seats, [&c](const std::optional<Rect>& seat) { return seat && settlesBelow(c, *seat); });
}

// Takes back the one face in view once it has stayed put for a while where the subject
// could have sunk to; any second face in view ends the wait.
std::optional<std::size_t> FaceContinuity::settledLoneFace(std::span<const FaceCandidate> candidates,
                                                           std::span<const std::size_t> usable, double t)
{
    if (candidates.size() > 1) {
        settlingFace.reset();
        return std::nullopt;
    }
    if (usable.empty())
        return std::nullopt; // a frame in which the detector missed the face does not start the wait over
    const FaceCandidate& candidate = candidates[usable.front()];
    if (!couldBeSettledSubject(candidate)) {
        settlingFace.reset();
        return std::nullopt;
    }
    if (!settlingFace || t - settlingFace->seenAt > settlingMaximumGap || !stayedPut(candidate.box, settlingFace->box))
        settlingFace = SettlingFace{candidate.box, t, t, 0};
    settlingFace->seenAt = t;
    ++settlingFace->sightings;
    lastDecision = "settling lone face";
    if (t - settlingFace->since < settlingSeconds || settlingFace->sightings < settlingSightings)
        return std::nullopt;
    return usable.front();
}

void FaceContinuity::accept(const FaceCandidate& candidate, double t)
{
    recentBoxes.push_back({candidate.box, t});
    std::erase_if(recentBoxes, [t](const TimedBox& e) { return t - e.at > recentWindow; });
    if (recentBoxes.size() > recentLimit)
        recentBoxes.erase(recentBoxes.begin(), recentBoxes.end() - recentLimit);

    selectedBox = candidate.box;
    selectedAt = t;
    if (!anchorBox)
        anchorBox = candidate.box;

    noteSeatedSample(candidate, t);

    // The proportions are learnt once, from a whole face, and never replaced.
    if (signature.empty() && !candidate.signature.empty() && !candidate.chinOnBottomEdge) {
        signature = candidate.signature;
        signatureYaw = candidate.yaw;
    }
    inferredLoss = FaceLossReason::unknown;
    unresolvedAmbiguity = false;
    needsReacquisition = false;
    settlingFace.reset();
}

void FaceContinuity::noteSeatedSample(const FaceCandidate& candidate, double t)
{
    const Rect& box = candidate.box;
    if (!candidate.returnAnchorEligible || candidate.signature.empty() || !seatedCentral(box)) {
        seatedSamples.clear();
        return;
    }
    if (!seatedSamples.empty() && t - seatedSamples.back().at > 0.75)
        seatedSamples.clear();
    seatedSamples.push_back({box, t});
    std::erase_if(seatedSamples, [t](const TimedBox& e) { return t - e.at > seatedWindow; });
    if (seatedSamples.size() > seatedLimit)
        seatedSamples.erase(seatedSamples.begin(), seatedSamples.end() - seatedLimit);

    const bool settled = seatedSamples.size() >= 3 && t - seatedSamples.front().at >= 0.6
        && std::all_of(seatedSamples.begin(), seatedSamples.end(),
                       [&box](const TimedBox& s) { return still(s.box, box); });
    if (settled)
        seatedReturnBox = box;
}

FaceLossReason FaceContinuity::directionalLoss(double t) const
{
    if (!selectedBox || !selectedAt || t - *selectedAt > recentWindow)
        return FaceLossReason::unknown;
    std::vector<TimedBox> recent;
    for (const TimedBox& e : recentBoxes) {
        if (*selectedAt - e.at <= recentWindow)
            recent.push_back(e);
    }
    if (recent.size() < 2 || *selectedAt <= recent.front().at)
        return FaceLossReason::unknown;

    const Rect& first = recent.front().box;
    const Rect& previous = recent[recent.size() - 2].box;
    const Rect& s = *selectedBox;
    const double dx = s.midX() - first.midX();
    const double drop = s.minY - first.minY;

    if ((s.minX <= 0.06 && dx <= -0.025) || (s.maxX() >= 0.94 && dx >= 0.025))
        return FaceLossReason::side;
    const bool sinking = drop <= -0.015 && s.minY - previous.minY <= 0.002;
    const bool mostlyDown = std::abs(dx) <= std::max(0.7 * std::abs(drop), 0.035);
    if (s.minY <= 0.12 && sinking && s.minX > 0.08 && s.maxX() < 0.92 && mostlyDown)
        return FaceLossReason::bottom;
    return FaceLossReason::unknown;
}

std::optional<double> FaceContinuity::signatureDistance(std::span<const double> a, std::span<const double> b,
                                                        bool bLowerBound)
{
    if (a.empty() || a.size() != b.size())
        return std::nullopt;
    double sum = 0;
    std::size_t compared = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        // A face cut by the bottom edge may go on below its chin: a shorter eye-to-chin
        // height says nothing, a longer one already differs.
        if (bLowerBound && i == 1 && b[i] <= a[i])
            continue;
        const double relative = (a[i] - b[i]) / std::max({std::abs(a[i]), std::abs(b[i]), 0.05});
        sum += relative * relative;
        ++compared;
    }
    return std::sqrt(sum / static_cast<double>(compared));
}

std::optional<std::vector<double>> FaceContinuity::facingSignature(std::span<const double> signature,
                                                                   std::optional<double> yaw)
{
    if (signature.size() != 2 || !yaw || !finite(*yaw) || std::abs(*yaw) > 1.05)
        return std::nullopt;
    return std::vector<double>{signature[0] / std::cos(*yaw), signature[1]};
}

} // namespace verticora
