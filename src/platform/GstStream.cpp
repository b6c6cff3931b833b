#include "platform/GstStream.h"

#include "analysis/AnalysisFrames.h"
#include "platform/GstHandles.h"

#include <algorithm>
#include <array>
#include <limits>
#include <stdexcept>
#include <unistd.h>

namespace verticora {

CaptureStream::CaptureStream(std::shared_ptr<Delivery> delivery, std::string node, FailureReport report)
    : m_delivery(std::move(delivery)), m_node(std::move(node)), m_report(std::move(report))
{
}

void CaptureStream::restart()
{
    drop.restart();
    std::lock_guard guard(m_lock);
    m_firstFrame = false;
    m_failure.reset();
    m_busy = false;
    m_watching = false;
    m_reported = false;
}

void CaptureStream::reclaim()
{
    std::lock_guard guard(m_lock);
    m_lent = false;
}

bool CaptureStream::watch()
{
    std::lock_guard guard(m_lock);
    m_watching = !m_failure && !m_abandoned && !m_lent;
    return m_watching;
}

void CaptureStream::unwatch()
{
    std::lock_guard guard(m_lock);
    m_watching = false;
}

void CaptureStream::lend()
{
    {
        std::lock_guard guard(m_lock);
        m_lent = true;
        m_watching = false;
    }
    m_changed.notify_all();
}

void CaptureStream::abandon()
{
    {
        std::lock_guard guard(m_lock);
        m_abandoned = true;
        m_watching = false;
    }
    m_changed.notify_all();
}

CaptureStream::Start CaptureStream::waitForFirstFrame(Clock::time_point deadline, std::string& failure)
{
    std::unique_lock guard(m_lock);
    m_changed.wait_until(guard, deadline, [&] { return m_firstFrame || m_failure || m_abandoned || m_lent; });
    if (m_lent && !m_abandoned)
        return Start::lent;
    if (m_firstFrame && !m_abandoned)
        return Start::firstFrame;
    if (m_failure || m_abandoned) {
        failure = m_failure.value_or("The camera was shut down.");
        return Start::failed;
    }
    return Start::timedOut;
}

std::optional<std::string> CaptureStream::failure()
{
    std::lock_guard guard(m_lock);
    return m_failure;
}

bool CaptureStream::busy()
{
    std::lock_guard guard(m_lock);
    return m_busy;
}

bool CaptureStream::released()
{
    std::lock_guard guard(m_lock);
    return m_lent;
}

void CaptureStream::fail(std::string text, bool busy)
{
    bool report = false;
    {
        std::lock_guard guard(m_lock);
        if (!m_failure) {
            m_failure = std::move(text);
            m_busy = busy;
        }
        report = m_watching && !m_reported;
        m_reported = m_reported || report;
    }
    m_changed.notify_all();
    if (report && m_report)
        m_report(!m_node.empty() && ::access(m_node.c_str(), F_OK) != 0);
}

bool CaptureStream::admit(std::uint64_t time)
{
    ++framesIn;
    return drop.keep(time);
}

std::optional<JpegDecoder::Frame> CaptureStream::decode(std::span<const std::uint8_t> jpeg)
{
    ++framesDecoded;
    std::lock_guard guard(m_decoderLock);
    if (!m_decoder)
        m_decoder.emplace(AnalysisFrames::maximumWidth);
    return m_decoder->decode(jpeg);
}

CaptureService::FrameReceiver CaptureStream::arrived()
{
    ++framesDelivered;
    {
        std::lock_guard guard(m_lock);
        m_firstFrame = true;
    }
    m_changed.notify_all();
    return m_delivery->current();
}

// ---- GStreamer's callbacks ----------------------------------------------------------------

namespace {

// User data of the callbacks: a strong reference to the stream, freed by GStreamer when
// the element or the bus that holds the callback goes away.
using StreamRef = std::shared_ptr<CaptureStream>;

CaptureStream& streamOf(gpointer data)
{
    return **static_cast<StreamRef*>(data);
}

void releaseStream(gpointer data)
{
    delete static_cast<StreamRef*>(data);
}

GstBusSyncReply onBusMessage(GstBus*, GstMessage* message, gpointer data)
{
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR: {
        GError* raw = nullptr;
        gchar* details = nullptr;
        gst_message_parse_error(message, &raw, &details);
        const ErrorPtr error(raw);
        const TextPtr debug(details);
        const bool busy = error && error->domain == GST_RESOURCE_ERROR && error->code == GST_RESOURCE_ERROR_BUSY;
        streamOf(data).fail(errorText(error.get(), "The camera reported an error."), busy);
        break;
    }
    case GST_MESSAGE_EOS:
        streamOf(data).fail("The camera stopped sending pictures.");
        break;
    default:
        break;
    }
    // Nobody pops this bus: every message is handled here and dropped, which leaves its
    // reference (and with it one of its element's) to this handler.
    gst_message_unref(message);
    return GST_BUS_DROP;
}

// Every frame the camera sends passes here first: counted, and dropped at once when the
// rate wants fewer, before the rest of the pipeline or the decoder sees it.
GstPadProbeReturn onCameraFrame(GstPad*, GstPadProbeInfo* info, gpointer data)
{
    const GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    const GstClockTime pts = buffer ? GST_BUFFER_PTS(buffer) : GST_CLOCK_TIME_NONE;
    // A frame without a timestamp is placed by when it came.
    const GstClockTime time = GST_CLOCK_TIME_IS_VALID(pts) ? pts : gst_util_get_timestamp();
    return streamOf(data).admit(time) ? GST_PAD_PROBE_OK : GST_PAD_PROBE_DROP;
}

std::uint32_t deliveredCode(const GstVideoInfo& info)
{
    const bool full = info.colorimetry.range == GST_VIDEO_COLOR_RANGE_0_255;
    switch (GST_VIDEO_INFO_FORMAT(&info)) {
    case GST_VIDEO_FORMAT_I420:
        return full ? pixelFormat::i420Full : pixelFormat::i420Video;
    case GST_VIDEO_FORMAT_NV12:
        return full ? pixelFormat::yuv420Full : pixelFormat::yuv420Video;
    case GST_VIDEO_FORMAT_YUY2:
        return pixelFormat::yuyv;
    case GST_VIDEO_FORMAT_UYVY:
        return pixelFormat::uyvy;
    default:
        return 0;
    }
}

// A raw frame handed over in place: its planes stay mapped while the receiver holds it.
bool mapRaw(SamplePtr sample, GstCaps* caps, CapturedFrame& captured)
{
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, caps))
        return false;
    const std::uint32_t code = deliveredCode(info);
    if (code == 0)
        return false;
    auto mapped = std::make_shared<const MappedFrame>(std::move(sample), info);
    if (!mapped->mapped())
        return false;
    const GstVideoFrame& frame = mapped->frame();
    std::array<PixelPlane, PixelBufferView::maximumPlanes> planes{};
    const std::size_t planeCount = std::min<std::size_t>(GST_VIDEO_FRAME_N_PLANES(&frame), planes.size());
    for (std::size_t i = 0; i < planeCount; ++i) {
        const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, i);
        if (stride <= 0)
            return false;
        planes[i] = {static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, i)),
                     static_cast<std::size_t>(stride)};
    }
    try {
        captured.image.emplace(GST_VIDEO_FRAME_WIDTH(&frame), GST_VIDEO_FRAME_HEIGHT(&frame), code,
                               std::span(planes.data(), planeCount));
    } catch (const std::invalid_argument&) {
        return false; // a frame of impossible geometry is dropped rather than read
    }
    captured.storage = std::move(mapped);
    return true;
}

