#pragma once

#include "model/CaptureService.h"

#include <QMetaObject>

#include <atomic>
#include <mutex>

namespace verticora::testing {

// A camera the test scripts: which devices exist, what permission says, whether the
// session opens and runs, and which frames arrive.
class FakeCaptureService final : public CaptureService {
public:
    QList<CameraDevice> devices{{"cam-1", "Desk Camera", "external"}};
    CameraAuthorization authorization = CameraAuthorization::authorized;
    bool grantOnRequest = true;
    bool deferAccessAnswer = false;
    std::atomic<bool> failOpen{false};
    std::atomic<bool> refuseToRun{false};
    std::atomic<bool> heldElsewhere{false}; // another program has the camera: opening and starting fail as busy
    QList<FrameRateRange> rateRanges{{1, 30, 1.0 / 30}};

    [[nodiscard]] QList<CameraDevice> discoverDevices() override { return devices; }
    [[nodiscard]] CameraAuthorization authorizationStatus(const QString&) override { return authorization; }
    void requestAccess(std::function<void(bool)> answer) override
    {
        if (deferAccessAnswer) {
            pendingAnswer = std::move(answer);
            return;
        }
        QMetaObject::invokeMethod(this, [answer, granted = grantOnRequest] { answer(granted); }, Qt::QueuedConnection);
    }
    std::function<void(bool)> pendingAnswer;

    [[nodiscard]] std::optional<QString> openSession(const QString&) override
    {
        ++m_output;
        m_busy = heldElsewhere.load();
        if (failOpen || m_busy)
            return QStringLiteral("The device is busy.");
        return std::nullopt;
    }
    [[nodiscard]] std::uint64_t currentOutput() const override { return m_output; }
    [[nodiscard]] std::uint32_t activeFormatSubtype() const override { return pixelFormat::yuv420Video; }
    [[nodiscard]] QList<std::uint32_t> offeredPixelFormats() const override
    {
        return {pixelFormat::yuv420Video, pixelFormat::yuv420Full, pixelFormat::bgra};
    }
    void setPixelFormat(std::uint32_t format) override { pixelFormatSet = format; }
    void setFrameReceiver(FrameReceiver receiver) override
    {
        std::lock_guard lock(m_lock);
        m_receiver = std::move(receiver);
    }
    void startRunning() override
    {
        m_busy = heldElsewhere.load();
        m_running = !refuseToRun && !m_busy;
    }
    void stopRunning() override { m_running = false; }
    [[nodiscard]] bool isRunning() const override { return m_running; }
    [[nodiscard]] bool cameraBusy() const override { return m_busy; }
    void setAvailabilityReceiver(AvailabilityReceiver receiver) override
    {
        std::lock_guard lock(m_lock);
        m_availability = std::move(receiver);
    }
    [[nodiscard]] bool lockForConfiguration() override { return true; }
    void unlockForConfiguration() override {}
    [[nodiscard]] QList<FrameRateRange> frameRateRanges() const override { return rateRanges; }
    void setFrameDuration(double seconds) override { m_duration = seconds; }
    [[nodiscard]] double activeMinFrameDuration() const override { return m_duration; }
    [[nodiscard]] double activeMaxFrameDuration() const override { return m_duration; }
    void shutDown() override
    {
        setFrameReceiver({});
        m_running = false;
    }

    // Delivers one frame as the camera would, from the calling thread.
    void deliver(CapturedFrame frame)
    {
        frame.output = m_output;
        FrameReceiver receiver;
        {
            std::lock_guard lock(m_lock);
            receiver = m_receiver;
        }
        if (receiver && m_running)
            receiver(std::move(frame));
    }

    void unplug()
    {
        devices.clear();
        emit devicesChanged();
    }
    void fail() { emit runtimeError(); }

    // Another program opens the camera: halted and reported, as the real service does.
    void lend()
    {
        heldElsewhere = true;
        m_running = false;
        announce(CameraAvailability::lent);
    }
    // It closed the camera a while ago.
    void giveBack()
    {
        heldElsewhere = false;
        announce(CameraAvailability::free);
    }

    std::atomic<std::uint32_t> pixelFormatSet{0};

private:
    void announce(CameraAvailability availability)
    {
        std::lock_guard lock(m_lock);
        if (m_availability)
            m_availability(availability, m_output);
    }

    std::mutex m_lock;
    FrameReceiver m_receiver;
    AvailabilityReceiver m_availability;
    std::atomic<bool> m_busy{false};
    std::atomic<std::uint64_t> m_output{0};
    std::atomic<bool> m_running{false};
    std::atomic<double> m_duration{1.0 / 30};
};

} // namespace verticora::testing
