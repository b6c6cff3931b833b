#pragma once

#include "model/CaptureService.h"
#include "platform/FrameDrop.h"
#include "platform/JpegDecoder.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

namespace verticora {

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

// What one pipeline shares with its streaming threads and its bus (their callbacks are
// in GstStream.cpp). The capture thread waits on it, bounded, for the first frame or a
// failure.
class CaptureStream {
public:
    using Clock = std::chrono::steady_clock;
    enum class Start { firstFrame, failed, timedOut, lent };
    // Called on a GStreamer thread when a running camera fails; `deviceGone` when its
    // device node disappeared, which is an unplug rather than an error.
    using FailureReport = std::function<void(bool deviceGone)>;

    CaptureStream(std::shared_ptr<Delivery> delivery, std::string node, FailureReport report);

    std::atomic<std::uint64_t> output{0};
    std::atomic<std::uint64_t> framesIn{0};
    std::atomic<std::uint64_t> framesDecoded{0};
    std::atomic<std::uint64_t> framesDelivered{0};
    FrameDrop drop;

    // A new start: forget the first frame and the failure of the last one.
    void restart();
    // The camera is to be taken again: a lend from now on stops the start.
    void reclaim();
    // From now on a failure is a runtime error; false (and nothing watched) when the
    // camera already failed since its start.
    bool watch();
    void unwatch();
    // Another program takes the camera: a wait for the first frame ends now, and the halt
    // that follows is no failure.
    void lend();
    // Ends every wait at once, for good.
    void abandon();
    Start waitForFirstFrame(Clock::time_point deadline, std::string& failure);

    [[nodiscard]] std::optional<std::string> failure();
    // Whether the failure was the device being busy: another program streams from it.
    [[nodiscard]] bool busy();
    // Whether another program was given the camera since the last start.
    [[nodiscard]] bool released();

    // Bus thread: an error or the end of the stream.
    void fail(std::string text, bool busy = false);

    // Streaming threads. A frame the camera sent at `time` (nanoseconds): counted, and
    // false when the rate drops it.
    [[nodiscard]] bool admit(std::uint64_t time);
    // One MJPEG frame decoded; none when it is damaged.
    [[nodiscard]] std::optional<JpegDecoder::Frame> decode(std::span<const std::uint8_t> jpeg);
    // A good frame reached the sink, so the camera runs; returns where it goes (may be empty).
    [[nodiscard]] CaptureService::FrameReceiver arrived();

private:
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

} // namespace verticora
