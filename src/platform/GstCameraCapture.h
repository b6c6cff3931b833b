#pragma once

#include "model/CaptureService.h"
#include "platform/CameraCourtesy.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace verticora {

// The system's cameras through GStreamer: a device monitor finds them and reports plugs
// and unplugs, and each session is one pipeline
//   source ! capsfilter ! appsink
// whose capsfilter asks the camera for the lowest rate that still meets the cadence. A
// probe on the source's pad drops every surplus frame before anything else handles it,
// and MJPEG frames are decoded, at reduced size, only once they reach the sink. Frames
// reach the receiver on GStreamer's streaming thread; nothing here waits on the main
// thread, and every wait on the capture thread has a bound.
//
// While it streams, the camera is lent to any other program that opens its device node:
// the pipeline is halted at once, on a watcher thread of its own, and the availability
// receiver hears of it; once nobody else has held the node for the quiet period it hears
// that the camera is free, and the next startRunning takes it again.
class GstCameraCapture final : public CaptureService {
    Q_OBJECT

public:
    // A frame handed to a stand-in's "appsrc name=feed": its bytes in the stream's caps
    // and its presentation time.
    struct FeedFrame {
        std::shared_ptr<const std::vector<std::uint8_t>> bytes;
        double presentationTime = 0;
    };
    // Called on the streaming thread whenever the feed wants a frame; none ends the stream.
    using Feed = std::function<std::optional<FeedFrame>()>;

    // One camera whose picture comes from a GStreamer source fragment in place of
    // `v4l2src device=…`, through the very pipeline a device gets. For tests and benchmarks.
    struct StandIn {
        CameraDevice device;
        std::string source; // e.g. "videotestsrc is-live=true ! video/x-raw,format=YUY2,width=320,height=180"
        Feed feed;          // feeds an element "appsrc name=feed" of `source`, when given
        std::chrono::milliseconds startTimeout{3000};
        // A file watched as the camera's device node is: another process that opens it
        // borrows the camera. None when empty.
        std::string node;
        double quietSeconds = CameraCourtesy::defaultQuietSeconds;
    };

    // What the current session's pipeline has done so far.
    struct Statistics {
        std::uint64_t framesIn = 0;        // frames the camera delivered
        std::uint64_t framesDecoded = 0;   // JPEG frames the decoder was given
        std::uint64_t framesDelivered = 0; // frames that reached the receiver's side
        double negotiatedRate = 0;         // frames a second agreed with the receiver's side
        std::uint64_t releases = 0;        // times the camera was lent to another program
        double lastRelease = 0;            // when the last lend had the pipeline halted (monotonic seconds)
    };

    // The system's cameras.
    explicit GstCameraCapture(QObject* parent = nullptr);
    explicit GstCameraCapture(StandIn standIn, QObject* parent = nullptr);
    ~GstCameraCapture() override;

    [[nodiscard]] QList<CameraDevice> discoverDevices() override;
    // Linux asks for no permission: a device node this user may not open is the refusal.
    [[nodiscard]] bool accessDenied(const QString& deviceID) override;

    [[nodiscard]] std::optional<QString> openSession(const QString& deviceID) override;
    [[nodiscard]] std::uint64_t currentOutput() const override;
    void setFrameReceiver(FrameReceiver receiver) override;
    void startRunning() override;
    void stopRunning() override;
    [[nodiscard]] bool isRunning() const override;
    // Any rate from one frame a second (or the camera's own lower one) up to its fastest.
    std::optional<double> requestRate(double framesPerSecond) override;
    [[nodiscard]] bool cameraBusy() const override;
    void setAvailabilityReceiver(AvailabilityReceiver receiver) override;

    void shutDown() override;

    [[nodiscard]] Statistics statistics() const;

private:
    // Everything GStreamer, kept in the source file.
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace verticora
