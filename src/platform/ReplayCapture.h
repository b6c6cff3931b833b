#pragma once

#include "model/CaptureService.h"

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace verticora {

class TaskQueue;
class Y4mReader;

// A recorded .y4m clip presented as the one camera of the machine: frames arrive at the
// clip's own pace in real time, a lower frame rate is honoured by skipping frames, a
// pause resumes where the clip stopped, and when the clip ends (or turns out damaged)
// the camera disappears as if unplugged.
class ReplayCapture final : public CaptureService {
    Q_OBJECT

public:
    // Real time plays frames at their presentation times on a thread of its own; by hand
    // hands over one frame per deliverNextFrame() call (for tests, which move their own
    // clock).
    enum class Pacing { realTime, byHand };

    explicit ReplayCapture(std::filesystem::path clip, Pacing pacing = Pacing::realTime, QObject* parent = nullptr);
    ~ReplayCapture() override;

    [[nodiscard]] QList<CameraDevice> discoverDevices() override;

    [[nodiscard]] std::optional<QString> openSession(const QString& deviceID) override;
    [[nodiscard]] std::uint64_t currentOutput() const override { return m_output.load(); }
    void setFrameReceiver(FrameReceiver receiver) override;
    void startRunning() override;
    void stopRunning() override;
    [[nodiscard]] bool isRunning() const override { return m_running.load(); }
    // Every n-th frame of the clip, n chosen to come nearest the rate; up to the clip's own.
    std::optional<double> requestRate(double framesPerSecond) override;

    void shutDown() override;

    // By hand: reads the next frame the running camera would show and hands it over on
    // the calling thread; false once the clip has ended.
    bool deliverNextFrame();

    // The device identifier the clip is listed under.
    [[nodiscard]] QString deviceID() const;
    // Why the clip stopped early, when it was damaged.
    [[nodiscard]] std::optional<QString> failure() const;

Q_SIGNALS:
    // The clip has been played to its end (or to the damaged frame).
    void clipEnded();

private:
    enum class Step { delivered, skipped, ended };

    void play();
    // Reads one frame; hands it over unless the frame rate skips it. `due` waits until
    // the frame's time and returns false when asked to stop meanwhile.
    Step step(const std::function<bool(double presentationTime)>& due);
    void finishPlaying(std::optional<QString> failure);

    std::filesystem::path m_clip;
    Pacing m_pacing;
    TaskQueue* m_mainThread; // a child: the end of the clip is announced on the main thread
    std::atomic<std::uint64_t> m_output{0};
    std::atomic<double> m_clipRate{0};
    std::atomic<int> m_frameStep{1}; // deliver every n-th frame
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_ended{false};
    std::atomic<bool> m_shutDown{false};

    std::unique_ptr<Y4mReader> m_reader; // the open session's clip, read by one thread at a time
    double m_position = 0;               // presentation time of the next frame to play

    mutable std::mutex m_lock; // guards the receiver, the failure and the stop request
    FrameReceiver m_receiver;
    std::optional<QString> m_failure;
    bool m_stopRequested = false;
    std::condition_variable m_stop;
    // Serialises starting and joining the player: the model's shutDown on the main thread
    // may stop it while the capture thread is stopping it too.
    std::mutex m_playerLock;
    std::thread m_player;
};

} // namespace verticora