// One frame reached the sink. MJPEG is decoded here; a frame that does not decode is
// dropped and does not count as the camera's first picture.
void deliver(CaptureStream& stream, SamplePtr sample)
{
    GstCaps* caps = gst_sample_get_caps(sample.get());
    GstBuffer* buffer = gst_sample_get_buffer(sample.get());
    if (!caps || gst_caps_is_empty(caps) || !buffer)
        return;
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    std::optional<JpegDecoder::Frame> decoded;
    if (gst_structure_has_name(gst_caps_get_structure(caps, 0), "image/jpeg")) {
        const MappedBuffer jpeg(buffer);
        decoded = stream.decode(jpeg.bytes());
        if (!decoded)
            return;
    }

    const CaptureService::FrameReceiver receiver = stream.arrived();
    if (!receiver)
        return;
    CapturedFrame captured;
    if (decoded) {
        captured.image = decoded->image;
        captured.storage = std::move(decoded->storage);
    } else if (!mapRaw(std::move(sample), caps, captured)) {
        return;
    }
    captured.presentationTime = GST_CLOCK_TIME_IS_VALID(pts) ? static_cast<double>(pts) / GST_SECOND
                                                             : std::numeric_limits<double>::quiet_NaN();
    captured.output = stream.output.load();
    receiver(std::move(captured));
}

GstFlowReturn onNewSample(GstAppSink* sink, gpointer data)
{
    SamplePtr sample(gst_app_sink_pull_sample(sink));
    if (!sample)
        return GST_FLOW_OK;
    try {
        deliver(streamOf(data), std::move(sample));
    } catch (const std::exception&) {
        // Out of memory for one frame: the next one is tried afresh.
    }
    return GST_FLOW_OK;
}

} // namespace

void watchBus(GstBus* bus, const std::shared_ptr<CaptureStream>& stream)
{
    gst_bus_set_sync_handler(bus, onBusMessage, new StreamRef(stream), releaseStream);
}

void takeFrames(GstPad* cameraPad, GstAppSink* sink, const std::shared_ptr<CaptureStream>& stream)
{
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = onNewSample;
    gst_app_sink_set_callbacks(sink, &callbacks, new StreamRef(stream), releaseStream);
    gst_pad_add_probe(cameraPad, GST_PAD_PROBE_TYPE_BUFFER, onCameraFrame, new StreamRef(stream), releaseStream);
}

} // namespace verticora
