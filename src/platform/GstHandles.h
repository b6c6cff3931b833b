#pragma once

// GStreamer's headers and owning handles for its objects, shared by the GStreamer sources
// of this folder. No other header includes GStreamer: this one is for .cpp files only.

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace verticora {

class CaptureStream;

// unique_ptr deleters that call GStreamer's and GLib's release functions.
template <auto release>
struct Release {
    template <typename T>
    void operator()(T* object) const
    {
        release(object);
    }
};

inline void releaseDevices(GList* devices)
{
    g_list_free_full(devices, gst_object_unref);
}

// GStreamer's own unref functions for these are static inline, so they cannot be template
// arguments of types that classes in other files hold.
inline void releaseCaps(GstCaps* caps)
{
    gst_caps_unref(caps);
}

inline void releaseSample(GstSample* sample)
{
    gst_sample_unref(sample);
}

inline void releaseBuffer(GstBuffer* buffer)
{
    gst_buffer_unref(buffer);
}

template <typename T>
using ObjectPtr = std::unique_ptr<T, Release<gst_object_unref>>;
using CapsPtr = std::unique_ptr<GstCaps, Release<releaseCaps>>;
using SamplePtr = std::unique_ptr<GstSample, Release<releaseSample>>;
using BufferPtr = std::unique_ptr<GstBuffer, Release<releaseBuffer>>;
using ErrorPtr = std::unique_ptr<GError, Release<g_error_free>>;
using TextPtr = std::unique_ptr<gchar, Release<g_free>>;
using StructurePtr = std::unique_ptr<GstStructure, Release<gst_structure_free>>;
using DeviceListPtr = std::unique_ptr<GList, Release<releaseDevices>>;

// Takes ownership of a new object whether or not GStreamer handed it over floating.
template <typename T>
ObjectPtr<T> adopt(T* object)
{
    if (object && g_object_is_floating(object))
        gst_object_ref_sink(object);
    return ObjectPtr<T>(object);
}

inline std::string errorText(const GError* error, const char* fallback)
{
    return error && error->message ? std::string(error->message) : std::string(fallback);
}

// Initialises GStreamer, once for the process however often it is called; the reason when
// it cannot be used.
inline std::optional<std::string> startGStreamer()
{
    GError* rawError = nullptr;
    if (gst_init_check(nullptr, nullptr, &rawError))
        return std::nullopt;
    const ErrorPtr error(rawError);
    return errorText(error.get(), "GStreamer could not be started.");
}

// A buffer's bytes, mapped read-only for as long as this lives.
class MappedBuffer {
public:
    explicit MappedBuffer(GstBuffer* buffer) : m_buffer(buffer)
    {
        m_mapped = buffer && gst_buffer_map(buffer, &m_info, GST_MAP_READ);
    }
    ~MappedBuffer()
    {
        if (m_mapped)
            gst_buffer_unmap(m_buffer, &m_info);
    }
    MappedBuffer(const MappedBuffer&) = delete;
    MappedBuffer& operator=(const MappedBuffer&) = delete;

    [[nodiscard]] std::span<const std::uint8_t> bytes() const
    {
        return m_mapped ? std::span<const std::uint8_t>(m_info.data, m_info.size) : std::span<const std::uint8_t>();
    }

private:
    GstBuffer* m_buffer;
    GstMapInfo m_info{};
    bool m_mapped = false;
};

// One sample's picture mapped read-only; unmapped, and the sample released, with the last
// reference, on whichever thread lets go of it.
class MappedFrame {
public:
    MappedFrame(SamplePtr sample, const GstVideoInfo& info) : m_sample(std::move(sample))
    {
        GstBuffer* buffer = gst_sample_get_buffer(m_sample.get());
        GstVideoInfo copy = info;
        m_mapped = buffer && gst_video_frame_map(&m_frame, &copy, buffer, GST_MAP_READ);
    }
    ~MappedFrame()
    {
        if (m_mapped)
            gst_video_frame_unmap(&m_frame);
    }
    MappedFrame(const MappedFrame&) = delete;
    MappedFrame& operator=(const MappedFrame&) = delete;

    [[nodiscard]] bool mapped() const { return m_mapped; }
    [[nodiscard]] const GstVideoFrame& frame() const { return m_frame; }

private:
    SamplePtr m_sample;
    GstVideoFrame m_frame{};
    bool m_mapped = false;
};

// The callbacks through which GStreamer's threads reach a stream (GstStream.cpp). Each
// holds a reference to the stream that GStreamer lets go of with the bus, the sink or the
// pad it was given to.
// Errors and the end of the stream, from the bus's sync handler, become its failure.
void watchBus(GstBus* bus, const std::shared_ptr<CaptureStream>& stream);
// Every frame the camera sends is counted and thinned at `cameraPad`, and those that
// reach `sink` go to the stream's receiver.
void takeFrames(GstPad* cameraPad, GstAppSink* sink, const std::shared_ptr<CaptureStream>& stream);

} // namespace verticora
