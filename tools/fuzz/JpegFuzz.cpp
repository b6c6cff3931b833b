// A camera's MJPEG frame as the capture pipeline decodes it: whatever the bytes, the decoder
// returns a whole frame or none, never reads or writes outside its planes, leaks nothing,
// and is left ready for the next frame, which decodes as it would have on a fresh decoder.

#include "FuzzSupport.h"

#include "platform/JpegDecoder.h"

#include <algorithm>
#include <optional>
#include <vector>

using namespace verticora;
using namespace verticora::fuzz;

namespace {

// Small, so that the seeds' small pictures take the reduced-size paths too.
constexpr int minimumWidth = 16;

// Every byte of the picture, plane by plane (touching them lets the sanitizer check the planes).
std::vector<std::uint8_t> pixelsOf(const PixelBufferView& image)
{
    std::vector<std::uint8_t> pixels;
    for (std::size_t plane = 0; plane < image.planeCount(); ++plane) {
        const std::size_t rowBytes = PixelBufferView::planeRowBytes(image.format(), image.width(), plane);
        for (int y = 0; y < PixelBufferView::planeRows(image.format(), image.height(), plane); ++y)
            pixels.insert(pixels.end(), image.row(plane, y), image.row(plane, y) + rowBytes);
    }
    return pixels;
}

std::optional<std::vector<std::uint8_t>> decode(JpegDecoder& decoder, std::span<const std::uint8_t> bytes)
{
    const std::optional<JpegDecoder::Frame> frame = decoder.decode(bytes);
    if (!frame)
        return std::nullopt;
    const PixelBufferView& image = frame->image;
    require(image.format() == pixelFormat::i420Full && image.planeCount() == 3, "frames are full-range I420");
    require(image.width() > 0 && image.height() > 0, "frames have pixels");
    return pixelsOf(image);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // One decoder for every input, as one serves every frame of a stream.
    static JpegDecoder streamDecoder(minimumWidth);
    const std::span<const std::uint8_t> bytes(data, size);
    const std::optional<std::vector<std::uint8_t>> first = decode(streamDecoder, bytes);

    JpegDecoder fresh(minimumWidth);
    require(decode(fresh, bytes) == first, "a decoder that refused or decoded a frame before decodes alike");
    return 0;
}
