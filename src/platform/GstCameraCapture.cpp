#include "platform/GstCameraCapture.h"

#include "analysis/AnalysisFrames.h"
#include "model/TaskQueue.h"
#include "platform/CameraIdentity.h"
#include "platform/CaptureModes.h"
#include "platform/DeviceNodeWatcher.h"
#include "platform/JpegDecoder.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <mutex>
#include <span>
#include <stdexcept>
#include <unistd.h>

namespace verticora {

namespace {

using Clock = std::chrono::steady_clock;

// Monitoring analyses three frames a second; the session starts at that rate so that the
// camera is never run faster than needed, not even for the first frames.
constexpr double monitoringRate = 3.0;
constexpr std::chrono::milliseconds systemStartTimeout{3000};

// ---- Ownership of GStreamer and GLib objects --------------------------------------------

// unique_ptr deleters that call GStreamer's and GLib's release functions.
template <auto release>
struct Release {
    template <typename T>
    void operator()(T* object) const
    {
        release(object);
    }
};

void releaseDevices(GList* devices)
{
    g_list_free_full(devices, gst_object_unref);
}

template <typename T>
using ObjectPtr = std::unique_ptr<T, Release<gst_object_unref>>;
using CapsPtr = std::unique_ptr<GstCaps, Release<gst_caps_unref>>;
using SamplePtr = std::unique_ptr<GstSample, Release<gst_sample_unref>>;
using BufferPtr = std::unique_ptr<GstBuffer, Release<gst_buffer_unref>>;
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

std::string errorText(const GError* error, const char* fallback)
{
    return error && error->message ? std::string(error->message) : std::string(fallback);
}

// ---- Formats ------------------------------------------------------------------------------

const char* rawFormatName(StreamFormat format)
{
    switch (format) {
    case StreamFormat::nv12:
        return "NV12";
    case StreamFormat::i420:
        return "I420";
    case StreamFormat::yuyv:
        return "YUY2";
    case StreamFormat::uyvy:
        return "UYVY";
    case StreamFormat::mjpeg:
        break;
    }
    return nullptr;
}

std::optional<StreamFormat> rawFormatNamed(const char* name)
{
    for (const StreamFormat format : {StreamFormat::nv12, StreamFormat::i420, StreamFormat::yuyv, StreamFormat::uyvy}) {
        if (name && std::string_view(name) == rawFormatName(format))
            return format;
    }
    return std::nullopt;
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

// Calls `visit` for a caps field's value, or for each value of a list.
template <typename Visit>
void forEachValue(const GValue* value, const Visit& visit)
{
    if (!value)
        return;
    if (!GST_VALUE_HOLDS_LIST(value)) {
        visit(value);
        return;
    }
    for (guint i = 0; i < gst_value_list_get_size(value); ++i)
        forEachValue(gst_value_list_get_value(value, i), visit);
}

// A size a field allows, with a range narrowed to the one value nearest `preferred`.
std::optional<int> sizeOf(const GValue* value, int preferred)
{
    if (G_VALUE_HOLDS_INT(value))
        return g_value_get_int(value);
    if (!GST_VALUE_HOLDS_INT_RANGE(value))
        return std::nullopt;
    const int minimum = gst_value_get_int_range_min(value);
    const int maximum = gst_value_get_int_range_max(value);
    const int step = std::max(1, gst_value_get_int_range_step(value));
    return minimum + (std::clamp(preferred, minimum, maximum) - minimum) / step * step;
}

CameraRate fractionOf(const GValue* value)
{
    return {gst_value_get_fraction_numerator(value), gst_value_get_fraction_denominator(value)};
}

std::optional<RateSpan> ratesOf(const GValue* value)
{
    if (GST_VALUE_HOLDS_FRACTION(value))
        return RateSpan{fractionOf(value), fractionOf(value)};
    if (GST_VALUE_HOLDS_FRACTION_RANGE(value))
        return RateSpan{fractionOf(gst_value_get_fraction_range_min(value)),
                        fractionOf(gst_value_get_fraction_range_max(value))};
    return std::nullopt;
}

// Every format, size and rate the source's caps allow that the pipeline can take.
std::vector<StreamMode> modesOf(const GstCaps* caps)
{
    std::vector<StreamMode> modes;
    if (!caps || gst_caps_is_any(caps))
        return modes;
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        const GstCapsFeatures* features = gst_caps_get_features(caps, i);
        if (features && !gst_caps_features_is_equal(features, GST_CAPS_FEATURES_MEMORY_SYSTEM_MEMORY))
            continue;
        const GstStructure* structure = gst_caps_get_structure(caps, i);
        const std::string_view name = gst_structure_get_name(structure);
        std::vector<StreamFormat> formats;
        if (name == "image/jpeg") {
            formats.push_back(StreamFormat::mjpeg);
        } else if (name == "video/x-raw") {
            forEachValue(gst_structure_get_value(structure, "format"), [&](const GValue* value) {
                if (G_VALUE_HOLDS_STRING(value)) {
                    if (const auto format = rawFormatNamed(g_value_get_string(value)))
                        formats.push_back(*format);
                }
            });
        }
        const auto sizes = [&](const char* field, int preferred) {
            std::vector<int> found;
            forEachValue(gst_structure_get_value(structure, field), [&](const GValue* value) {
                if (const auto size = sizeOf(value, preferred))
                    found.push_back(*size);
            });
            return found;
        };
        const std::vector<int> widths = sizes("width", preferredWidth);
        const std::vector<int> heights = sizes("height", preferredHeight);
        std::vector<RateSpan> rates;
        forEachValue(gst_structure_get_value(structure, "framerate"), [&](const GValue* value) {
            if (const auto span = ratesOf(value))
                rates.push_back(*span);
        });
        for (const StreamFormat format : formats) {
            for (const int width : widths) {
                for (const int height : heights)
                    modes.push_back({format, width, height, rates});
            }
        }
    }
    return modes;
}

CapsPtr capsFor(const StreamMode& mode, CameraRate rate)
{
    GstStructure* structure = mode.format == StreamFormat::mjpeg
        ? gst_structure_new_empty("image/jpeg")
        : gst_structure_new("video/x-raw", "format", G_TYPE_STRING, rawFormatName(mode.format), nullptr);
    gst_structure_set(structure, "width", G_TYPE_INT, mode.width, "height", G_TYPE_INT, mode.height, nullptr);
    if (rate.numerator > 0)
        gst_structure_set(structure, "framerate", GST_TYPE_FRACTION, rate.numerator, rate.denominator, nullptr);
    CapsPtr caps(gst_caps_new_empty());
    gst_caps_append_structure(caps.get(), structure);
    return caps;
}

// Everything after the source: the mode's caps and the sink the frames are taken from.
// Surplus frames are dropped by a probe on the source's pad before they reach either, and
// MJPEG is decoded in the sink's callback, so only the frames that are kept are decoded.
constexpr const char* tailDescription = "capsfilter name=verticora-mode ! appsink name=verticora-sink";

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

// Lets at most `rate` frames a second of a faster camera through, chosen by their
// timestamps, so that the frames kept are evenly spaced. Set on the capture thread, asked
// on the streaming thread for every frame the camera sends.
class FrameDrop {
public:
    // `rate` 0 keeps every frame; `nativeRate` is the camera's, whose half frame interval
    // absorbs the jitter of its timestamps.
    void setRate(int rate, double nativeRate)
    {
        const GstClockTime period = rate > 0 ? GST_SECOND / static_cast<GstClockTime>(rate) : 0;
        const GstClockTime slack = nativeRate > 0 ? static_cast<GstClockTime>(GST_SECOND / (2 * nativeRate)) : 0;
        m_slack.store(std::min(slack, period / 2));
        m_period.store(period);
        restart();
    }

