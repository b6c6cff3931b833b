#pragma once

#include "platform/Y4mClip.h"

#include <QColor>
#include <QRect>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

class QByteArray;
class QJsonValue;

namespace verticora::clip {

// A scene file that cannot be used; the message names the file and the bad entry.
class SceneError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Where a portrait is at one moment: the centre of its (cropped) picture in normalised
// frame coordinates, top-down, and its height as a fraction of the frame height.
struct FacePlacement {
    double x = 0.5;
    double y = 0.5;
    double height = 0.5;
};

struct FaceKeyframe {
    double t = 0;
    FacePlacement placement;
};

struct BrightnessKeyframe {
    double t = 0;
    double gain = 1;
};

struct SceneFace {
    QString image;               // resolved path of the portrait
    std::optional<QRect> crop;   // pixels of the portrait; the whole picture when none
    std::optional<double> appear;    // absent before this time
    std::optional<double> disappear; // absent from this time on
    std::vector<FaceKeyframe> keyframes; // at least one, by time

    // The placement at time t (held before the first and after the last keyframe,
    // linear in between), or none while the face is absent.
    [[nodiscard]] std::optional<FacePlacement> placementAt(double t) const;
};

struct Scene {
    int width = 640;
    int height = 360;
    FrameRate frameRate{10, 1};
    double duration = 5;
    QColor backgroundColor{128, 128, 128};
    QString backgroundImage;     // resolved path; fills the frame when set
    double noise = 0;            // standard deviation in grey levels, per colour channel
    std::uint64_t seed = 1;
    std::vector<BrightnessKeyframe> brightness; // empty: gain 1 throughout
    std::vector<SceneFace> faces; // drawn in this order, later ones on top

    [[nodiscard]] std::int64_t frameCount() const;
    [[nodiscard]] double timeOf(std::int64_t frame) const { return frameRate.timeOf(frame); }
    [[nodiscard]] double gainAt(double t) const;
};

// Frames per second from a number (29.97) or a "numerator:denominator" text, up to
// 240; none for anything else.
[[nodiscard]] std::optional<FrameRate> frameRateOf(const QJsonValue& value);

// Reads a scene (format in tools/clip/README.md). Relative image paths are looked up
// next to the scene file, then in each of `imageFolders`. Throws SceneError.
[[nodiscard]] Scene parseScene(const QByteArray& json, const QString& sceneFile, const QStringList& imageFolders);
[[nodiscard]] Scene loadScene(const QString& sceneFile, const QStringList& imageFolders);

} // namespace verticora::clip
