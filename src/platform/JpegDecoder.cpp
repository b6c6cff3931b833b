#include "platform/JpegDecoder.h"

#include <libyuv/scale.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdio> // jpeglib.h relies on FILE and size_t being declared
#include <cstring>
#include <new>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

namespace verticora {

namespace {

// Beyond any camera's picture; a header that claims more is damage, not a frame to allocate for.
constexpr JDIMENSION maximumSide = 8192;
// Rows one component hands over per raw read: its vertical sampling times its scaled block.
constexpr int maximumRowsPerRead = 32;

// libjpeg reports a fatal error by calling error_exit, which must not return: it jumps
// back to the setjmp of the call in progress. Only plain C data lives in the frames it
// skips, so no destructor is lost.
struct ErrorManager {
    jpeg_error_mgr base; // first, so that libjpeg's pointer to it points to this
    std::jmp_buf abort;
};

[[noreturn]] void abandon(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->abort, 1);
}

// Warnings after which part of the picture is made up. Extra bytes between markers, which
// some cameras send with every frame, or an unknown JFIF revision leave it whole.
bool garbles(int code)
{
    switch (code) {
    case JWRN_BOGUS_PROGRESSION:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_JPEG_EOF:
    case JWRN_MUST_RESYNC:
    case JWRN_NOT_SEQUENTIAL:
        return true;
    default:
        return false;
    }
}

void onMessage(j_common_ptr info, int level)
{
    if (level < 0 && garbles(info->err->msg_code))
        abandon(info);
}

void silence(j_common_ptr) {}

bool create(jpeg_decompress_struct* info, ErrorManager* errors)
{
    if (setjmp(errors->abort))
        return false;
    jpeg_create_decompress(info);
    return true;
}

// Reads the header and starts a raw decode at the reduced scale. False for a JPEG that
// cannot be read, comes in several scans, or whose planes are not YCbCr or grey.
bool start(jpeg_decompress_struct* info, ErrorManager* errors, std::span<const std::uint8_t> jpeg, int minimumWidth)
{
    if (setjmp(errors->abort))
        return false;
    jpeg_mem_src(info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(info, TRUE);
    // Cameras send each frame in one scan. A progressive or multi-scan JPEG would be
    // buffered whole before its first row, at the cost of every scan it claims to hold.
    if (info->image_width > maximumSide || info->image_height > maximumSide || jpeg_has_multiple_scans(info))
        return false;
    const bool colour = info->num_components == 3 && info->jpeg_color_space == JCS_YCbCr;
    const bool grey = info->num_components == 1 && info->jpeg_color_space == JCS_GRAYSCALE;
    if (!colour && !grey)
        return false; // RGB or CMYK JPEGs come from image editors, not from cameras
    info->raw_data_out = TRUE;
    info->out_color_space = info->jpeg_color_space;
    info->scale_num = 1;
    info->scale_denom = static_cast<unsigned int>(
        JpegDecoder::scaleDivisor(static_cast<int>(info->image_width), minimumWidth));
    jpeg_start_decompress(info);
    return true;
}

// Where one component's rows go: `rowsPerRead` rows of `stride` bytes per raw read, of
// which `width` by `height` are the picture.
struct PlaneTarget {
    std::uint8_t* base = nullptr;
    std::size_t stride = 0;
    int rowsPerRead = 0;
    int width = 0;
    int height = 0;
};

bool readPlanes(jpeg_decompress_struct* info, ErrorManager* errors, const PlaneTarget* targets)
{
    JSAMPROW rows[3][maximumRowsPerRead];
    JSAMPARRAY planes[3] = {rows[0], rows[1], rows[2]};
    if (setjmp(errors->abort))
        return false;
    const JDIMENSION linesPerRead = static_cast<JDIMENSION>(info->max_v_samp_factor * info->min_DCT_scaled_size);
    while (info->output_scanline < info->output_height) {
        const std::size_t read = info->output_scanline / linesPerRead;
        for (int c = 0; c < info->num_components; ++c) {
            const PlaneTarget& target = targets[c];
            for (int k = 0; k < target.rowsPerRead; ++k)
                rows[c][k] = target.base + (read * static_cast<std::size_t>(target.rowsPerRead) + static_cast<std::size_t>(k)) * target.stride;
        }
        if (jpeg_read_raw_data(info, planes, linesPerRead) == 0)
            return false;
    }
    jpeg_finish_decompress(info);
    return true;
}

std::size_t rowBytes(int width)
{
    return (static_cast<std::size_t>(width) + 15) & ~std::size_t(15);
}

// One libjpeg decompressor, made for one frame: libjpeg keeps an image's tables for the
// next image it reads, so a frame that left out a table would otherwise be decoded with
// whatever an earlier, perhaps damaged, frame defined.
class Decompressor {
public:
    Decompressor()
    {
        info.err = jpeg_std_error(&errors.base);
        errors.base.error_exit = abandon;
        errors.base.emit_message = onMessage;
        errors.base.output_message = silence;
        m_created = create(&info, &errors);
    }
    ~Decompressor() { jpeg_destroy_decompress(&info); } // safe on a half-made one too
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    [[nodiscard]] bool created() const { return m_created; }

    jpeg_decompress_struct info{};
    ErrorManager errors{};

private:
    bool m_created = false;
};

} // namespace

struct JpegDecoder::Impl {
    int minimumWidth = 0;
    // The chroma planes as the JPEG holds them, before they are brought to I420's size.
    std::vector<std::uint8_t> chroma;
};

JpegDecoder::JpegDecoder(int minimumWidth) : m_impl(std::make_unique<Impl>())
{
    m_impl->minimumWidth = minimumWidth;
}

JpegDecoder::~JpegDecoder() = default;

int JpegDecoder::scaleDivisor(int width, int minimumWidth)
{
    int divisor = 1;
    while (divisor < 8 && (width + 2 * divisor - 1) / (2 * divisor) >= minimumWidth)
        divisor *= 2;
    return divisor;
}

std::optional<JpegDecoder::Frame> JpegDecoder::decode(std::span<const std::uint8_t> jpeg)
{
    try {
        return decodeFrame(jpeg);
    } catch (const std::bad_alloc&) {
        return std::nullopt; // the next frame may fit; the camera's thread must go on
    }
}

std::optional<JpegDecoder::Frame> JpegDecoder::decodeFrame(std::span<const std::uint8_t> jpeg)
{
    Impl& d = *m_impl;
    Decompressor decompressor;
    jpeg_decompress_struct& info = decompressor.info;
    if (!decompressor.created() || !start(&info, &decompressor.errors, jpeg, d.minimumWidth))
        return std::nullopt;

    const int width = static_cast<int>(info.output_width);
    const int height = static_cast<int>(info.output_height);
    const int components = info.num_components;
    const std::size_t reads = info.total_iMCU_rows;
    std::array<PlaneTarget, 3> targets{};
    for (int c = 0; c < components; ++c) {
        const jpeg_component_info& component = info.comp_info[c];
        targets[c].rowsPerRead = component.v_samp_factor * component.DCT_scaled_size;
        targets[c].stride = rowBytes(static_cast<int>(component.width_in_blocks) * component.DCT_scaled_size);
        targets[c].width = static_cast<int>(component.downsampled_width);
        targets[c].height = static_cast<int>(component.downsampled_height);
        if (targets[c].rowsPerRead <= 0 || targets[c].rowsPerRead > maximumRowsPerRead)
            return std::nullopt;
    }
    // The luma plane is decoded in place; it must be the one at full resolution. (The
    // component table is libjpeg's and goes with the image: it is not read after decoding.)
    if (targets[0].width != width || targets[0].height != height)
        return std::nullopt;

    const int chromaWidth = (width + 1) / 2;
    const int chromaHeight = (height + 1) / 2;
    const std::size_t lumaStride = targets[0].stride;
    const std::size_t lumaBytes = lumaStride * reads * static_cast<std::size_t>(targets[0].rowsPerRead);
    const std::size_t chromaStride = rowBytes(chromaWidth);
    const std::size_t chromaBytes = chromaStride * static_cast<std::size_t>(chromaHeight);
    auto storage = std::make_shared_for_overwrite<std::uint8_t[]>(lumaBytes + 2 * chromaBytes);
    std::uint8_t* const y = storage.get();
    std::uint8_t* const u = y + lumaBytes;
    std::uint8_t* const v = u + chromaBytes;

    targets[0].base = y;
    std::array<std::size_t, 3> scratchOffset{};
    std::size_t scratchBytes = 0;
    for (int c = 1; c < components; ++c) {
        scratchOffset[c] = scratchBytes;
        scratchBytes += targets[c].stride * reads * static_cast<std::size_t>(targets[c].rowsPerRead);
    }
    d.chroma.resize(scratchBytes);
    for (int c = 1; c < components; ++c)
        targets[c].base = d.chroma.data() + scratchOffset[c];
    if (!readPlanes(&info, &decompressor.errors, targets.data()))
        return std::nullopt;

    if (components == 1) {
        std::memset(u, 128, 2 * chromaBytes);
    } else {
        std::uint8_t* const outputs[3] = {nullptr, u, v};
        for (int c = 1; c < 3; ++c) {
            libyuv::ScalePlane(targets[c].base, static_cast<int>(targets[c].stride), targets[c].width, targets[c].height,
                               outputs[c], static_cast<int>(chromaStride), chromaWidth, chromaHeight, libyuv::kFilterBox);
        }
    }

    const std::array<PixelPlane, 3> planes{{{y, lumaStride}, {u, chromaStride}, {v, chromaStride}}};
    return Frame{std::move(storage), PixelBufferView(width, height, pixelFormat::i420Full, planes)};
}

} // namespace verticora