    // The next frame is kept, whatever came before.
    void restart() { m_next.store(GST_CLOCK_TIME_NONE); }

    bool keep(GstClockTime time)
    {
        const GstClockTime period = m_period.load(std::memory_order_relaxed);
        if (period == 0)
            return true;
        if (!GST_CLOCK_TIME_IS_VALID(time))
            time = gst_util_get_timestamp();
        const GstClockTime slack = m_slack.load(std::memory_order_relaxed);
        const GstClockTime next = m_next.load(std::memory_order_relaxed);
        const bool first = !GST_CLOCK_TIME_IS_VALID(next);
        const bool wentBack = !first && next > time + period + slack; // a restarted clock
        if (!first && !wentBack && time + slack < next)
            return false;
        // Keep to the schedule while the frames do, so that jitter does not slow the rate.
        const bool onSchedule = !first && !wentBack && time < next + period;
        m_next.store(onSchedule ? next + period : time + period, std::memory_order_relaxed);
        return true;
    }

private:
    std::atomic<GstClockTime> m_period{0};
    std::atomic<GstClockTime> m_slack{0};
    std::atomic<GstClockTime> m_next{GST_CLOCK_TIME_NONE};
};

// ---- State shared with GStreamer's threads --------------------------------------------

// The receiver frames go to; replaced on the capture thread, read on streaming threads.
struct Delivery {
    std::mutex lock;
    CaptureService::FrameReceiver receiver;

    CaptureService::FrameReceiver current()
    {
        std::lock_guard guard(lock);
        return receiver;
    }
};

// What one pipeline shares with its streaming threads and its bus. The capture thread
// waits on it, bounded, for the first frame or a failure.
class Stream {
public:
    enum class Start { firstFrame, failed, timedOut, lent };
    // Called on a GStreamer thread when a running camera fails; `deviceGone` when its
    // device node disappeared, which is an unplug rather than an error.
    using FailureReport = std::function<void(bool deviceGone)>;

    Stream(std::shared_ptr<Delivery> delivery, std::string node, FailureReport report)
        : m_delivery(std::move(delivery)), m_node(std::move(node)), m_report(std::move(report))
    {
    }

    std::atomic<std::uint64_t> output{0};
    std::atomic<std::uint64_t> framesIn{0};
    std::atomic<std::uint64_t> framesDecoded{0};
    std::atomic<std::uint64_t> framesDelivered{0};
    FrameDrop drop;

    // A new start: forget the first frame and the failure of the last one.
    void restart()
    {
        drop.restart();
        std::lock_guard guard(m_lock);
        m_firstFrame = false;
        m_failure.reset();
        m_busy = false;
        m_watching = false;
        m_reported = false;
    }

    // The camera is to be taken again: a lend from now on stops the start.
    void reclaim()
    {
        std::lock_guard guard(m_lock);
        m_lent = false;
    }

    // From now on a failure is a runtime error; false (and nothing watched) when the
    // camera already failed since its start.
    bool watch()
    {
        std::lock_guard guard(m_lock);
        m_watching = !m_failure && !m_abandoned && !m_lent;
        return m_watching;
    }

