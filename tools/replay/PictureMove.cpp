#include "PictureMove.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace verticora {

namespace {

std::uint8_t sample(const PixelBufferView& frame, std::size_t plane, int width, int height, int stride, int channel,
                    double x, double y)
{
    return static_cast<std::uint8_t>(std::lround(bilinearSample(frame, plane, width, height, stride, channel, x, y)));
}

} // namespace

double bilinearSample(const PixelBufferView& frame, std::size_t plane, int width, int height, int stride, int channel,
                      double x, double y)
{
    x = std::clamp(x, 0.0, static_cast<double>(width - 1));
    y = std::clamp(y, 0.0, static_cast<double>(height - 1));
    const int x0 = static_cast<int>(x);
    const int y0 = static_cast<int>(y);
    const int x1 = std::min(x0 + 1, width - 1);
    const int y1 = std::min(y0 + 1, height - 1);
    const double ax = x - x0;
    const double ay = y - y0;
    const auto at = [&](int px, int py) { return static_cast<double>(frame.row(plane, py)[px * stride + channel]); };
    const double top = at(x0, y0) + ax * (at(x1, y0) - at(x0, y0));
    const double bottom = at(x0, y1) + ax * (at(x1, y1) - at(x0, y1));
    return top + ay * (bottom - top);
}

double PictureMove::weightAt(double t) const
{
    if (!(t >= start && t < end))
        return 0;
    if (ramp <= 0)
        return 1;
    const double in = std::min((t - start) / ramp, 1.0);
    const double out = std::min((end - t) / ramp, 1.0);
    const double w = std::min(in, out);
    return w * w * (3 - 2 * w); // eased, as a body moves
}

std::optional<PixelBuffer> movedPicture(const PixelBufferView& frame, std::span<const PictureMove> moves, double t)
{
    double shift = 0;
    double zoom = 1;
    bool active = false;
    for (const PictureMove& move : moves) {
        const double w = move.weightAt(t);
        if (w <= 0)
            continue;
        active = true;
        shift += w * move.shiftDown;
        zoom *= 1 + w * (move.zoom - 1);
    }
    if (!active || !isNV12(frame.format()) || !(zoom > 0))
        return std::nullopt;

    PixelBuffer moved(frame.width(), frame.height(), frame.format());
    // Output pixel centre p comes from source c + (p - shift - c) / zoom, in each plane's own pixels.
    const auto fill = [&](std::size_t plane, int width, int height, int channels) {
        const double cx = (width - 1) / 2.0;
        const double cy = (height - 1) / 2.0;
        const double shiftPixels = shift * height;
        for (int y = 0; y < height; ++y) {
            std::uint8_t* out = moved.row(plane, y);
            const double sy = cy + (y - shiftPixels - cy) / zoom;
            for (int x = 0; x < width; ++x) {
                const double sx = cx + (x - cx) / zoom;
                for (int c = 0; c < channels; ++c)
                    out[x * channels + c] = sample(frame, plane, width, height, channels, c, sx, sy);
            }
        }
    };
    fill(0, frame.width(), frame.height(), 1);
    fill(1, (frame.width() + 1) / 2, PixelBufferView::planeRows(frame.format(), frame.height(), 1), 2);
    return moved;
}

} // namespace verticora
