#include "analysis/SeatedPoseDetector.h"

#include "analysis/FaceLandmarkRequest.h"
#include "analysis/SeatedGeometry.h"
#include "analysis/ThresholdRules.h"

#include <cmath>
#include <optional>
#include <span>

namespace verticora {

namespace {

Point toImage(const Rect& box, Point p)
{
    return {box.minX + p.x * box.width, box.minY + p.y * box.height};
}

// The lowest contour point stands in for the chin; the first wins a tie. The landmark
// model places the jaw from the whole face, so a chin at the bottom of the picture is
// often put a few pixels below it; such a chin is read on the bottom edge (the face is
// measured by its eyes and nose, and the chin only has to lie below them).
std::optional<Point> lowestContourPoint(const FaceObservation& observation)
{
    const auto& contour = observation.faceContour;
    if (!contour || contour->pointCount < 1 || contour->normalizedPoints.empty())
        return std::nullopt;
    const Point* lowest = &contour->normalizedPoints.front();
    for (const Point& p : contour->normalizedPoints) {
        if (p.y < lowest->y)
            lowest = &p;
    }
    Point chin = toImage(observation.boundingBox, *lowest);
    if (chin.y < 0)
        chin.y = 0;
    return chin;
}

// An empty point list is treated like a missing region rather than dividing by zero.
std::optional<Point> center(const Rect& box, const std::optional<LandmarkRegion>& region)
{
    if (!region || region->pointCount <= 0 || region->normalizedPoints.empty())
        return std::nullopt;
    double sumX = 0;
    double sumY = 0;
    for (const Point& p : region->normalizedPoints) {
        sumX += p.x;
        sumY += p.y;
    }
    const auto n = static_cast<double>(region->normalizedPoints.size());
    return toImage(box, {sumX / n, sumY / n});
}

constexpr float minimumConfidence = 0.7f; // compared in the detector's single precision
constexpr double edgeMarginX = 0.06;
constexpr double edgeMarginBottom = 0.02;
constexpr char fullPolicy[] = "full policy";
constexpr char noTemplate[] = "no template";
constexpr char geometryOrEdge[] = "geometry or edge";
constexpr char zoneTransition[] = "zone transition";
constexpr char subjectMismatch[] = "subject mismatch";

std::vector<FaceObservation> confidentFaces(std::vector<FaceObservation> results)
{
    std::erase_if(results, [](const FaceObservation& o) { return !(o.confidence >= minimumConfidence); });
    return results;
}

// The face among `faces` whose box holds the centre of `box`.
std::optional<std::size_t> sameFace(const Rect& box, std::span<const FaceObservation> faces)
{
    for (std::size_t i = 0; i < faces.size(); ++i) {
        const Rect& b = faces[i].boundingBox;
        if (box.midX() > b.minX && box.midX() < b.maxX() && box.midY() > b.minY && box.midY() < b.maxY())
            return i;
    }
    return std::nullopt;
}

bool touchesEdge(const Rect& box)
{
    return box.minX <= edgeMarginX || box.maxX() >= 1 - edgeMarginX || box.minY <= edgeMarginBottom
        || box.maxY() >= 1 - edgeMarginBottom;
}

} // namespace

SeatedPoseDetector::SeatedPoseDetector(bool lightweight, std::unique_ptr<FaceLandmarkRequest> request)
    : m_request(std::move(request)), m_patches(7), m_lightweight(lightweight)
{
}

SeatedPoseDetector::~SeatedPoseDetector() = default;

std::optional<int> SeatedPoseDetector::band(const std::optional<PoseFeatures>& features) const
{
    if (!m_reference || !features)
        return std::nullopt;
    const double measure = deviationFromBaseline(m_reference->baseline, *features);
    if (!std::isfinite(measure))
        return std::nullopt;
    if (measure >= m_reference->red)
        return 2;
    if (measure >= m_reference->yellow)
        return 1;
    return 0;
}

SeatedDetection SeatedPoseDetector::detect(const PixelBufferView& frame, double aspect, double time,
                                           bool allowLightweight)
{
    const bool patchAllowed = m_lightweight && allowLightweight;
    std::string fallback = fullPolicy;
    if (patchAllowed && m_reference) {
        if (std::optional<SeatedDetection> tracked = patchPass(frame, aspect, time, fallback))
            return std::move(*tracked);
    }
    return fullPass(frame, aspect, time, patchAllowed, fallback);
}

std::optional<SeatedDetection> SeatedPoseDetector::patchPass(const PixelBufferView& frame, double aspect,
                                                             double time, std::string& fallback)
{
    const std::optional<LandmarkPatchTrack> track = m_patches.track(frame, time);
    if (!track) {
        fallback = m_patches.lastFailure() ? std::string(*m_patches.lastFailure()) : std::string(noTemplate);
        return std::nullopt;
    }
    if (touchesEdge(track->box) || track->points.size() != 4) {
        fallback = geometryOrEdge;
        return std::nullopt;
    }
    const std::vector<Point>& points = track->points;
    std::optional<PoseFeatures> features = SeatedGeometry::features(track->box, points[0], points[1], points[2],
                                                                    points[3], track->confidence, aspect);
    if (!features) {
        fallback = geometryOrEdge;
        return std::nullopt;
    }
    const std::optional<int> trackedBand = band(features);
    if (!m_verifiedBand || !trackedBand || *trackedBand != *m_verifiedBand) {
        fallback = zoneTransition;
        return std::nullopt;
    }
    const FaceCandidate candidate{track->box, candidateSignature(track->box, points), m_lastVerifiedYaw,
                                  *m_verifiedBand == 0, chinOnBottomEdge(points)};
    // The selection is tried on a copy and kept only when it accepts the tracked face.
    FaceContinuity tentative = m_continuity;
    const FaceSelection selection = tentative.select(std::span(&candidate, 1), time);
    if (selection.index != std::optional<std::size_t>(0) || selection.loss != FaceLossReason::unknown) {
        fallback = subjectMismatch;
        return std::nullopt;
    }
    m_continuity = std::move(tentative);
    ++m_patchPasses;
    m_lastPath = "patch";
    m_lastFallback.clear();
    return SeatedDetection{std::move(features), std::string(guidance::trackingHeight), points,
                           FaceLossReason::unknown};
}

SeatedDetection SeatedPoseDetector::fullPass(const PixelBufferView& frame, double aspect, double time,
                                             bool patchAllowed, const std::string& fallback)
{
    m_lastFallback = fallback;
    ++m_fallbackCounts[fallback];
    m_patches.reset();
    m_verifiedBand.reset();
    if (!m_request)
        throw LandmarkRequestError("No face landmark detector is available.");
    const bool tracking = m_continuity.selectedBox && !m_continuity.needsReacquisition;
    m_request->setSearchHint({time, tracking ? m_continuity.selectedBox : std::nullopt});
    std::vector<FaceObservation> faces = confidentFaces(m_request->perform(frame));

    ++m_fullPasses;
    m_lastPath = "full";
    std::vector<SeatedDetection> detections;
    detections.reserve(faces.size());
    for (const FaceObservation& face : faces)
        detections.push_back(landmarks(face, aspect));

    // The second face finder looks only where the first found nobody to measure, so a
    // well-lit user never pays for it; its faces then compete with the first one's.
    FaceContinuity continuity = m_continuity;
    SeatedDetection result = select(continuity, faces, detections, time);
    if (!result.features) {
        bool added = false;
        const std::size_t firstFound = faces.size();
        for (FaceObservation& face : confidentFaces(m_request->findMissedFaces(frame))) {
            // A face the first finder found but could not measure is replaced, so that one
            // person still counts once.
            const std::optional<std::size_t> same = sameFace(face.boundingBox, std::span(faces).first(firstFound));
            if (same && detections[*same].features)
                continue;
            SeatedDetection detection = landmarks(face, aspect);
            if (same) {
                faces[*same] = std::move(face);
                detections[*same] = std::move(detection);
            } else {
                faces.push_back(std::move(face));
                detections.push_back(std::move(detection));
            }
            added = true;
        }
        if (added) {
            continuity = m_continuity;
            result = select(continuity, faces, detections, time);
        }
    }
    m_continuity = std::move(continuity);
    m_lastFaceCount = static_cast<int>(faces.size());
    m_verifiedBand = band(result.features);

    const bool seedable = patchAllowed && m_reference && faces.size() == 1 && result.features
        && result.points.size() == 4 && m_continuity.selectedBox;
    if (seedable) {
        if (m_patches.remember(frame, *m_continuity.selectedBox, result.points, time)) {
            m_lastSeedFailure.reset();
        } else {
            m_lastSeedFailure = m_patches.lastFailure() ? std::string(*m_patches.lastFailure()) : std::string(noTemplate);
            ++m_seedFailureCounts[*m_lastSeedFailure];
        }
    } else {
        m_patches.reset();
        m_lastSeedFailure.reset();
    }
    return result;
}

SeatedDetection SeatedPoseDetector::select(FaceContinuity& continuity, const std::vector<FaceObservation>& faces,
                                           const std::vector<SeatedDetection>& detections, double time)
{
    std::vector<FaceCandidate> candidates;
    candidates.reserve(faces.size());
    for (std::size_t i = 0; i < faces.size(); ++i) {
        const Rect& box = faces[i].boundingBox;
        candidates.push_back({box, candidateSignature(box, detections[i].points), faces[i].yaw,
                              band(detections[i].features) == std::optional(0),
                              chinOnBottomEdge(detections[i].points)});
    }
    const FaceSelection selection = continuity.select(candidates, time);
    if (selection.index) {
        SeatedDetection result = detections[*selection.index];
        result.loss = selection.loss;
        if (result.features)
            m_lastVerifiedYaw = faces[*selection.index].yaw;
        return result;
    }
    const std::string_view text =
        selection.loss == FaceLossReason::ambiguous ? guidance::waitingForClearMatch : guidance::lookingForFace;
    return {std::nullopt, std::string(text), {}, selection.loss};
}

void SeatedPoseDetector::setReference(const std::optional<PoseFeatures>& baseline, double yellow, double red)
{
    const bool accepted = baseline && baseline->valid() && isValidThresholdPair(yellow, red);
    if (!accepted) {
        if (m_reference) {
            m_patches.reset();
            m_verifiedBand.reset();
        }
        m_reference.reset();
        return;
    }
    const bool changed = !m_reference || m_reference->baseline.coreVector() != baseline->coreVector()
        || m_reference->baseline.landmarkHeight != baseline->landmarkHeight || m_reference->yellow != yellow
        || m_reference->red != red;
    if (changed) {
        m_patches.reset();
        m_verifiedBand.reset();
    }
    m_reference = Reference{*baseline, yellow, red};
}

void SeatedPoseDetector::reset()
{
    m_continuity = FaceContinuity{};
    m_patches.reset();
    m_reference.reset();
    m_verifiedBand.reset();
    m_lastVerifiedYaw.reset();
}

void SeatedPoseDetector::prepare()
{
    if (m_request)
        m_request->prepare();
}

void SeatedPoseDetector::replacePatchTracker(int radius)
{
    m_patches = LandmarkPatchTracker(radius);
    m_patchRadius = m_patches.radius();
    m_verifiedBand.reset();
}

SeatedDetection SeatedPoseDetector::landmarks(const FaceObservation& observation, double aspect)
{
    const Rect& box = observation.boundingBox;
    const std::optional<Point> chin = lowestContourPoint(observation);
    const std::optional<Point> leftEye = center(box, observation.leftEye);
    const std::optional<Point> rightEye = center(box, observation.rightEye);
    const std::optional<Point> nose = center(box, observation.noseCrest ? observation.noseCrest : observation.nose);

    if (!chin || !leftEye || !rightEye || !nose)
        return {std::nullopt, std::string(guidance::landmarksHidden), {}, FaceLossReason::unknown};

    auto features = SeatedGeometry::features(box, *leftEye, *rightEye, *nose, chin,
                                             static_cast<double>(observation.confidence), aspect);
    if (!features)
        return {std::nullopt, std::string(guidance::moveCloser), {}, FaceLossReason::unknown};
    return {std::move(features), std::string(guidance::measuring), {*leftEye, *rightEye, *nose, *chin},
            FaceLossReason::unknown};
}

} // namespace verticora