    void unwatch()
    {
        std::lock_guard guard(m_lock);
        m_watching = false;
    }

    // Another program takes the camera: a wait for the first frame ends now, and the halt
    // that follows is no failure.
    void lend()
    {
        {
            std::lock_guard guard(m_lock);
            m_lent = true;
            m_watching = false;
        }
        m_changed.notify_all();
    }

    // Ends every wait at once, for good.
    void abandon()
    {
        {
            std::lock_guard guard(m_lock);
            m_abandoned = true;
            m_watching = false;
        }
        m_changed.notify_all();
    }

    Start waitForFirstFrame(Clock::time_point deadline, std::string& failure)
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

    [[nodiscard]] std::optional<std::string> failure()
    {
        std::lock_guard guard(m_lock);
        return m_failure;
    }

    // Whether the failure was the device being busy: another program streams from it.
    [[nodiscard]] bool busy()
    {
        std::lock_guard guard(m_lock);
        return m_busy;
    }

    // Whether another program was given the camera since the last start.
    [[nodiscard]] bool released()
    {
        std::lock_guard guard(m_lock);
        return m_lent;
    }

    // Bus thread: an error or the end of the stream.
    void fail(std::string text, bool busy = false)
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

    // Streaming thread: one frame reached the sink. MJPEG is decoded here; a frame that
    // does not decode is dropped and does not count as the camera's first picture.
    void deliver(SamplePtr sample)
    {
        GstCaps* caps = gst_sample_get_caps(sample.get());
        GstBuffer* buffer = gst_sample_get_buffer(sample.get());
        if (!caps || gst_caps_is_empty(caps) || !buffer)
            return;
        const GstClockTime pts = GST_BUFFER_PTS(buffer);
        std::optional<JpegDecoder::Frame> decoded;
        if (gst_structure_has_name(gst_caps_get_structure(caps, 0), "image/jpeg")) {
            decoded = decode(buffer);
            if (!decoded)
                return;
        }

        ++framesDelivered;
        {
            std::lock_guard guard(m_lock);
            m_firstFrame = true;
        }
        m_changed.notify_all();

        const CaptureService::FrameReceiver receiver = m_delivery->current();
        if (!receiver)
            return;
        CapturedFrame captured;
        if (decoded) {
            captured.image = decoded->image;
            captured.storage = std::move(decoded->storage);
        } else if (!map(std::move(sample), caps, captured)) {
            return;
        }
        captured.presentationTime = GST_CLOCK_TIME_IS_VALID(pts) ? static_cast<double>(pts) / GST_SECOND
                                                                 : std::numeric_limits<double>::quiet_NaN();
        captured.output = output.load();
        receiver(std::move(captured));
    }

private:
    std::optional<JpegDecoder::Frame> decode(GstBuffer* buffer)
    {
        ++framesDecoded;
        const MappedBuffer mapped(buffer);
        std::lock_guard guard(m_decoderLock);
        if (!m_decoder)
            m_decoder.emplace(AnalysisFrames::maximumWidth);
        return m_decoder->decode(mapped.bytes());
    }

    // A raw frame handed over in place: its planes stay mapped while the receiver holds it.
    static bool map(SamplePtr sample, GstCaps* caps, CapturedFrame& captured)
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

    std::shared_ptr<Delivery> m_delivery;
    std::string m_node;
    FailureReport m_report;

    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_firstFrame = false;
    std::optional<std::string> m_failure;
    bool m_busy = false;
    bool m_lent = false;
    bool m_watching = false;
    bool m_reported = false;
    bool m_abandoned = false;

    std::mutex m_decoderLock; // one streaming thread at a time, but a new one after each restart
    std::optional<JpegDecoder> m_decoder;
};

// User data of the C callbacks: a strong reference to the stream, freed by GStreamer when
// the element or the bus that holds the callback goes away.
using StreamRef = std::shared_ptr<Stream>;

StreamRef& streamOf(gpointer data)
{
    return *static_cast<StreamRef*>(data);
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
        streamOf(data)->fail(errorText(error.get(), "The camera reported an error."), busy);
        break;
    }
    case GST_MESSAGE_EOS:
        streamOf(data)->fail("The camera stopped sending pictures.");
        break;
    default:
        break;
    }
    // Nobody pops this bus: every message is handled here and dropped.
    return GST_BUS_DROP;
}

GstFlowReturn onNewSample(GstAppSink* sink, gpointer data)
{
    SamplePtr sample(gst_app_sink_pull_sample(sink));
    if (!sample)
        return GST_FLOW_OK;
    try {
        streamOf(data)->deliver(std::move(sample));
    } catch (const std::exception&) {
        // Out of memory for one frame: the next one is tried afresh.
    }
    return GST_FLOW_OK;
}

// Every frame the camera sends passes here first: counted, and dropped at once when the
// rate wants fewer, before the rest of the pipeline or the decoder sees it.
GstPadProbeReturn onCameraFrame(GstPad*, GstPadProbeInfo* info, gpointer data)
{
    Stream& stream = *streamOf(data);
    ++stream.framesIn;
    const GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    return stream.drop.keep(buffer ? GST_BUFFER_PTS(buffer) : GST_CLOCK_TIME_NONE) ? GST_PAD_PROBE_OK
                                                                                   : GST_PAD_PROBE_DROP;
}

