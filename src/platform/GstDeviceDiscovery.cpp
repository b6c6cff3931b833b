#include "platform/GstDeviceDiscovery.h"

#include "platform/CameraIdentity.h"
#include "platform/GstHandles.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>
#include <unistd.h>

namespace verticora {

namespace {

// The name the kernel gives the node's device, or the node's own name.
std::string sysfsName(const std::string& node)
{
    const std::string base = std::filesystem::path(node).filename().string();
    std::ifstream file("/sys/class/video4linux/" + base + "/name");
    std::string name;
    std::getline(file, name);
    return name.empty() ? base : name;
}

// A device the monitor lists, when it is a V4L2 camera whose node is still there.
std::optional<FoundCamera> v4l2Camera(GstDevice* device, const std::vector<ByIdLink>& links)
{
    const StructurePtr properties(gst_device_get_properties(device));
    if (!properties)
        return std::nullopt;
    const char* api = gst_structure_get_string(properties.get(), "device.api");
    const char* path = gst_structure_get_string(properties.get(), "device.path");
    if (!api || std::string_view(api) != "v4l2" || !path)
        return std::nullopt;
    std::error_code error;
    const std::filesystem::path node = std::filesystem::canonical(path, error);
    if (error)
        return std::nullopt; // unplugged a moment ago
    const char* busInfo = gst_structure_get_string(properties.get(), "v4l2.device.bus_info");
    const char* card = gst_structure_get_string(properties.get(), "v4l2.device.card");
    const VideoDeviceFacts facts{node.string(), busInfo ? busInfo : "", card ? card : ""};
    const TextPtr name(gst_device_get_display_name(device));
    return FoundCamera{{QString::fromStdString(stableCameraID(facts, links)),
                        QString::fromUtf8(name ? name.get() : facts.card.c_str()),
                        QString::fromStdString(cameraKind(facts.busInfo))},
                       facts.node};
}

// The cameras udev lists whose node refuses this user, and that are not found already.
void appendRefusedCameras(const std::vector<ByIdLink>& links, std::vector<FoundCamera>& found)
{
    for (const ByIdLink& link : links) {
        const bool known =
            std::any_of(found.begin(), found.end(), [&](const FoundCamera& f) { return f.node == link.target; });
        if (known || !link.path.ends_with("-video-index0") || ::access(link.target.c_str(), R_OK | W_OK) == 0
            || errno != EACCES)
            continue;
        const std::string linkName = std::filesystem::path(link.path).filename().string();
        found.push_back({{QString::fromStdString(link.path), QString::fromStdString(sysfsName(link.target)),
                          QString::fromStdString(cameraKind(linkName))},
                         link.target});
    }
}

GstBusSyncReply onMonitorMessage(GstBus*, GstMessage* message, gpointer data)
{
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_DEVICE_ADDED:
    case GST_MESSAGE_DEVICE_REMOVED:
    case GST_MESSAGE_DEVICE_CHANGED:
        (*static_cast<const std::function<void()>*>(data))();
        break;
    default:
        break;
    }
    gst_message_unref(message); // dropped: its reference is this handler's to let go
    return GST_BUS_DROP;
}

} // namespace

struct CameraDiscovery::Monitor {
    std::function<void()> changed;
    ObjectPtr<GstDeviceMonitor> monitor;
    bool started = false;
};

CameraDiscovery::CameraDiscovery(std::function<void()> changed) : m_monitor(std::make_unique<Monitor>())
{
    Monitor& m = *m_monitor;
    m.changed = std::move(changed);
    m.monitor = adopt(gst_device_monitor_new());
    gst_device_monitor_add_filter(m.monitor.get(), "Video/Source", nullptr);
    // Another provider may hide the V4L2 one; its devices are the ones opened here.
    gst_device_monitor_set_show_all_devices(m.monitor.get(), TRUE);
    const ObjectPtr<GstBus> bus(gst_device_monitor_get_bus(m.monitor.get()));
    gst_bus_set_sync_handler(bus.get(), onMonitorMessage, &m.changed, nullptr);
    m.started = gst_device_monitor_start(m.monitor.get());
}

CameraDiscovery::~CameraDiscovery()
{
    if (m_monitor->started)
        gst_device_monitor_stop(m_monitor->monitor.get());
    const ObjectPtr<GstBus> bus(gst_device_monitor_get_bus(m_monitor->monitor.get()));
    gst_bus_set_flushing(bus.get(), TRUE);
}

std::vector<FoundCamera> CameraDiscovery::find() const
{
    std::vector<FoundCamera> found;
    const std::vector<ByIdLink> links = readByIdLinks();
    const DeviceListPtr devices(gst_device_monitor_get_devices(m_monitor->monitor.get()));
    for (GList* item = devices.get(); item; item = item->next) {
        if (std::optional<FoundCamera> camera = v4l2Camera(GST_DEVICE(item->data), links))
            found.push_back(std::move(*camera));
    }
    appendRefusedCameras(links, found);
    std::sort(found.begin(), found.end(), [](const FoundCamera& a, const FoundCamera& b) { return a.node < b.node; });
    return found;
}

} // namespace verticora
