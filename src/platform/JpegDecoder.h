#pragma once

#include "analysis/PixelBuffer.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace verticora {

// Decodes a camera's MJPEG frames to full-range I420 at reduced size: the JPEG's own DCT
// scaling (1/2, 1/4 or 1/8) picks the smallest picture still `minimumWidth` pixels wide,
// and the planes come straight out of the decoder with no colour conversion, so a
// 1280x720 frame costs a fraction of a full decode. A damaged JPEG (cut short, corrupt
// entropy data, an unreadable header) is refused rather than shown half grey, and each
// frame is decoded on its own, with no table left over from an earlier one. One object
// per stream, used by one thread at a time; the frames it returns are independent of it.
class JpegDecoder {
public:
    explicit JpegDecoder(int minimumWidth);
    ~JpegDecoder();
    JpegDecoder(const JpegDecoder&) = delete;
    JpegDecoder& operator=(const JpegDecoder&) = delete;

    struct Frame {
        std::shared_ptr<const void> storage; // keeps the planes of `image` alive
        PixelBufferView image;
    };

    // The decoded frame, or none when the bytes are not a readable JPEG.
    [[nodiscard]] std::optional<Frame> decode(std::span<const std::uint8_t> jpeg);

    // The reduction (1, 2, 4 or 8) a picture `width` pixels wide is decoded at.
    [[nodiscard]] static int scaleDivisor(int width, int minimumWidth);

private:
    std::optional<Frame> decodeFrame(std::span<const std::uint8_t> jpeg);

    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace verticora
