#pragma once

#include "platform/CaptureModes.h"
#include "platform/GstCameraCapture.h"
#include "platform/GstStream.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace verticora {

struct SessionOrError;

// One capture pipeline,
//   source ! capsfilter ! appsink
// whose capsfilter asks the camera for the rate plan's native rate, and its state changes.
// The capture thread applies rates, starts and halts it; the watcher thread may lend it
// and the main thread may close it at any moment.
class CaptureSession {
public:
    using Clock = CaptureStream::Clock;

    // The one place a capture pipeline is put together: `source` is the description of the
    // source element (or of a small source chain), `v4l2src device=…` for a camera; the
    // rest follows from the formats the source offers. It opens the device and starts at
    // three frames a second, monitoring's rate, so that the camera never runs faster than
    // needed. `feed` feeds an element "appsrc name=feed" of the source, when given.
    [[nodiscard]] static SessionOrError build(const std::string& source, const std::shared_ptr<CaptureStream>& stream,
                                              const GstCameraCapture::Feed& feed, Clock::duration startTimeout);

    ~CaptureSession();
    CaptureSession(const CaptureSession&) = delete;
    CaptureSession& operator=(const CaptureSession&) = delete;

    [[nodiscard]] CaptureStream& stream() { return *m_stream; }
    [[nodiscard]] const StreamMode& mode() const { return m_mode; }
    [[nodiscard]] const RatePlan& plan() const { return m_plan; }

    // Capture thread. Asks the camera for the plan's rate and drops what exceeds it.
    void apply(const RatePlan& plan);
    // Capture thread: starts the pipeline and waits, at most until the start timeout, for
    // its first frame or a failure (whose text lands in `failure`).
    CaptureStream::Start start(std::string& failure);
    // Capture thread, after start(): the session runs when no failure came meanwhile.
    bool markRunning();
    // Stops the pipeline and closes the device; a later start() opens it again.
    void halt();
    // Any thread: lets another program have the camera. The pipeline goes to NULL, which
    // closes the device and gives up its exclusive rights; a later start() takes it again.
    void lend();
    // Any thread: halts for good and ends every wait at once.
    void close();

    [[nodiscard]] bool running() const { return m_running; }
    // The camera's rate as negotiated, less what the drop lets through.
    [[nodiscard]] double negotiatedRate() const;

private:
    struct Elements; // GStreamer's, kept in the source file

    CaptureSession(std::unique_ptr<Elements> elements, StreamMode mode, std::shared_ptr<CaptureStream> stream,
                   Clock::duration startTimeout);
    void haltLocked();

    std::unique_ptr<Elements> m_elements;
    StreamMode m_mode;
    std::shared_ptr<CaptureStream> m_stream;
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
    std::unique_ptr<CaptureSession> session;
    std::string error;
};

} // namespace verticora
