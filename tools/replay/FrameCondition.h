#pragma once

#include "analysis/Geometry.h"
#include "analysis/PixelBuffer.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace verticora {

class LandmarkDetector;

// Where a face was in one frame of a clip, as the detector found it in the unaltered
// frame: frame pixels, y down.
struct FaceReference {
    Point eyes;  // midpoint of the two eye centres
    Point nose;  // centre of the nose crest
    Point mouth; // a third of the way from the nose's base to the chin
    Point chin;
};

// The faces of every frame of a clip (none where none was found), by frame index.
struct ClipReferences {
    double framesPerSecond = 0;
    std::vector<std::optional<FaceReference>> frames;

    [[nodiscard]] const std::optional<FaceReference>& at(double t) const;
};

// Finds the surest face of every frame with `detector` (which should not brighten
// frames). Throws ClipError for a damaged clip.
[[nodiscard]] ClipReferences findReferences(const std::filesystem::path& clip, LandmarkDetector& detector);

// How a frame is made harder for the detector, standing in for the evening, a tilted
// head or a deep slouch: its levels scaled by `light` (the chroma towards grey alike)
// with Gaussian sensor noise of `noise` grey levels on the luma and half that on the
// chroma; the picture turned by `roll` degrees about the face (clockwise on screen) and
// shifted down until the bottom edge cuts the face at its chin or its mouth. All of it
// eases in over `ramp` seconds from clip time `from` (dusk falls, or the person tilts
// or slouches, after the height was set).
struct FrameCondition {
    enum class Cut { none, chin, mouth };

    std::string name;
    double light = 1;
    double noise = 0;
    double roll = 0;
    Cut cut = Cut::none;
    double from = 0;
    double ramp = 0;

    // Whether the condition holds in full at clip time t.
    [[nodiscard]] bool heldAt(double t) const { return t >= from + ramp; }

    // The conditions the figures are given for: light x1, x0.5, x0.3, x0.2 and x0.12 with
    // noise, rolled 15 to 50 degrees, and cut at the chin and at the mouth.
    [[nodiscard]] static std::vector<FrameCondition> standardSet();
};

// `frame` (NV12) at clip time t changed by `condition` about the face at `reference`;
// none when the condition changes nothing or needs a face and there is none.
[[nodiscard]] std::optional<PixelBuffer> alteredFrame(const PixelBufferView& frame, double t,
                                                      const FrameCondition& condition,
                                                      const std::optional<FaceReference>& reference,
                                                      std::mt19937& random);

} // namespace verticora
