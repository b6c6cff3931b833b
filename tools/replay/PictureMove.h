#pragma once

#include "analysis/PixelBuffer.h"

#include <optional>
#include <span>

namespace verticora {

// A change of the camera's picture over a stretch of clip time, standing in for the
// person moving: the picture shifted down by a share of its height (the person sinks in
// front of the camera) and magnified about its centre (the person leans towards the
// camera; below 1 away from it). The move eases in over `ramp` seconds from `start` and
// out again over the `ramp` seconds before `end`.
struct PictureMove {
    double start = 0;
    double end = 0;
    double shiftDown = 0; // frame heights
    double zoom = 1;
    double ramp = 0.4;

    // How far the move has come at time t: 0 outside it, 1 while it is held.
    [[nodiscard]] double weightAt(double t) const;
};

// Bilinear sample of one byte channel of a plane `width` x `height` pixels at (x, y),
// the edge repeated outside; `stride` bytes step between pixels of a row.
[[nodiscard]] double bilinearSample(const PixelBufferView& frame, std::size_t plane, int width, int height, int stride,
                                    int channel, double x, double y);

// The frame as the moves active at time t change it, or none when none is active. Only
// NV12 frames are moved; pixels that come from outside the picture repeat its edge.
[[nodiscard]] std::optional<PixelBuffer> movedPicture(const PixelBufferView& frame, std::span<const PictureMove> moves,
                                                      double t);

} // namespace verticora
