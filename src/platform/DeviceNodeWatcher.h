#pragma once

#include "platform/CameraCourtesy.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace verticora {

// The identity of the file at `path` (following links), or none when there is none.
[[nodiscard]] std::optional<FileIdentity> identityOf(const std::string& path);

// Every open file of every process this user may look at (other users' processes hide
// their files) that is `node`, whose path is `path`. Only descriptors that name a device
// or that path are looked at closer.
[[nodiscard]] std::vector<OpenFile> openFilesOn(const std::string& path, const FileIdentity& node);

// Watches one camera's device node, on a thread of its own, and lends the camera to any
// other program that opens it: inotify wakes the thread at every open and close of the
// node, /proc tells who holds it, and CameraCourtesy decides. The callbacks run on that
// thread at once, never through an event loop.
class DeviceNodeWatcher {
public:
    struct Callbacks {
        std::function<void()> release; // another program opened the node: let the camera go now
        std::function<void()> free;    // no other program has held it for the quiet period
    };

    // `locate` names the node now; a replugged camera may come back under another name.
    // The node's folder and `folders` are watched for it to come back.
    DeviceNodeWatcher(std::function<std::string()> locate, std::vector<std::string> folders, double quietSeconds,
                      Callbacks callbacks);
    ~DeviceNodeWatcher();
    DeviceNodeWatcher(const DeviceNodeWatcher&) = delete;
    DeviceNodeWatcher& operator=(const DeviceNodeWatcher&) = delete;

    // Any thread. This process streams from the camera, or is about to.
    void stream();
    // This process neither streams nor waits for the camera.
    void rest();
    // When another program holds the node now, waits for it to be free and answers true.
    bool lendIfHeld();
    // Another program has the camera (opening it failed as busy): waits for it to be free.
    void lend();

private:
    struct Events {
        bool opened = false;
        bool closed = false;
        bool moved = false; // the node went away or its folder changed
    };

    void run();
    void watchNode();
    Events drain();
    void wake();
    [[nodiscard]] std::size_t othersHolding();

    std::function<std::string()> m_locate;
    std::vector<std::string> m_folders;
    Callbacks m_callbacks;
    int m_inotify = -1;
    int m_wake = -1;
    int m_nodeWatch = -1;

    std::mutex m_lock; // guards everything below
    CameraCourtesy m_courtesy;
    std::optional<FileIdentity> m_node;
    std::string m_nodePath;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace verticora