// Hands the stand-in's frames to its "appsrc name=feed" whenever it asks for one.
void onNeedData(GstAppSrc* source, guint, gpointer data)
{
    const GstCameraCapture::Feed& feed = *static_cast<GstCameraCapture::Feed*>(data);
    std::optional<GstCameraCapture::FeedFrame> frame;
    try {
        frame = feed();
    } catch (const std::exception&) {
        frame.reset();
    }
    if (!frame || !frame->bytes) {
        gst_app_src_end_of_stream(source);
        return;
    }
    auto* keep = new std::shared_ptr<const std::vector<std::uint8_t>>(frame->bytes);
    const std::size_t size = (*keep)->size();
    BufferPtr buffer(gst_buffer_new_wrapped_full(
        GST_MEMORY_FLAG_READONLY, const_cast<std::uint8_t*>((*keep)->data()), size, 0, size, keep,
        [](gpointer bytes) { delete static_cast<std::shared_ptr<const std::vector<std::uint8_t>>*>(bytes); }));
    GST_BUFFER_PTS(buffer.get()) = static_cast<GstClockTime>(std::llround(frame->presentationTime * GST_SECOND));
    gst_app_src_push_buffer(source, buffer.release());
}

// ---- One capture pipeline ----------------------------------------------------------------

class Session {
public:
    Session(ObjectPtr<GstElement> pipeline, StreamMode mode, std::shared_ptr<Stream> stream,
            Clock::duration startTimeout)
        : m_pipeline(std::move(pipeline)), m_mode(std::move(mode)), m_stream(std::move(stream)),
          m_startTimeout(startTimeout)
    {
        GstBin* bin = GST_BIN(m_pipeline.get());
        m_modeFilter.reset(gst_bin_get_by_name(bin, "verticora-mode"));
        m_sink.reset(gst_bin_get_by_name(bin, "verticora-sink"));
    }

