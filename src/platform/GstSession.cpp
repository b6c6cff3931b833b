#include "platform/GstSession.h"

#include "platform/GstHandles.h"
#include "platform/GstStreamCaps.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace verticora {

namespace {

constexpr double monitoringRate = 3.0;

// Everything after the source: the mode's caps and the sink the frames are taken from.
// Surplus frames are dropped by a probe on the source's pad before they reach either, and
// MJPEG is decoded in the sink's callback, so only the frames that are kept are decoded.
constexpr const char* tailDescription = "capsfilter name=verticora-mode ! appsink name=verticora-sink";

// The mode to open among the formats the opened source offers.
std::optional<StreamMode> modeOffered(GstElement* source)
{
    const ObjectPtr<GstPad> pad(gst_element_get_static_pad(source, "src"));
    const CapsPtr offered(pad ? gst_pad_query_caps(pad.get(), nullptr) : nullptr);
    const TextPtr text(offered ? gst_caps_to_string(offered.get()) : nullptr);
    return text ? chooseStreamMode(streamModesOf(text.get())) : std::nullopt;
}

void setCaps(GstElement* filter, const StreamMode& mode, CameraRate rate)
{
    const CapsPtr caps(gst_caps_from_string(capsFor(mode, rate).c_str()));
    g_object_set(filter, "caps", caps.get(), nullptr);
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

void connectFeed(GstElement* source, const GstCameraCapture::Feed& feed)
{
    const ObjectPtr<GstElement> element(gst_bin_get_by_name(GST_BIN(source), "feed"));
    if (!element || !GST_IS_APP_SRC(element.get()))
        return;
    GstAppSrcCallbacks callbacks{};
    callbacks.need_data = onNeedData;
    gst_app_src_set_callbacks(GST_APP_SRC(element.get()), &callbacks, new GstCameraCapture::Feed(feed),
                              [](gpointer data) { delete static_cast<GstCameraCapture::Feed*>(data); });
}

} // namespace

struct CaptureSession::Elements {
    ObjectPtr<GstElement> pipeline;
    ObjectPtr<GstElement> modeFilter;
    ObjectPtr<GstElement> sink;

    // The failure of a pipeline half built: it closes the device again.
    SessionOrError refuse(std::string error)
    {
        gst_element_set_state(pipeline.get(), GST_STATE_NULL);
        return {nullptr, std::move(error)};
    }

