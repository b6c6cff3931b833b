#include "ScriptedFaces.h"

namespace verticora::testing {

namespace {

LandmarkRegion region(std::vector<Point> points)
{
    return {static_cast<int>(points.size()), std::move(points)};
}

} // namespace

FaceObservation faceWithNoseAt(double noseY, double centerX, float confidence)
{
    constexpr double width = 0.2;
    constexpr double height = 0.24;
    FaceObservation face;
    // The nose crest's centre sits half way up the box.
    face.boundingBox = {centerX - width / 2, 1 - noseY - height / 2, width, height};
    face.confidence = confidence;
    face.yaw = 0.0;
    face.faceContour = region({{0.0, 0.7}, {0.15, 0.25}, {0.5, 0.0}, {0.85, 0.25}, {1.0, 0.7}});
    face.leftEye = region({{0.25, 0.62}, {0.35, 0.62}});
    face.rightEye = region({{0.65, 0.62}, {0.75, 0.62}});
    face.noseCrest = region({{0.5, 0.6}, {0.5, 0.4}});
    face.nose = region({{0.42, 0.38}, {0.58, 0.38}});
    return face;
}

} // namespace verticora::testing
