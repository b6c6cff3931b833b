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

// "420f" carries full-range luma, the other camera formats video range.
const libyuv::YuvConstants& yuvMatrix(std::uint32_t format)
{
    return format == pixelFormat::yuv420Full ? libyuv::kYuvJPEGConstants : libyuv::kYuvI601Constants;
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

// NV12 and 4:2:2 frames: chroma into planes of their own, every plane scaled, then one
// colour conversion at the analysis size.
bool AnalysisFrames::transferYuv(const PixelBufferView& source)
{
    Transfer& t = *m_transfer;
    PixelBuffer& out = *m_output;
    const std::uint32_t format = source.format();
    const PixelPlane& first = source.plane(0);
    const int width = source.width();
    const int height = source.height();

    const libyuv::YuvConstants& matrix = yuvMatrix(format);
    const std::uint8_t* y = first.base;
    int yStride = stride(first.bytesPerRow);
    if (is422(format)) {
        const auto unpack = format == pixelFormat::uyvy ? libyuv::UYVYToI420 : libyuv::YUY2ToI420;
        if (unpack(first.base, stride(first.bytesPerRow), t.full[0].data(), t.full[0].stride(), t.full[1].data(),
                   t.full[1].stride(), t.full[2].data(), t.full[2].stride(), width, height)
            != 0) {
            return false;
        }
        y = t.full[0].data();
        yStride = t.full[0].stride();
    } else {
        const PixelPlane& uv = source.plane(1);
        if (!t.scales) {
            return libyuv::NV12ToARGBMatrix(y, yStride, uv.base, stride(uv.bytesPerRow), out.planeData(0),
                                            stride(out.bytesPerRow(0)), &matrix, out.width(), out.height())
                == 0;
        }
        libyuv::SplitUVPlane(uv.base, stride(uv.bytesPerRow), t.full[1].data(), t.full[1].stride(), t.full[2].data(),
                             t.full[2].stride(), half(width), half(height));
    }

    const std::array<Plane, 3>* planes = &t.full;
    if (t.scales) {
        scale(y, yStride, width, height, t.scaled[0], detailFilter);
        scale(t.full[1], t.scaled[1], chromaFilter);
        scale(t.full[2], t.scaled[2], chromaFilter);
        planes = &t.scaled;
        y = t.scaled[0].data();
        yStride = t.scaled[0].stride();
    }
    const std::array<Plane, 3>& p = *planes;
    return libyuv::I420ToARGBMatrix(y, yStride, p[1].data(), p[1].stride(), p[2].data(), p[2].stride(),
                                    out.planeData(0), stride(out.bytesPerRow(0)), &matrix, out.width(), out.height())
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
            // NV12 luma is read from the camera frame; 4:2:2 frames are unpacked first.
            if (is422(format))
                t->full[0] = Plane(width, height);
            t->full[1] = Plane(half(width), half(height));
            t->full[2] = Plane(half(width), half(height));
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