    ~Session() { close(); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    [[nodiscard]] bool complete() const { return m_modeFilter && m_sink; }
    [[nodiscard]] Stream& stream() { return *m_stream; }
    [[nodiscard]] const StreamMode& mode() const { return m_mode; }
    [[nodiscard]] const RatePlan& plan() const { return m_plan; }

    // Capture thread. Asks the camera for the plan's rate and drops what exceeds it.
    void apply(const RatePlan& plan)
    {
        if (m_applied && plan == m_plan)
            return;
        if (!m_applied || !(plan.native == m_plan.native)) {
            const CapsPtr caps = capsFor(m_mode, plan.native);
            g_object_set(m_modeFilter.get(), "caps", caps.get(), nullptr);
        }
        if (!m_applied || plan.dropTo != m_plan.dropTo || !(plan.native == m_plan.native))
            m_stream->drop.setRate(plan.dropTo, plan.native.value());
        m_plan = plan;
        m_applied = true;
    }

    // Capture thread: starts the pipeline and waits, at most until the start timeout, for
    // its first frame or a failure (whose text lands in `failure`).
    Stream::Start start(std::string& failure)
    {
        {
            std::lock_guard guard(m_stateLock);
            if (m_closed) {
                failure = "The camera was shut down.";
                return Stream::Start::failed;
            }
            if (!m_playing && m_stream->released())
                return Stream::Start::lent; // lent between the decision to start and now
            if (!m_playing) {
                m_stream->restart();
                m_playingSince = Clock::now();
                m_playing = true;
                if (gst_element_set_state(m_pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
                    failure = m_stream->failure().value_or("The camera refused to start.");
                    return Stream::Start::failed;
                }
            }
        }
        return m_stream->waitForFirstFrame(m_playingSince + m_startTimeout, failure);
    }

    // Capture thread, after start(): the session runs when no failure came meanwhile.
    bool markRunning()
    {
        m_running = m_stream->watch();
        return m_running;
    }

    // Stops the pipeline and closes the device; a later start() opens it again.
    void halt()
    {
        m_stream->unwatch();
        std::lock_guard guard(m_stateLock);
        haltLocked();
    }

    // Any thread: lets another program have the camera. The pipeline goes to NULL, which
    // closes the device and gives up its exclusive rights; a later start() takes it again.
    void lend()
    {
        m_stream->lend();
        std::lock_guard guard(m_stateLock);
        haltLocked();
    }

    // Any thread: halts for good and ends every wait at once.
    void close()
    {
        m_stream->abandon();
        std::lock_guard guard(m_stateLock);
        m_closed = true;
        haltLocked();
    }

    [[nodiscard]] bool running() const { return m_running; }

    // The camera's rate as negotiated, less what the drop lets through.
    [[nodiscard]] double negotiatedRate() const
    {
        const ObjectPtr<GstPad> pad(gst_element_get_static_pad(m_sink.get(), "sink"));
        const CapsPtr caps(pad ? gst_pad_get_current_caps(pad.get()) : nullptr);
        if (!caps || gst_caps_get_size(caps.get()) == 0)
            return 0;
        int numerator = 0;
        int denominator = 1;
        if (!gst_structure_get_fraction(gst_caps_get_structure(caps.get(), 0), "framerate", &numerator, &denominator)
            || denominator <= 0)
            return 0;
        const double rate = static_cast<double>(numerator) / denominator;
        return m_plan.dropTo > 0 ? std::min<double>(rate, m_plan.dropTo) : rate;
    }

private:
    void haltLocked()
    {
        m_running = false;
        m_playing = false;
        gst_element_set_state(m_pipeline.get(), GST_STATE_NULL);
    }

    ObjectPtr<GstElement> m_pipeline;
    ObjectPtr<GstElement> m_modeFilter;
    ObjectPtr<GstElement> m_sink;
    StreamMode m_mode;
    std::shared_ptr<Stream> m_stream;
    Clock::duration m_startTimeout;
    RatePlan m_plan;
    bool m_applied = false;

    // Held around every state change, never while waiting for frames, so that a close on
    // the main thread cannot be overtaken by a start on the capture thread.
    std::mutex m_stateLock;
    bool m_closed = false;
    bool m_playing = false;
    Clock::time_point m_playingSince;
    std::atomic<bool> m_running{false};
};

struct SessionOrError {
    std::unique_ptr<Session> session;
    std::string error;
};

// The one place a capture pipeline is put together: `source` is the description of the
// source element (or of a small source chain), `v4l2src device=…` for a camera; the rest
// follows from the formats the source offers.
SessionOrError buildPipeline(const std::string& source, const std::shared_ptr<Stream>& stream,
                             const GstCameraCapture::Feed& feed, Clock::duration startTimeout)
{
    GError* rawError = nullptr;
    ObjectPtr<GstElement> sourceBin = adopt(gst_parse_bin_from_description(source.c_str(), TRUE, &rawError));
    ErrorPtr error(rawError);
    if (!sourceBin || error)
        return {nullptr, errorText(error.get(), "The camera source could not be built.")};

    ObjectPtr<GstElement> pipeline = adopt(gst_pipeline_new("verticora-camera"));
    const ObjectPtr<GstBus> bus(gst_element_get_bus(pipeline.get()));
    gst_bus_set_sync_handler(bus.get(), onBusMessage, new StreamRef(stream), releaseStream);
    GstElement* sourceElement = sourceBin.get();
    gst_bin_add(GST_BIN(pipeline.get()), sourceElement); // the bin takes a reference of its own

    // READY opens the device, so that its formats can be asked for.
    if (gst_element_set_state(pipeline.get(), GST_STATE_READY) == GST_STATE_CHANGE_FAILURE) {
        gst_element_set_state(pipeline.get(), GST_STATE_NULL);
        return {nullptr, stream->failure().value_or("The camera could not be opened.")};
    }
    const ObjectPtr<GstPad> sourcePad(gst_element_get_static_pad(sourceElement, "src"));
    const CapsPtr offered(sourcePad ? gst_pad_query_caps(sourcePad.get(), nullptr) : nullptr);
    const std::optional<StreamMode> mode = chooseStreamMode(modesOf(offered.get()));
    if (!mode) {
        gst_element_set_state(pipeline.get(), GST_STATE_NULL);
        return {nullptr, "The camera offers no picture format Verticora can read."};
    }

    ObjectPtr<GstElement> tail = adopt(gst_parse_bin_from_description(tailDescription, TRUE, &rawError));
    error.reset(rawError);
    if (!tail || error) {
        gst_element_set_state(pipeline.get(), GST_STATE_NULL);
        return {nullptr, errorText(error.get(), "The capture pipeline could not be built.")};
    }
    gst_bin_add(GST_BIN(pipeline.get()), tail.get());
    if (!gst_element_link(sourceElement, tail.get())) {
        gst_element_set_state(pipeline.get(), GST_STATE_NULL);
        return {nullptr, "The camera's picture could not be taken."};
    }

    auto session = std::make_unique<Session>(std::move(pipeline), *mode, stream, startTimeout);
    if (!session->complete())
        return {nullptr, "The capture pipeline could not be built."};
    session->apply(planFrameRate(mode->rates, monitoringRate));

    GstBin* bin = GST_BIN(tail.get());
    const ObjectPtr<GstElement> sink(gst_bin_get_by_name(bin, "verticora-sink"));
    // No clock sync and no sample kept back: each frame is handed over as it comes, and
    // the camera's buffer returns to it as soon as the receiver lets go.
    g_object_set(sink.get(), "sync", FALSE, "max-buffers", 1u, "drop", TRUE, "enable-last-sample", FALSE, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = onNewSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink.get()), &callbacks, new StreamRef(stream), releaseStream);

    gst_pad_add_probe(sourcePad.get(), GST_PAD_PROBE_TYPE_BUFFER, onCameraFrame, new StreamRef(stream), releaseStream);

    if (feed) {
        const ObjectPtr<GstElement> feedElement(gst_bin_get_by_name(GST_BIN(sourceElement), "feed"));
        if (feedElement && GST_IS_APP_SRC(feedElement.get())) {
            GstAppSrcCallbacks feedCallbacks{};
            feedCallbacks.need_data = onNeedData;
            gst_app_src_set_callbacks(GST_APP_SRC(feedElement.get()), &feedCallbacks, new GstCameraCapture::Feed(feed),
                                      [](gpointer data) { delete static_cast<GstCameraCapture::Feed*>(data); });
        }
    }
    return {std::move(session), {}};
}

} // namespace

// ---- The capture service ----------------------------------------------------------------

namespace {

// Capture thread, before a session starts: from now on another program's open halts it.
// False when another program holds the camera already (it is then lent, untouched).
// Whoever opens it between this look and the start is caught by the watcher, whose
// lend stops the start.
bool claim(Session& session, DeviceNodeWatcher* watcher)
{
    session.stream().reclaim();
    if (!watcher)
        return true;
    watcher->stream();
    return !watcher->lendIfHeld();
}

} // namespace

