#include "platform/DeviceNodeWatcher.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace verticora {

namespace {

constexpr std::uint32_t nodeEvents = IN_OPEN | IN_CLOSE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ATTRIB;
constexpr std::uint32_t folderEvents = IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM;

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

FileIdentity identityFrom(const struct stat& status)
{
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino),
            static_cast<std::uint64_t>(status.st_rdev), S_ISCHR(status.st_mode)};
}

struct CloseDirectory {
    void operator()(DIR* directory) const { closedir(directory); }
};
using DirectoryPtr = std::unique_ptr<DIR, CloseDirectory>;

// A number that names a process or a descriptor, or -1.
int numberNamed(const char* name)
{
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(name, &end, 10);
    if (errno != 0 || end == name || *end != '\0' || value < 0 || value > INT32_MAX)
        return -1;
    return static_cast<int>(value);
}

} // namespace

std::optional<FileIdentity> identityOf(const std::string& path)
{
    struct stat status {};
    if (path.empty() || ::stat(path.c_str(), &status) != 0)
        return std::nullopt;
    return identityFrom(status);
}

std::vector<OpenFile> openFilesOn(const std::string& path, const FileIdentity& node)
{
    const std::string devices = "/dev/";
    std::vector<OpenFile> found;
    const DirectoryPtr processes(opendir("/proc"));
    if (!processes)
        return found;
    while (const dirent* process = readdir(processes.get())) {
        const int pid = numberNamed(process->d_name);
        if (pid < 0)
            continue;
        const std::string folder = std::string("/proc/") + process->d_name + "/fd";
        const DirectoryPtr descriptors(opendir(folder.c_str()));
        if (!descriptors)
            continue; // another user's process, or one that just ended
        const int folderFd = dirfd(descriptors.get());
        while (const dirent* descriptor = readdir(descriptors.get())) {
            const int fd = numberNamed(descriptor->d_name);
            if (fd < 0)
                continue;
            // The link's text costs no file system a question (a stat of a file on a hung
            // network mount would block): only devices and the node's own path go on.
            std::array<char, 256> target{};
            const ssize_t length = readlinkat(folderFd, descriptor->d_name, target.data(), target.size() - 1);
            if (length <= 0)
                continue;
            const std::string_view text(target.data(), static_cast<std::size_t>(length));
            if (text != path && !text.starts_with(devices))
                continue;
            struct stat status {};
            // Follows the descriptor's link to the open file itself, whatever its name now.
            if (fstatat(folderFd, descriptor->d_name, &status, 0) != 0)
                continue;
            const FileIdentity file = identityFrom(status);
            if (sameFile(file, node))
                found.push_back({pid, fd, file});
        }
    }
    return found;
}

DeviceNodeWatcher::DeviceNodeWatcher(std::function<std::string()> locate, std::vector<std::string> folders,
                                     double quietSeconds, Callbacks callbacks)
    : m_locate(std::move(locate)), m_folders(std::move(folders)), m_callbacks(std::move(callbacks)),
      m_courtesy(quietSeconds)
{
    m_inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    m_wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_inotify < 0 || m_wake < 0)
        return; // nothing to watch with: the camera is simply never lent
    const std::string node = m_locate();
    m_folders.push_back(std::filesystem::path(node).parent_path().string());
    for (const std::string& folder : m_folders) {
        if (!folder.empty())
            inotify_add_watch(m_inotify, folder.c_str(), folderEvents | IN_ONLYDIR);
    }
    watchNode();
    m_thread = std::thread([this] { run(); });
}

DeviceNodeWatcher::~DeviceNodeWatcher()
{
    {
        std::lock_guard guard(m_lock);
        m_stopping = true;
    }
    wake();
    if (m_thread.joinable())
        m_thread.join();
    if (m_inotify >= 0)
        ::close(m_inotify);
    if (m_wake >= 0)
        ::close(m_wake);
}

void DeviceNodeWatcher::stream()
{
    std::lock_guard guard(m_lock);
    m_courtesy.stream();
}

void DeviceNodeWatcher::rest()
{
    std::lock_guard guard(m_lock);
    m_courtesy.rest();
}

