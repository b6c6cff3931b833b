#pragma once

#include "model/CaptureService.h"

#include <atomic>
#include <mutex>
#include <optional>

namespace verticora::testing {

// A camera the test scripts: which devices exist, whether this user may open them,
// whether the session opens and runs, and which frames arrive.
class FakeCaptureService final : public CaptureService {
public:
    QList<CameraDevice> devices{{"cam-1", "Desk Camera", "external"}};
    bool denied = false;
    std::atomic<bool> failOpen{false};
    std::atomic<bool> refuseToRun{false};
    std::atomic<bool> heldElsewhere{false}; // another program has the camera: opening and starting fail as busy
    // The rates the camera reaches, by dropping frames down to the slowest.
    double slowestRate = 1;
    double fastestRate = 30;

    [[nodiscard]] QList<CameraDevice> discoverDevices() override { return devices; }
    [[nodiscard]] bool accessDenied(const QString&) override { return denied; }

    [[nodiscard]] std::optional<QString> openSession(const QString&) override
    {
        ++m_output;
        m_busy = heldElsewhere.load();
        if (failOpen || m_busy)
            return QStringLiteral("The device is busy.");
        return std::nullopt;
    }
    [[nodiscard]] std::uint64_t currentOutput() const override { return m_output; }
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
    std::optional<double> requestRate(double framesPerSecond) override
    {
        if (framesPerSecond < slowestRate - 0.01 || framesPerSecond > fastestRate + 0.01)
            return std::nullopt;
        m_rate = framesPerSecond;
        return framesPerSecond;
    }
    [[nodiscard]] double rate() const { return m_rate; }
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
    std::atomic<double> m_rate{30};
};

} // namespace verticora::testing