    // Puts the mode's filter and the sink behind `source`; false when they do not fit.
    bool addTail(GstElement* source)
    {
        GError* rawError = nullptr;
        const ObjectPtr<GstElement> tail = adopt(gst_parse_bin_from_description(tailDescription, TRUE, &rawError));
        const ErrorPtr error(rawError);
        if (!tail || error)
            return false;
        gst_bin_add(GST_BIN(pipeline.get()), tail.get());
        if (!gst_element_link(source, tail.get()))
            return false;
        modeFilter.reset(gst_bin_get_by_name(GST_BIN(pipeline.get()), "verticora-mode"));
        sink.reset(gst_bin_get_by_name(GST_BIN(pipeline.get()), "verticora-sink"));
        return modeFilter && sink;
    }
};

SessionOrError CaptureSession::build(const std::string& source, const std::shared_ptr<CaptureStream>& stream,
                                     const GstCameraCapture::Feed& feed, Clock::duration startTimeout)
{
    if (std::optional<std::string> unavailable = startGStreamer())
        return {nullptr, std::move(*unavailable)};
    GError* rawError = nullptr;
    const ObjectPtr<GstElement> sourceBin = adopt(gst_parse_bin_from_description(source.c_str(), TRUE, &rawError));
    const ErrorPtr error(rawError);
    if (!sourceBin || error)
        return {nullptr, errorText(error.get(), "The camera source could not be built.")};

    auto elements = std::make_unique<Elements>();
    elements->pipeline = adopt(gst_pipeline_new("verticora-camera"));
    const ObjectPtr<GstBus> bus(gst_element_get_bus(elements->pipeline.get()));
    watchBus(bus.get(), stream);
    gst_bin_add(GST_BIN(elements->pipeline.get()), sourceBin.get()); // the bin takes a reference of its own

    // READY opens the device, so that its formats can be asked for.
    if (gst_element_set_state(elements->pipeline.get(), GST_STATE_READY) == GST_STATE_CHANGE_FAILURE)
        return elements->refuse(stream->failure().value_or("The camera could not be opened."));
    const std::optional<StreamMode> mode = modeOffered(sourceBin.get());
    if (!mode)
        return elements->refuse("The camera offers no picture format Verticora can read.");
    if (!elements->addTail(sourceBin.get()))
        return elements->refuse("The camera's picture could not be taken.");

    // No clock sync and no sample kept back: each frame is handed over as it comes, and
    // the camera's buffer returns to it as soon as the receiver lets go.
    g_object_set(elements->sink.get(), "sync", FALSE, "max-buffers", 1u, "drop", TRUE, "enable-last-sample", FALSE,
                 nullptr);
    const ObjectPtr<GstPad> cameraPad(gst_element_get_static_pad(sourceBin.get(), "src"));
    takeFrames(cameraPad.get(), GST_APP_SINK(elements->sink.get()), stream);
    if (feed)
        connectFeed(sourceBin.get(), feed);

    std::unique_ptr<CaptureSession> session(new CaptureSession(std::move(elements), *mode, stream, startTimeout));
    session->apply(planFrameRate(mode->rates, monitoringRate));
    return {std::move(session), {}};
}

CaptureSession::CaptureSession(std::unique_ptr<Elements> elements, StreamMode mode,
                               std::shared_ptr<CaptureStream> stream, Clock::duration startTimeout)
    : m_elements(std::move(elements)), m_mode(std::move(mode)), m_stream(std::move(stream)),
      m_startTimeout(startTimeout)
{
}

CaptureSession::~CaptureSession()
{
    close();
}

void CaptureSession::apply(const RatePlan& plan)
{
    if (m_applied && plan == m_plan)
        return;
    if (!m_applied || !(plan.native == m_plan.native))
        setCaps(m_elements->modeFilter.get(), m_mode, plan.native);
    if (!m_applied || plan.dropTo != m_plan.dropTo || !(plan.native == m_plan.native))
        m_stream->drop.setRate(plan.dropTo, plan.native.value());
    m_plan = plan;
    m_applied = true;
}

CaptureStream::Start CaptureSession::start(std::string& failure)
{
    {
        std::lock_guard guard(m_stateLock);
        if (m_closed) {
            failure = "The camera was shut down.";
            return CaptureStream::Start::failed;
        }
        if (!m_playing && m_stream->released())
            return CaptureStream::Start::lent; // lent between the decision to start and now
        if (!m_playing) {
            m_stream->restart();
            m_playingSince = Clock::now();
            m_playing = true;
            if (gst_element_set_state(m_elements->pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
                failure = m_stream->failure().value_or("The camera refused to start.");
                return CaptureStream::Start::failed;
            }
        }
    }
    return m_stream->waitForFirstFrame(m_playingSince + m_startTimeout, failure);
}

bool CaptureSession::markRunning()
{
    m_running = m_stream->watch();
    return m_running;
}

void CaptureSession::halt()
{
    m_stream->unwatch();
    std::lock_guard guard(m_stateLock);
    haltLocked();
}

void CaptureSession::lend()
{
    m_stream->lend();
    std::lock_guard guard(m_stateLock);
    haltLocked();
}

void CaptureSession::close()
{
    m_stream->abandon();
    std::lock_guard guard(m_stateLock);
    m_closed = true;
    haltLocked();
}

void CaptureSession::haltLocked()
{
    m_running = false;
    m_playing = false;
    gst_element_set_state(m_elements->pipeline.get(), GST_STATE_NULL);
}

double CaptureSession::negotiatedRate() const
{
    const ObjectPtr<GstPad> pad(gst_element_get_static_pad(m_elements->sink.get(), "sink"));
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

} // namespace verticora