struct GstCameraCapture::Impl {
    explicit Impl(GstCameraCapture& service) : owner(service), mainThread(new TaskQueue(&service))
    {
        GError* rawError = nullptr;
        if (!gst_init_check(nullptr, nullptr, &rawError)) {
            const ErrorPtr error(rawError);
            unavailable = errorText(error.get(), "GStreamer could not be started.");
        }
    }

    ~Impl()
    {
        if (monitor) {
            if (monitorStarted)
                gst_device_monitor_stop(monitor.get());
            const ObjectPtr<GstBus> bus(gst_device_monitor_get_bus(monitor.get()));
            gst_bus_set_flushing(bus.get(), TRUE);
        }
    }

    // Watches the system's cameras; plugs and unplugs become devicesChanged on the main thread.
    void startMonitor()
    {
        if (unavailable)
            return;
        monitor = adopt(gst_device_monitor_new());
        gst_device_monitor_add_filter(monitor.get(), "Video/Source", nullptr);
        // Another provider may hide the V4L2 one; its devices are the ones opened here.
        gst_device_monitor_set_show_all_devices(monitor.get(), TRUE);
        const ObjectPtr<GstBus> bus(gst_device_monitor_get_bus(monitor.get()));
        gst_bus_set_sync_handler(bus.get(), onMonitorMessage, this, nullptr);
        monitorStarted = gst_device_monitor_start(monitor.get());
    }

    static GstBusSyncReply onMonitorMessage(GstBus*, GstMessage* message, gpointer data)
    {
        switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_DEVICE_ADDED:
        case GST_MESSAGE_DEVICE_REMOVED:
        case GST_MESSAGE_DEVICE_CHANGED:
            static_cast<Impl*>(data)->announceDevicesChanged();
            break;
        default:
            break;
        }
        return GST_BUS_DROP;
    }

    void announceDevicesChanged()
    {
        mainThread->post([service = &owner] { emit service->devicesChanged(); });
    }

    struct Found {
        CameraDevice device;
        std::string node;
    };

    // Any thread: the cameras GStreamer can open, plus those udev lists whose node this
    // user may not open (GStreamer cannot probe them, yet the user must be able to pick
    // one and learn why it does not start).
    std::vector<Found> find() const
    {
        std::vector<Found> found;
        if (standIn) {
            found.push_back({standIn->device, standIn->node});
            return found;
        }
        if (!monitor)
            return found;
        const std::vector<ByIdLink> links = readByIdLinks();
        const DeviceListPtr devices(gst_device_monitor_get_devices(monitor.get()));
        for (GList* item = devices.get(); item; item = item->next) {
            GstDevice* device = GST_DEVICE(item->data);
            const StructurePtr properties(gst_device_get_properties(device));
            if (!properties)
                continue;
            const char* api = gst_structure_get_string(properties.get(), "device.api");
            const char* path = gst_structure_get_string(properties.get(), "device.path");
            if (!api || std::string_view(api) != "v4l2" || !path)
                continue;
            std::error_code error;
            const std::filesystem::path node = std::filesystem::canonical(path, error);
            if (error)
                continue; // unplugged a moment ago
            const char* busInfo = gst_structure_get_string(properties.get(), "v4l2.device.bus_info");
            const char* card = gst_structure_get_string(properties.get(), "v4l2.device.card");
            const VideoDeviceFacts facts{node.string(), busInfo ? busInfo : "", card ? card : ""};
            const TextPtr name(gst_device_get_display_name(device));
            found.push_back({{QString::fromStdString(stableCameraID(facts, links)),
                              QString::fromUtf8(name ? name.get() : facts.card.c_str()),
                              QString::fromStdString(cameraKind(facts.busInfo))},
                             facts.node});
        }
        for (const ByIdLink& link : links) {
            const bool known = std::any_of(found.begin(), found.end(), [&](const Found& f) { return f.node == link.target; });
            if (known || !link.path.ends_with("-video-index0") || ::access(link.target.c_str(), R_OK | W_OK) == 0
                || errno != EACCES)
                continue;
            const std::string linkName = std::filesystem::path(link.path).filename().string();
            found.push_back({{QString::fromStdString(link.path), QString::fromStdString(sysfsName(link.target)),
                              QString::fromStdString(cameraKind(linkName))},
                             link.target});
        }
        std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.node < b.node; });
        return found;
    }

    static std::string sysfsName(const std::string& node)
    {
        const std::string base = std::filesystem::path(node).filename().string();
        std::ifstream file("/sys/class/video4linux/" + base + "/name");
        std::string name;
        std::getline(file, name);
        return name.empty() ? base : name;
    }

    [[nodiscard]] std::string nodeOf(const QString& deviceID) const
    {
        for (const Found& f : find()) {
            if (f.device.uniqueID == deviceID)
                return f.node;
        }
        return {};
    }

    std::shared_ptr<Session> current() const
    {
        std::lock_guard guard(sessionLock);
        return session;
    }

    std::shared_ptr<Session> take()
    {
        std::lock_guard guard(sessionLock);
        return std::exchange(session, nullptr);
    }

    std::shared_ptr<DeviceNodeWatcher> currentWatcher() const
    {
        std::lock_guard guard(sessionLock);
        return watcher;
    }

    // Capture thread: watches the node of the camera this opening attempt is for. The
    // watcher it replaces is returned, to be let go outside the lock: its thread may be
    // waiting for the lock in a release.
    std::shared_ptr<DeviceNodeWatcher> watchFor(const QString& deviceID, const std::string& node,
                                                std::uint64_t attempt)
    {
        std::shared_ptr<DeviceNodeWatcher> fresh;
        if (!node.empty()) {
            // A by-id link follows its camera to whatever node a replug gives it.
            const bool byID = deviceID.startsWith(QLatin1String("/dev/v4l/by-id/"));
            const std::string link = byID ? deviceID.toStdString() : std::string();
            std::vector<std::string> folders;
            if (byID)
                folders.push_back(std::filesystem::path(link).parent_path().string());
            auto locate = [link, node] {
                std::error_code error;
                const std::filesystem::path resolved = link.empty() ? std::filesystem::path(node)
                                                                    : std::filesystem::canonical(link, error);
                return error ? std::string() : resolved.string();
            };
            const double quiet = standIn ? standIn->quietSeconds : CameraCourtesy::defaultQuietSeconds;
            fresh = std::make_shared<DeviceNodeWatcher>(
                std::move(locate), std::move(folders), quiet,
                DeviceNodeWatcher::Callbacks{[this, attempt] { lendCamera(attempt); },
                                             [this, attempt] { announce(CameraAvailability::free, attempt); }});
        }
        std::lock_guard guard(sessionLock);
        if (shutDown)
            return fresh; // no watch after the end
        return std::exchange(watcher, std::move(fresh));
    }

    // Watcher thread: another program opened the camera's node. Halting here, rather
    // than on a thread with an event loop, gives the camera up before the other program
    // gets from opening it to setting its format.
    void lendCamera(std::uint64_t attempt)
    {
        if (const std::shared_ptr<Session> s = current(); s && s->stream().output == attempt) {
            s->lend();
            lastRelease.store(std::chrono::duration<double>(Clock::now().time_since_epoch()).count());
            ++releases;
        }
        announce(CameraAvailability::lent, attempt);
    }

    // Called under the lock, so that a receiver replaced or cleared is never called again.
    void announce(CameraAvailability availability, std::uint64_t attempt)
    {
        std::lock_guard guard(availabilityLock);
        if (availabilityReceiver)
            availabilityReceiver(availability, attempt);
    }

    GstCameraCapture& owner;
    TaskQueue* mainThread; // a child of the service: announcements for the main thread
    std::optional<StandIn> standIn;
    Clock::duration startTimeout = systemStartTimeout;
    std::optional<std::string> unavailable; // why GStreamer cannot be used
    ObjectPtr<GstDeviceMonitor> monitor;
    bool monitorStarted = false;
    std::shared_ptr<Delivery> delivery = std::make_shared<Delivery>();
    std::atomic<std::uint64_t> output{0};

    std::atomic<bool> busy{false}; // the last opening or start found the camera held elsewhere
    std::atomic<std::uint64_t> releases{0};
    std::atomic<double> lastRelease{0};

    std::mutex availabilityLock;
    AvailabilityReceiver availabilityReceiver;

    mutable std::mutex sessionLock; // guards the three below
    std::shared_ptr<Session> session;
    std::shared_ptr<DeviceNodeWatcher> watcher;
    bool shutDown = false;
};

