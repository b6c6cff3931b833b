#include "platform/CaptureModes.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace verticora {

namespace {

constexpr double rateTolerance = 0.01;
// The height capture analyses up to ten frames a second; a raw format that cannot deliver
// about nine loses to MJPEG.
constexpr double captureRate = 9.0;
constexpr StreamFormat rawPreference[] = {StreamFormat::nv12, StreamFormat::i420, StreamFormat::yuyv,
                                          StreamFormat::uyvy};

double fastest(const StreamMode& mode)
{
    double rate = 0;
    for (const RateSpan& span : mode.rates)
        rate = std::max(rate, span.maximum.value());
    return rate;
}

long long areaDistance(int width, int height)
{
    return std::llabs(static_cast<long long>(width) * height
                      - static_cast<long long>(preferredWidth) * preferredHeight);
}

// Modes of the same format and size merged into one, so that their rates are weighed together.
std::vector<StreamMode> merged(const std::vector<StreamMode>& offered)
{
    std::vector<StreamMode> modes;
    for (const StreamMode& mode : offered) {
        if (mode.width <= 0 || mode.height <= 0)
            continue;
        auto same = std::find_if(modes.begin(), modes.end(), [&](const StreamMode& m) {
            return m.format == mode.format && m.width == mode.width && m.height == mode.height;
        });
        if (same == modes.end())
            modes.push_back(mode);
        else
            same->rates.insert(same->rates.end(), mode.rates.begin(), mode.rates.end());
    }
    return modes;
}

} // namespace

CameraRate CameraRate::fromValue(double rate)
{
    if (!(rate > 0) || !std::isfinite(rate))
        return {0, 1};
    constexpr long long maximumDenominator = 1001;
    // Continued fraction convergents, stopped before the denominator grows too large.
    long long h0 = 1, h1 = 0, k0 = 0, k1 = 1;
    double x = rate;
    for (int step = 0; step < 32; ++step) {
        const auto a = static_cast<long long>(std::floor(x));
        const long long h = a * h0 + h1;
        const long long k = a * k0 + k1;
        if (k > maximumDenominator || h > std::numeric_limits<int>::max())
            break;
        h1 = h0;
        h0 = h;
        k1 = k0;
        k0 = k;
        const double rest = x - static_cast<double>(a);
        if (rest < 1e-9)
            break;
        x = 1 / rest;
    }
    return {static_cast<int>(h0), static_cast<int>(k0)};
}

std::optional<StreamMode> chooseStreamMode(const std::vector<StreamMode>& offered)
{
    const std::vector<StreamMode> modes = merged(offered);
    if (modes.empty())
        return std::nullopt;

    const auto closer = [](const StreamMode& a, const StreamMode& b) {
        const long long da = areaDistance(a.width, a.height);
        const long long db = areaDistance(b.width, b.height);
        return da != db ? da < db : a.width > b.width;
    };
    const StreamMode& sized = *std::min_element(modes.begin(), modes.end(), closer);
    std::vector<const StreamMode*> atSize;
    for (const StreamMode& mode : modes) {
        if (mode.width == sized.width && mode.height == sized.height)
            atSize.push_back(&mode);
    }
    const auto withFormat = [&](StreamFormat format) -> const StreamMode* {
        for (const StreamMode* mode : atSize) {
            if (mode->format == format)
                return mode;
        }
        return nullptr;
    };

    for (const StreamFormat format : rawPreference) {
        const StreamMode* mode = withFormat(format);
        if (mode && fastest(*mode) >= captureRate - rateTolerance)
            return *mode;
    }
    if (const StreamMode* mjpeg = withFormat(StreamFormat::mjpeg))
        return *mjpeg;
    const StreamMode* best = nullptr;
    for (const StreamMode* mode : atSize) {
        if (!best || fastest(*mode) > fastest(*best))
            best = mode;
    }
    return *best;
}

bool RateSpan::reaches(double rate) const
{
    return minimum.value() <= rate + rateTolerance && maximum.value() >= rate - rateTolerance;
}

double RatePlan::deliveredRate() const
{
    return dropTo > 0 ? std::min<double>(dropTo, native.value()) : native.value();
}

RatePlan planFrameRate(const std::vector<RateSpan>& offered, double wantedRate)
{
    std::optional<CameraRate> native;
    std::optional<CameraRate> fastestOffered;
    for (const RateSpan& span : offered) {
        if (!fastestOffered || span.maximum.value() > fastestOffered->value())
            fastestOffered = span.maximum;
        if (span.maximum.value() < wantedRate - rateTolerance)
            continue; // too slow for the cadence
        const CameraRate candidate =
            span.minimum.value() >= wantedRate - rateTolerance ? span.minimum : CameraRate::fromValue(wantedRate);
        if (!native || candidate.value() < native->value())
            native = candidate;
    }
    RatePlan plan;
    plan.native = native.value_or(fastestOffered.value_or(CameraRate{}));
    const int limit = std::max(1, static_cast<int>(std::ceil(wantedRate - rateTolerance)));
    if (plan.native.value() > limit + rateTolerance)
        plan.dropTo = limit;
    return plan;
}

std::optional<RateSpan> deliverableRates(const std::vector<RateSpan>& offered)
{
    if (offered.empty())
        return std::nullopt;
    RateSpan span{offered.front().minimum, offered.front().maximum};
    for (const RateSpan& s : offered) {
        if (s.minimum.value() < span.minimum.value())
            span.minimum = s.minimum;
        if (s.maximum.value() > span.maximum.value())
            span.maximum = s.maximum;
    }
    if (span.minimum.value() > 1)
        span.minimum = {1, 1};
    return span;
}

} // namespace verticora
