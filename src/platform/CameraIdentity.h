#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace verticora {

// One entry of /dev/v4l/by-id: udev names it after the camera's model and serial number,
// so it stays the same when the camera is plugged into another port or gets another
// /dev/videoN node.
struct ByIdLink {
    std::string path;   // "/dev/v4l/by-id/usb-Maker_Cam_0001-video-index0"
    std::string target; // the device node it resolves to, "/dev/video2"
};

// What the system says about one video capture device, as far as its identity goes.
struct VideoDeviceFacts {
    std::string node;    // the device node, resolved: "/dev/video0"
    std::string busInfo; // V4L2 bus info: "usb-0000:00:14.0-1", "platform:…"
    std::string card;    // V4L2 card name
};

// The identifier calibrations are saved under: the device's by-id link when one leads to
// its node, else its bus info joined with its card name, else the node itself.
[[nodiscard]] std::string stableCameraID(const VideoDeviceFacts& device, const std::vector<ByIdLink>& links);

// "external" for a camera on USB, "built-in" for one on the machine's own buses.
[[nodiscard]] std::string cameraKind(std::string_view busInfo);

// The links of `folder` with their resolved targets, sorted by path; empty when the
// folder does not exist (no camera, or no udev).
[[nodiscard]] std::vector<ByIdLink> readByIdLinks(const std::filesystem::path& folder = "/dev/v4l/by-id");

} // namespace verticora