GstCameraCapture::GstCameraCapture(QObject* parent) : CaptureService(parent), m_impl(std::make_unique<Impl>(*this))
{
    m_impl->startMonitor();
}

GstCameraCapture::GstCameraCapture(StandIn standIn, QObject* parent)
    : CaptureService(parent), m_impl(std::make_unique<Impl>(*this))
{
    m_impl->startTimeout = standIn.startTimeout;
    m_impl->standIn = std::move(standIn);
}

GstCameraCapture::~GstCameraCapture()
{
    shutDown();
}

QList<CameraDevice> GstCameraCapture::discoverDevices()
{
    QList<CameraDevice> devices;
    for (const Impl::Found& found : m_impl->find())
        devices.append(found.device);
    return devices;
}

bool GstCameraCapture::accessDenied(const QString& deviceID)
{
    // A by-id identifier is itself a path to the node.
    std::string node = m_impl->nodeOf(deviceID);
    if (node.empty() && deviceID.startsWith(QLatin1String("/dev/")))
        node = deviceID.toStdString();
    return !node.empty() && ::access(node.c_str(), R_OK | W_OK) != 0 && errno == EACCES;
}

std::optional<QString> GstCameraCapture::openSession(const QString& deviceID)
{
    Impl& d = *m_impl;
    if (d.unavailable)
        return QString::fromStdString(*d.unavailable);
    {
        std::lock_guard guard(d.sessionLock);
        if (d.shutDown)
            return QStringLiteral("The camera was shut down.");
    }
    if (const std::shared_ptr<Session> previous = d.take())
        previous->close();
    d.busy = false;
    const std::uint64_t attempt = ++d.output;

    std::string source;
    std::string node;
    Feed feed;
    if (d.standIn) {
        if (deviceID != d.standIn->device.uniqueID)
            return QStringLiteral("The camera is not connected.");
        source = d.standIn->source;
        feed = d.standIn->feed;
        node = d.standIn->node;
    } else {
        node = d.nodeOf(deviceID);
        if (node.empty())
            return QStringLiteral("The camera is not connected.");
        source = "v4l2src device=\"" + node + "\"";
    }
    d.watchFor(deviceID, node, attempt); // the previous watcher ends here, outside the lock
    const std::shared_ptr<DeviceNodeWatcher> watcher = d.currentWatcher();
    // Never taken from a program that holds it: not even opened, so its format stays its own.
    if (watcher && watcher->lendIfHeld()) {
        d.busy = true;
        return QStringLiteral("Another app is using the camera.");
    }

    auto stream = std::make_shared<Stream>(d.delivery, node, [queue = d.mainThread, service = this](bool deviceGone) {
        if (deviceGone)
            queue->post([service] { emit service->devicesChanged(); });
        else
            queue->post([service] { emit service->runtimeError(); });
    });
    stream->output = attempt;
    SessionOrError built = buildPipeline(source, stream, feed, d.startTimeout);
    if (!built.session)
        return QString::fromStdString(built.error);
    const std::shared_ptr<Session> session = std::move(built.session);
    {
        std::lock_guard guard(d.sessionLock);
        if (d.shutDown) {
            session->close();
            return QStringLiteral("The camera was shut down.");
        }
        d.session = session;
    }

    // A busy camera, or one that refuses the format, fails only once it streams: the
    // session starts here, so that those failures are the opening's. A camera that stays
    // silent is left to startRunning, which then finds it not running.
    std::string failure;
    const Stream::Start started = claim(*session, watcher.get()) ? session->start(failure) : Stream::Start::lent;
    if (started == Stream::Start::failed || started == Stream::Start::lent) {
        d.take();
        session->close();
        d.busy = started == Stream::Start::lent || stream->busy();
        if (watcher && stream->busy())
            watcher->lend();
        else if (watcher && !d.busy)
            watcher->rest();
        return d.busy ? QStringLiteral("Another app is using the camera.") : QString::fromStdString(failure);
    }
    return std::nullopt;
}

