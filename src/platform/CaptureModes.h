#pragma once

#include <optional>
#include <vector>

namespace verticora {

// The picture size sessions ask for.
inline constexpr int preferredWidth = 1280;
inline constexpr int preferredHeight = 720;

// The picture formats the capture pipeline takes from a camera. MJPEG is decoded to I420;
// the others are handed over as they come.
enum class StreamFormat { nv12, i420, yuyv, uyvy, mjpeg };

// A camera's frame rate as the fraction it negotiates (Y4mClip.h has the clips' own).
struct CameraRate {
    int numerator = 0;
    int denominator = 1;

    [[nodiscard]] double value() const { return denominator > 0 ? double(numerator) / denominator : 0; }
    // The nearest fraction with a denominator of at most 1001 (camera rates such as 30000/1001).
    [[nodiscard]] static CameraRate fromValue(double rate);

    friend bool operator==(CameraRate a, CameraRate b)
    {
        return static_cast<long long>(a.numerator) * b.denominator == static_cast<long long>(b.numerator) * a.denominator;
    }
};

// Rates a camera offers for one format and size: a single rate when minimum and maximum
// are the same, else every rate between them.
struct RateSpan {
    CameraRate minimum;
    CameraRate maximum;

    // Whether `rate` lies within the span, give or take a hundredth of a frame a second.
    [[nodiscard]] bool reaches(double rate) const;

    friend bool operator==(const RateSpan&, const RateSpan&) = default;
};

struct StreamMode {
    StreamFormat format = StreamFormat::mjpeg;
    int width = 0;
    int height = 0;
    std::vector<RateSpan> rates;

    friend bool operator==(const StreamMode&, const StreamMode&) = default;
};

// The mode to open: 1280x720 where the camera offers it, else the size nearest to it in
// pixels; at that size a raw format fast enough for the height capture (about 9 frames a
// second), else MJPEG, else the fastest raw format. None when nothing usable is offered.
[[nodiscard]] std::optional<StreamMode> chooseStreamMode(const std::vector<StreamMode>& offered);

// How a wanted delivery rate is reached: the camera runs at `native`, the lowest rate it
// offers that still meets the wanted one, and when that is faster, every surplus frame
// is dropped before any decoding so that at most `dropTo` frames a second pass.
struct RatePlan {
    CameraRate native;
    int dropTo = 0; // 0: every frame passes

    [[nodiscard]] double deliveredRate() const;
    friend bool operator==(const RatePlan&, const RatePlan&) = default;
};

[[nodiscard]] RatePlan planFrameRate(const std::vector<RateSpan>& offered, double wantedRate);

// The slowest and the fastest rate a session can deliver: down to one frame a second (or
// the camera's own lower rate) by dropping frames, up to the camera's fastest rate.
[[nodiscard]] std::optional<RateSpan> deliverableRates(const std::vector<RateSpan>& offered);

} // namespace verticora
