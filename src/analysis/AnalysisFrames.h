#pragma once

#include "analysis/PixelBuffer.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace verticora {

// Shrinks camera frames to the "BGRA" analysis frame the detector reads: at most 384
// pixels wide, an even number of rows, the aspect ratio kept. One output buffer and one
// set of conversion buffers are kept for the current camera geometry and rebuilt only
// when the camera's size or pixel format changes, so steady frames allocate nothing.
class AnalysisFrames {
public:
    static constexpr int maximumWidth = 384;

    AnalysisFrames();
    ~AnalysisFrames();
    AnalysisFrames(const AnalysisFrames&) = delete;
    AnalysisFrames& operator=(const AnalysisFrames&) = delete;

    // The analysis frame for `source`: `source` itself when it is already "BGRA" and
    // narrow enough, otherwise a view of the reused output, valid until the next call.
    // None when the conversion fails; the caller then analyses the camera frame.
    [[nodiscard]] std::optional<PixelBufferView> resized(const PixelBufferView& source);

    // The camera geometry the output was built for (0 before the first conversion).
    [[nodiscard]] int sourceWidth() const { return m_sourceWidth; }
    [[nodiscard]] int sourceHeight() const { return m_sourceHeight; }
    [[nodiscard]] std::uint32_t format() const { return m_format; }
    // How many times the output has been (re)built; it changes only with the geometry.
    [[nodiscard]] int outputBuilds() const { return m_outputBuilds; }

private:
    // The working planes of the conversion for the current camera geometry.
    struct Transfer;

    bool rebuild(const PixelBufferView& source);
    bool transfer(const PixelBufferView& source);
    bool transferBGRA(const PixelBufferView& source);
    bool transferYuv(const PixelBufferView& source);
    void drop();

    std::unique_ptr<Transfer> m_transfer;
    std::optional<PixelBuffer> m_output;
    int m_sourceWidth = 0;
    int m_sourceHeight = 0;
    std::uint32_t m_format = 0;
    int m_outputBuilds = 0;
};

} // namespace verticora
