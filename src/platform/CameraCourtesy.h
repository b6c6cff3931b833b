#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <span>

namespace verticora {

// What a file is, as stat() tells it: a camera's node is known by its device number,
// any other file (a test's stand-in node) by its file system and inode.
struct FileIdentity {
    std::uint64_t device = 0; // st_dev
    std::uint64_t inode = 0;  // st_ino
    std::uint64_t special = 0; // st_rdev
    bool characterDevice = false;

    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// One open file of one process, as /proc/PID/fd/FD shows it.
struct OpenFile {
    int pid = 0;
    int fd = 0;
    FileIdentity file;
};

// Whether two identities name the same file: one device through any of its nodes.
[[nodiscard]] bool sameFile(const FileIdentity& a, const FileIdentity& b);

// The processes other than `self` that hold `node` open, in a snapshot of open files.
[[nodiscard]] std::set<int> otherHolders(std::span<const OpenFile> snapshot, const FileIdentity& node, int self);

// Gives the camera to any other program that opens its node, and says when it may be
// taken back: once no other program has held the node for the quiet period. It decides
// only; the caller looks at /proc, halts the pipeline and restarts it. Times are seconds
// on a monotonic clock.
class CameraCourtesy {
public:
    static constexpr double defaultQuietSeconds = 3.0;

    enum class Phase {
        resting,   // this process neither streams nor waits for the camera
        streaming, // this process streams (or is starting to): another's open releases it
        lent,      // another program has the camera; wait until it is free
    };
    enum class Action { none, release, takeBack };

    explicit CameraCourtesy(double quietSeconds = defaultQuietSeconds);

    [[nodiscard]] Phase phase() const { return m_phase; }
    [[nodiscard]] double quietSeconds() const { return m_quiet; }

    void stream();
    void rest();
    // This process could not take the camera because another program holds it.
    void lend(double now, std::size_t others);

    // A look at the node's holders: after an open or close of the node (`opened` when an
    // open was among the events since the last look, which may have closed again
    // already), or when the deadline came. `others` counts the other processes holding it now.
    Action observe(double now, bool opened, std::size_t others);

    // When the lent camera may be taken back unless someone opens it before then.
    [[nodiscard]] std::optional<double> deadline() const;

private:
    double m_quiet;
    Phase m_phase = Phase::resting;
    std::optional<double> m_freeSince; // while lent: since when nobody else held the node
};

} // namespace verticora
