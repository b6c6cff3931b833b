#pragma once

#include <atomic>
#include <cstdint>
#include <limits>

namespace verticora {

// Lets at most `rate` frames a second of a faster camera through, chosen by their
// timestamps, so that the frames kept are evenly spaced. Set on the capture thread, asked
// on the streaming thread for every frame the camera sends.
class FrameDrop {
public:
    // `rate` 0 keeps every frame; `nativeRate` is the camera's, whose half frame interval
    // absorbs the jitter of its timestamps.
    void setRate(int rate, double nativeRate);

    // The next frame is kept, whatever came before.
    void restart();

    // Whether the frame taken at `time` (nanoseconds on the stream's clock) is kept.
    [[nodiscard]] bool keep(std::uint64_t time);

private:
    static constexpr std::uint64_t none = std::numeric_limits<std::uint64_t>::max();

    std::atomic<std::uint64_t> m_period{0};
    std::atomic<std::uint64_t> m_slack{0};
    std::atomic<std::uint64_t> m_next{none};
};

} // namespace verticora
