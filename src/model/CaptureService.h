#pragma once

#include "analysis/PixelBuffer.h"

#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace verticora {

struct CameraDevice {
    QString uniqueID;
    QString localizedName;
    QString kind; // shown by --list-cameras: "built-in", "external", "replay"

    friend bool operator==(const CameraDevice&, const CameraDevice&) = default;
};

// One camera frame. The view's pixels stay valid while `storage` is held.
struct CapturedFrame {
    std::shared_ptr<const void> storage;
    std::optional<PixelBufferView> image; // none when the camera delivered no image
    double presentationTime = 0;          // seconds on the camera's clock
    std::uint64_t output = 0;             // which configured output delivered it
};

// What the service says about a camera another program wants.
enum class CameraAvailability {
    lent, // another program took the camera; the service has let it go already
    free, // nobody else has held it for a while: it may be started again
};

// Shows frames to the user (the preview in the controls window); fed on the capture
// thread with every accepted frame.
class PreviewSink {
public:
    virtual ~PreviewSink() = default;
    virtual void enqueue(const CapturedFrame& frame) = 0;
};

// The camera operations the model relies on. Discovery and access are asked on the main
// thread; everything about the session runs on the capture thread (the service hops to
// its own thread internally where its platform needs that). Frames reach the receiver on
// any thread; the receiver keeps only the newest one.
class CaptureService : public QObject {
    Q_OBJECT

public:
    using FrameReceiver = std::function<void(CapturedFrame)>;
    // Told on any thread; `output` is the identifier of the opening it concerns.
    using AvailabilityReceiver = std::function<void(CameraAvailability, std::uint64_t output)>;

    using QObject::QObject;

    // Main thread.
    [[nodiscard]] virtual QList<CameraDevice> discoverDevices() = 0;
    // Whether this user is refused the camera `deviceID` (its device node denies them).
    // A camera nobody guards is never refused.
    [[nodiscard]] virtual bool accessDenied(const QString& /*deviceID*/) { return false; }

    // Capture thread. Opens the device and prepares a 1280x720 session with a fresh
    // output; returns an error text when the device or the session refuses. The new
    // output's identifier is `currentOutput()`, which every frame it delivers carries.
    [[nodiscard]] virtual std::optional<QString> openSession(const QString& deviceID) = 0;
    [[nodiscard]] virtual std::uint64_t currentOutput() const = 0;
    virtual void setFrameReceiver(FrameReceiver receiver) = 0;
    // Starting may fail without a word: the caller asks isRunning() afterwards.
    virtual void startRunning() = 0;
    virtual void stopRunning() = 0;
    [[nodiscard]] virtual bool isRunning() const = 0;
    // Asks the open session for `framesPerSecond`; returns the rate it delivers from now
    // on, or none, leaving the rate as it was, when the camera cannot reach that rate.
    virtual std::optional<double> requestRate(double framesPerSecond) = 0;

    // Whether the last openSession or startRunning found the camera held by another
    // program. The service then tells the availability receiver when it is free.
    [[nodiscard]] virtual bool cameraBusy() const { return false; }
    // Where the service reports that another program took the camera or that it is free.
    // A service whose cameras no other program can open never reports.
    virtual void setAvailabilityReceiver(AvailabilityReceiver) {}

    // Main thread, before the capture thread is stopped: stops the camera and its frame
    // deliveries for good and makes every later call return at once.
    virtual void shutDown() = 0;

Q_SIGNALS:
    // A camera was connected or disconnected.
    void devicesChanged();
    // The running session failed.
    void runtimeError();
};

} // namespace verticora
