#include "analysis/AnalysisFrames.h"

#include <libyuv/convert.h>
#include <libyuv/convert_argb.h>
#include <libyuv/planar_functions.h>
#include <libyuv/scale.h>

#include <algorithm>
#include <array>
#include <new>
#include <stdexcept>
#include <vector>

namespace verticora {

namespace {

// Every channel is scaled as a plane of its own: the packed ARGB and UV scalers of the
// libyuv we build against darken by about 1 %. Luma (and "BGRA") is box filtered, which
// averages every camera pixel into the smaller frame and keeps edges steady for the
// detector and the template matching, at the cost of rounding down by up to one level.
// Chroma carries no edges worth keeping and is scaled bilinearly, which does not round.
constexpr libyuv::FilterMode detailFilter = libyuv::kFilterBox;
constexpr libyuv::FilterMode chromaFilter = libyuv::kFilterBilinear;

// One 8-bit plane, tightly packed.
struct Plane {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bytes;

    Plane() = default;
    Plane(int w, int h) : width(w), height(h), bytes(static_cast<std::size_t>(w) * static_cast<std::size_t>(h)) {}

    [[nodiscard]] std::uint8_t* data() { return bytes.data(); }
    [[nodiscard]] const std::uint8_t* data() const { return bytes.data(); }
    [[nodiscard]] int stride() const { return width; }
};

int targetWidth(int width)
{
    return std::min(width, AnalysisFrames::maximumWidth);
}

// The scaled height rounded down to an even number, at least 2.
int targetHeight(int width, int height)
{
    const double scaled = static_cast<double>(height) * targetWidth(width) / width;
    return std::max(2 * static_cast<int>(scaled * 0.5), 2);
}

int stride(std::size_t bytesPerRow)
{
    return static_cast<int>(bytesPerRow);
}

int half(int size)
{
    return (size + 1) / 2;
}

bool is422(std::uint32_t format)
{
    return format == pixelFormat::uyvy || format == pixelFormat::yuyv;
}

// "420f" and "f420" carry full-range levels, the other camera formats video range.
const libyuv::YuvConstants& yuvMatrix(std::uint32_t format)
{
    return isFullRange(format) ? libyuv::kYuvJPEGConstants : libyuv::kYuvI601Constants;
}

void scale(const std::uint8_t* from, int fromStride, int fromWidth, int fromHeight, Plane& to,
           libyuv::FilterMode filter)
{
    libyuv::ScalePlane(from, fromStride, fromWidth, fromHeight, to.data(), to.stride(), to.width, to.height, filter);
}

void scale(const Plane& from, Plane& to, libyuv::FilterMode filter)
{
    scale(from.data(), from.stride(), from.width, from.height, to, filter);
}

} // namespace

// Y, U, V (or R, G, B for "BGRA") at the camera's size and at the analysis size.
struct AnalysisFrames::Transfer {
    std::array<Plane, 3> full;
    std::array<Plane, 3> scaled;
    bool scales = false;
};

AnalysisFrames::AnalysisFrames() = default;
AnalysisFrames::~AnalysisFrames() = default;

std::optional<PixelBufferView> AnalysisFrames::resized(const PixelBufferView& source)
{
    const int width = source.width();
    const int height = source.height();
    const std::uint32_t format = source.format();
    if (width <= maximumWidth && format == pixelFormat::bgra)
        return source;

    if (!m_output || width != m_sourceWidth || height != m_sourceHeight || format != m_format) {
        if (!rebuild(source))
            return std::nullopt;
    }
    // A failed transfer keeps the buffers for the next frame.
    if (!transfer(source))
        return std::nullopt;
    return m_output->view();
}

bool AnalysisFrames::transfer(const PixelBufferView& source)
{
    return source.format() == pixelFormat::bgra ? transferBGRA(source) : transferYuv(source);
}

bool AnalysisFrames::transferBGRA(const PixelBufferView& source)
{
    Transfer& t = *m_transfer;
    PixelBuffer& out = *m_output;
    const PixelPlane& packed = source.plane(0);
    // libyuv's "ARGB" is B, G, R, A in memory; its R, G, B planes are ours.
    libyuv::SplitARGBPlane(packed.base, stride(packed.bytesPerRow), t.full[0].data(), t.full[0].stride(),
                           t.full[1].data(), t.full[1].stride(), t.full[2].data(), t.full[2].stride(), nullptr, 0,
                           source.width(), source.height());
    for (std::size_t i = 0; i < 3; ++i)
        scale(t.full[i], t.scaled[i], detailFilter);
    libyuv::MergeARGBPlane(t.scaled[0].data(), t.scaled[0].stride(), t.scaled[1].data(), t.scaled[1].stride(),
                           t.scaled[2].data(), t.scaled[2].stride(), nullptr, 0, out.planeData(0),
                           stride(out.bytesPerRow(0)), out.width(), out.height());
    return true;
}

// NV12, I420 and 4:2:2 frames: chroma into planes of their own (I420 has them already),
// every plane scaled, then one colour conversion at the analysis size.
bool AnalysisFrames::transferYuv(const PixelBufferView& source)
{
    Transfer& t = *m_transfer;
    PixelBuffer& out = *m_output;
    const std::uint32_t format = source.format();
    const int width = source.width();
    const int height = source.height();
    const libyuv::YuvConstants& matrix = yuvMatrix(format);

    struct PlaneRef {
        const std::uint8_t* data;
        int stride;
    };
    const auto refer = [](const Plane& plane) { return PlaneRef{plane.data(), plane.stride()}; };
    const auto referSource = [&](std::size_t index) {
        return PlaneRef{source.plane(index).base, stride(source.plane(index).bytesPerRow)};
    };
    PlaneRef y = referSource(0);
    PlaneRef u = refer(t.full[1]);
    PlaneRef v = refer(t.full[2]);
    if (is422(format)) {
        const auto unpack = format == pixelFormat::uyvy ? libyuv::UYVYToI420 : libyuv::YUY2ToI420;
        if (unpack(y.data, y.stride, t.full[0].data(), t.full[0].stride(), t.full[1].data(), t.full[1].stride(),
                   t.full[2].data(), t.full[2].stride(), width, height)
            != 0) {
            return false;
        }
        y = refer(t.full[0]);
    } else if (isI420(format)) {
        u = referSource(1);
        v = referSource(2);
    } else {
        const PlaneRef uv = referSource(1);
        if (!t.scales) {
            return libyuv::NV12ToARGBMatrix(y.data, y.stride, uv.data, uv.stride, out.planeData(0),
                                            stride(out.bytesPerRow(0)), &matrix, out.width(), out.height())
                == 0;
        }
        libyuv::SplitUVPlane(uv.data, uv.stride, t.full[1].data(), t.full[1].stride(), t.full[2].data(),
                             t.full[2].stride(), half(width), half(height));
    }

    if (t.scales) {
        scale(y.data, y.stride, width, height, t.scaled[0], detailFilter);
        scale(u.data, u.stride, half(width), half(height), t.scaled[1], chromaFilter);
        scale(v.data, v.stride, half(width), half(height), t.scaled[2], chromaFilter);
        y = refer(t.scaled[0]);
        u = refer(t.scaled[1]);
        v = refer(t.scaled[2]);
    }
    return libyuv::I420ToARGBMatrix(y.data, y.stride, u.data, u.stride, v.data, v.stride, out.planeData(0),
                                    stride(out.bytesPerRow(0)), &matrix, out.width(), out.height())
        == 0;
}

bool AnalysisFrames::rebuild(const PixelBufferView& source)
{
    drop();
    const int width = source.width();
    const int height = source.height();
    const std::uint32_t format = source.format();
    const int outWidth = targetWidth(width);
    const int outHeight = targetHeight(width, height);
    try {
        auto t = std::make_unique<Transfer>();
        t->scales = outWidth != width || outHeight != height;
        if (format == pixelFormat::bgra) {
            for (std::size_t i = 0; i < 3; ++i) {
                t->full[i] = Plane(width, height);
                t->scaled[i] = Plane(outWidth, outHeight);
            }
        } else {
            // Luma (and I420's chroma) is read from the camera frame; 4:2:2 frames are
            // unpacked first and NV12 chroma is split.
            if (is422(format))
                t->full[0] = Plane(width, height);
            if (!isI420(format)) {
                t->full[1] = Plane(half(width), half(height));
                t->full[2] = Plane(half(width), half(height));
            }
            if (t->scales) {
                t->scaled[0] = Plane(outWidth, outHeight);
                t->scaled[1] = Plane(half(outWidth), half(outHeight));
                t->scaled[2] = Plane(half(outWidth), half(outHeight));
            }
        }
        m_transfer = std::move(t);
        m_output.emplace(outWidth, outHeight, pixelFormat::bgra);
    } catch (const std::bad_alloc&) {
        drop();
        return false;
    } catch (const std::invalid_argument&) {
        drop();
        return false;
    }
    m_sourceWidth = width;
    m_sourceHeight = height;
    m_format = format;
    ++m_outputBuilds;
    return true;
}

void AnalysisFrames::drop()
{
    m_transfer.reset();
    m_output.reset();
}

} // namespace verticora
