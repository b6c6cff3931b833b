#include "platform/CameraIdentity.h"

#include <algorithm>
#include <system_error>

namespace verticora {

std::string stableCameraID(const VideoDeviceFacts& device, const std::vector<ByIdLink>& links)
{
    // A camera has one link per node (index0 captures, index1 carries metadata); the
    // links are sorted, so the first match is the same at every launch.
    const auto link = std::find_if(links.begin(), links.end(), [&](const ByIdLink& l) {
        return !device.node.empty() && l.target == device.node;
    });
    if (link != links.end())
        return link->path;
    if (!device.busInfo.empty())
        return device.busInfo + "|" + device.card;
    return device.node;
}

std::string cameraKind(std::string_view busInfo)
{
    return busInfo.starts_with("usb") ? "external" : "built-in";
}

std::vector<ByIdLink> readByIdLinks(const std::filesystem::path& folder)
{
    std::vector<ByIdLink> links;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::filesystem::path target = std::filesystem::canonical(entry->path(), error);
        if (error) {
            error.clear(); // a link to a node that went away meanwhile
            continue;
        }
        links.push_back({entry->path().string(), target.string()});
    }
    std::sort(links.begin(), links.end(), [](const ByIdLink& a, const ByIdLink& b) { return a.path < b.path; });
    return links;
}

} // namespace verticora