bool DeviceNodeWatcher::lendIfHeld()
{
    const std::size_t others = othersHolding();
    if (others == 0)
        return false;
    {
        std::lock_guard guard(m_lock);
        m_courtesy.lend(now(), others);
    }
    wake();
    return true;
}

void DeviceNodeWatcher::lend()
{
    const std::size_t others = othersHolding();
    {
        std::lock_guard guard(m_lock);
        m_courtesy.lend(now(), others);
    }
    wake();
}

std::size_t DeviceNodeWatcher::othersHolding()
{
    std::optional<FileIdentity> node;
    std::string path;
    {
        std::lock_guard guard(m_lock);
        node = m_node;
        path = m_nodePath;
    }
    if (!node)
        return 0;
    return otherHolders(openFilesOn(path, *node), *node, static_cast<int>(::getpid())).size();
}

void DeviceNodeWatcher::wake()
{
    if (m_wake < 0)
        return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_wake, &one, sizeof one);
}

// Watcher thread (and the constructor, before it starts).
void DeviceNodeWatcher::watchNode()
{
    std::error_code error;
    const std::string path = std::filesystem::canonical(m_locate(), error).string(); // as /proc shows it
    const std::optional<FileIdentity> identity = error ? std::nullopt : identityOf(path);
    {
        std::lock_guard guard(m_lock);
        if (identity) {
            m_node = identity;
            m_nodePath = path;
        }
    }
    if (!identity)
        return; // gone for now; its folder tells when it is back
    const int watch = inotify_add_watch(m_inotify, path.c_str(), nodeEvents);
    if (watch >= 0)
        m_nodeWatch = watch;
}

DeviceNodeWatcher::Events DeviceNodeWatcher::drain()
{
    Events events;
    alignas(inotify_event) std::array<char, 4096> buffer{};
    for (;;) {
        const ssize_t length = ::read(m_inotify, buffer.data(), buffer.size());
        if (length <= 0)
            break;
        for (ssize_t offset = 0; offset < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer.data() + offset);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                events.opened = events.closed = events.moved = true; // events were lost: look again
                continue;
            }
            if (event->wd == m_nodeWatch) {
                events.opened = events.opened || (event->mask & IN_OPEN);
                events.closed = events.closed || (event->mask & IN_CLOSE);
                if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_ATTRIB))
                    events.moved = true;
                if (event->mask & IN_IGNORED)
                    m_nodeWatch = -1;
            } else {
                events.moved = true;
            }
        }
    }
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t read = ::read(m_wake, &count, sizeof count);
    return events;
}

void DeviceNodeWatcher::run()
{
    std::unique_lock guard(m_lock);
    while (!m_stopping) {
        const std::optional<double> deadline = m_courtesy.deadline();
        int timeout = -1;
        if (deadline)
            timeout = static_cast<int>(std::clamp(std::ceil((*deadline - now()) * 1000), 0.0, 60'000.0));
        guard.unlock();
        std::array<pollfd, 2> waits{{{m_inotify, POLLIN, 0}, {m_wake, POLLIN, 0}}};
        ::poll(waits.data(), waits.size(), timeout);
        const Events events = drain();
        if (events.moved) {
            // A replugged camera, or a node made anew: watch whatever bears its name now.
            // Watching the same file again only returns its existing watch.
            watchNode();
        }
        guard.lock();
        if (m_stopping)
            break;
        const CameraCourtesy::Phase phase = m_courtesy.phase();
        const bool due = m_courtesy.deadline() && now() >= *m_courtesy.deadline();
        const bool look = phase == CameraCourtesy::Phase::streaming ? events.opened
            : phase == CameraCourtesy::Phase::lent ? events.opened || events.closed || events.moved || due
                                                                    : false;
        if (!look)
            continue;
        guard.unlock();
        const std::size_t others = othersHolding();
        guard.lock();
        if (m_stopping)
            break;
        const CameraCourtesy::Action action = m_courtesy.observe(now(), events.opened, others);
        if (action == CameraCourtesy::Action::none)
            continue;
        guard.unlock();
        if (action == CameraCourtesy::Action::release)
            m_callbacks.release();
        else
            m_callbacks.free();
        guard.lock();
    }
}

} // namespace verticora
