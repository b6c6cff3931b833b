#pragma once

#include "model/CaptureService.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace verticora {

// A camera found on the system, with the device node it is opened through.
struct FoundCamera {
    CameraDevice device;
    std::string node;
};

// The system's V4L2 cameras: GStreamer's device monitor lists those it can open and
// reports plugs and unplugs; udev's by-id links add those whose node this user may not
// open (GStreamer cannot probe them, yet the user must be able to pick one and learn why
// it does not start). Needs GStreamer initialised.
class CameraDiscovery {
public:
    // `changed` is called on the monitor's thread whenever a camera comes or goes.
    explicit CameraDiscovery(std::function<void()> changed);
    ~CameraDiscovery();
    CameraDiscovery(const CameraDiscovery&) = delete;
    CameraDiscovery& operator=(const CameraDiscovery&) = delete;

    // Any thread: the cameras now, ordered by their device nodes.
    [[nodiscard]] std::vector<FoundCamera> find() const;

private:
    struct Monitor; // GStreamer's, kept in the source file
    std::unique_ptr<Monitor> m_monitor;
};

} // namespace verticora
