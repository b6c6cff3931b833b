// A .y4m clip as the replay camera reads it: every frame arrives whole or the clip is
// refused with a reason that stays the same, and the frames that do arrive, written
// back as a clip, read back equal.

#include "FuzzSupport.h"

#include "platform/Y4mClip.h"

#include <algorithm>
#include <vector>

using namespace verticora;
using namespace verticora::fuzz;

namespace {

constexpr int maximumFrames = 8;

bool samePixels(const PixelBuffer& a, const PixelBuffer& b)
{
    if (a.width() != b.width() || a.height() != b.height() || a.format() != b.format())
        return false;
    const PixelBufferView va = a.view();
    const PixelBufferView vb = b.view();
    for (std::size_t plane = 0; plane < va.planeCount(); ++plane) {
        const std::size_t rowBytes = PixelBufferView::planeRowBytes(va.format(), va.width(), plane);
        for (int y = 0; y < PixelBufferView::planeRows(va.format(), va.height(), plane); ++y) {
            if (!std::equal(va.row(plane, y), va.row(plane, y) + rowBytes, vb.row(plane, y)))
                return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const ScratchFolder folder;
    const QByteArray bytes = bytesOf(data, size);
    folder.write(QStringLiteral("clip.y4m"), bytes);
    const Leftovers leftovers(folder, {QStringLiteral("clip.y4m"), QStringLiteral("copy.y4m")});
    const std::filesystem::path clip = folder.file(QStringLiteral("clip.y4m")).toStdString();
    const std::filesystem::path copy = folder.file(QStringLiteral("copy.y4m")).toStdString();

    std::vector<ClipFrame> frames;
    std::optional<Y4mReader> reader;
    try {
        reader.emplace(clip);
        while (frames.size() < maximumFrames) {
            std::optional<ClipFrame> frame = reader->next();
            if (!frame)
                break;
            require(frame->buffer.width() == reader->width() && frame->buffer.height() == reader->height()
                        && frame->buffer.format() == reader->pixelFormat(),
                    "a frame has the clip's size and format");
            require(frame->index == std::int64_t(frames.size()), "frames are numbered in order");
            frames.push_back(std::move(*frame));
        }
    } catch (const ClipError& error) {
        if (reader) {
            try {
                (void)reader->next();
                require(false, "a failed reader keeps failing");
            } catch (const ClipError& again) {
                require(std::string(again.what()) == error.what(), "a failed reader repeats its reason");
            }
        }
    }
    require(folder.read(QStringLiteral("clip.y4m")) == bytes, "reading never changes the clip");
    if (frames.empty())
        return 0;

    {
        Y4mWriter writer(copy, reader->width(), reader->height(), reader->frameRate(),
                         reader->pixelFormat() == pixelFormat::yuv420Full);
        for (const ClipFrame& frame : frames)
            writer.write(frame.buffer.view());
        writer.finish();
    }
    Y4mReader again(copy);
    require(again.frameRate() == reader->frameRate() && again.pixelFormat() == reader->pixelFormat(),
            "a written clip keeps its rate and range");
    for (const ClipFrame& frame : frames) {
        const std::optional<ClipFrame> reread = again.next();
        require(reread && samePixels(reread->buffer, frame.buffer), "frames written back read back equal");
    }
    require(!again.next(), "a written clip holds exactly its frames");
    return 0;
}