std::uint64_t GstCameraCapture::currentOutput() const
{
    return m_impl->output.load();
}

void GstCameraCapture::setFrameReceiver(FrameReceiver receiver)
{
    std::lock_guard guard(m_impl->delivery->lock);
    m_impl->delivery->receiver = std::move(receiver);
}

void GstCameraCapture::startRunning()
{
    Impl& d = *m_impl;
    const std::shared_ptr<Session> session = d.current();
    if (!session)
        return;
    d.busy = false;
    const std::shared_ptr<DeviceNodeWatcher> watcher = d.currentWatcher();
    if (!session->running() && !claim(*session, watcher.get())) {
        d.busy = true;
        return;
    }
    std::string failure;
    const Stream::Start started = session->start(failure);
    if (started == Stream::Start::firstFrame && session->markRunning())
        return;
    if (started == Stream::Start::lent || session->stream().released()) {
        d.busy = true; // the watcher halted it and waits for the camera to be free
        return;
    }
    session->halt(); // no picture in time, or a failure: not running, and the camera off
    d.busy = session->stream().busy();
    if (watcher && d.busy)
        watcher->lend();
    else if (watcher)
        watcher->rest();
}

void GstCameraCapture::stopRunning()
{
    if (const std::shared_ptr<Session> session = m_impl->current())
        session->halt();
    if (const std::shared_ptr<DeviceNodeWatcher> watcher = m_impl->currentWatcher())
        watcher->rest();
}

bool GstCameraCapture::cameraBusy() const
{
    return m_impl->busy.load();
}

void GstCameraCapture::setAvailabilityReceiver(AvailabilityReceiver receiver)
{
    std::lock_guard guard(m_impl->availabilityLock);
    m_impl->availabilityReceiver = std::move(receiver);
}

bool GstCameraCapture::isRunning() const
{
    const std::shared_ptr<Session> session = m_impl->current();
    return session && session->running();
}

std::optional<double> GstCameraCapture::requestRate(double framesPerSecond)
{
    const std::shared_ptr<Session> session = m_impl->current();
    if (!session || !std::isfinite(framesPerSecond))
        return std::nullopt;
    const std::optional<RateSpan> span = deliverableRates(session->mode().rates);
    if (!span || !(span->maximum.value() > 0) || !span->reaches(framesPerSecond))
        return std::nullopt;
    session->apply(planFrameRate(session->mode().rates, std::max(1.0, framesPerSecond)));
    return session->plan().deliveredRate();
}

void GstCameraCapture::shutDown()
{
    setFrameReceiver({});
    setAvailabilityReceiver({});
    std::shared_ptr<Session> session;
    std::shared_ptr<DeviceNodeWatcher> watcher;
    {
        std::lock_guard guard(m_impl->sessionLock);
        m_impl->shutDown = true;
        session = std::exchange(m_impl->session, nullptr);
        watcher = std::exchange(m_impl->watcher, nullptr);
    }
    watcher.reset(); // its thread ends before the session it might halt
    // Stopping joins the streaming threads, so no frame reaches the old receiver afterwards.
    if (session)
        session->close();
}

GstCameraCapture::Statistics GstCameraCapture::statistics() const
{
    Statistics statistics;
    statistics.releases = m_impl->releases.load();
    statistics.lastRelease = m_impl->lastRelease.load();
    const std::shared_ptr<Session> session = m_impl->current();
    if (!session)
        return statistics;
    Stream& stream = session->stream();
    statistics.framesIn = stream.framesIn.load();
    statistics.framesDecoded = stream.framesDecoded.load();
    statistics.framesDelivered = stream.framesDelivered.load();
    statistics.negotiatedRate = session->negotiatedRate();
    return statistics;
}

} // namespace verticora
