#pragma once

#include "model/CaptureService.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

class QVideoFrame;

namespace verticora {
class TaskQueue;
}

namespace verticora {

// The system's cameras through Qt Multimedia. The Qt objects live on the main thread;
// calls from the capture thread are posted there and waited for with a time limit, so
// a busy or shutting-down main thread never blocks the capture thread for long.
class QtCameraCapture final : public CaptureService {
    Q_OBJECT

public:
    explicit QtCameraCapture(QObject* parent = nullptr);
    ~QtCameraCapture() override;

    [[nodiscard]] QList<CameraDevice> discoverDevices() override;
    [[nodiscard]] CameraAuthorization authorizationStatus(const QString& deviceID) override;
    void requestAccess(std::function<void(bool)> answer) override;

    [[nodiscard]] std::optional<QString> openSession(const QString& deviceID) override;
    [[nodiscard]] std::uint64_t currentOutput() const override { return m_output.load(); }
    [[nodiscard]] std::uint32_t activeFormatSubtype() const override { return m_activeSubtype.load(); }
    [[nodiscard]] QList<std::uint32_t> offeredPixelFormats() const override;
    void setPixelFormat(std::uint32_t format) override;
    void setFrameReceiver(FrameReceiver receiver) override;
    void startRunning() override;
    void stopRunning() override;
    [[nodiscard]] bool isRunning() const override { return m_running.load(); }

    [[nodiscard]] bool lockForConfiguration() override { return !m_shutDown.load(); }
    void unlockForConfiguration() override {}
    [[nodiscard]] QList<FrameRateRange> frameRateRanges() const override;
    void setFrameDuration(double seconds) override;
    [[nodiscard]] double activeMinFrameDuration() const override { return m_frameDuration.load(); }
    [[nodiscard]] double activeMaxFrameDuration() const override { return m_frameDuration.load(); }

    void shutDown() override;

    // The four-character code of a Qt pixel format the analysis reads; 0 for others.
    [[nodiscard]] static std::uint32_t fourCharCodeOf(int qtPixelFormat);

private:
    // Runs `work` on the main thread and waits for it, at most a few seconds.
    bool runOnMainThread(const std::function<void()>& work) const;
    void deliver(const QVideoFrame& frame);
    void applyCameraFormat(std::uint32_t preferredFormat, double frameRate);

    // The Qt Multimedia objects, main thread only; their headers stay in the source file.
    struct Camera;
    std::unique_ptr<Camera> m_qt;
    TaskQueue* m_mainThread; // a child: work for the Qt objects' thread

    mutable std::mutex m_lock; // guards the receiver and the camera's formats
    FrameReceiver m_receiver;

    std::atomic<std::uint64_t> m_output{0};
    std::atomic<std::uint32_t> m_activeSubtype{0};
    std::atomic<std::uint32_t> m_pixelFormat{0};
    std::atomic<double> m_frameDuration{1.0 / 30};
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_shutDown{false};
    std::mutex m_startLock;
    std::condition_variable m_started;
};

} // namespace verticora
