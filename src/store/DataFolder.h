#pragma once

#include "store/WallClock.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace verticora {

// The folder that holds every data file: the user's data location plus "Verticora"
// (~/.local/share/Verticora). Stores take their paths as arguments; this is the default.
[[nodiscard]] QString dataFolder();

inline constexpr char preferencesFileName[] = "preferences.json";
inline constexpr char dailyProgressFileName[] = "daily-progress.json";

// Replaces the file at `path` with `bytes` so that a reader (or a crash) only ever sees
// the old or the new content: missing folders are created owner-only (0700), the bytes
// go to a fresh temporary file beside the target (`temporaryPrefix` plus six characters,
// created exclusively and owner-only) that is then renamed over it, and the folder is
// synced so that the rename survives a power cut. A link at `path` is replaced, never
// followed. Returns the reason as one sentence on failure, none on success.
[[nodiscard]] std::optional<QString> writeFileAtomically(const QString& path, const QByteArray& bytes);

// `writeFileAtomically` for a file of the data folder: the folder is first checked and,
// when it is the user's own, made private (`securePrivateFolder`).
[[nodiscard]] std::optional<QString> writeDataFile(const QString& path, const QByteArray& bytes);

// Makes sure nobody but the user can reach the data files in `folder`: a folder of the
// user's own that others may enter is made owner-only (0700); a folder that belongs to
// another user, or that others can still write, is refused with the sentence returned.
// A missing folder passes (it is created owner-only when the first file is written).
[[nodiscard]] std::optional<QString> securePrivateFolder(const QString& folder);

// The temporary files of `writeFileAtomically` for `path` are named this plus six letters
// or digits.
[[nodiscard]] QString temporaryPrefix(const QString& path);

// Deletes the temporary files a writer of `path` left behind when it was killed
// mid-save. Only names of the writer's own pattern are considered, and only files no
// live writer holds, so a save running in another process is not disturbed.
void removeAbandonedTemporaries(const QString& path);

// Moves a file that could not be loaded out of the way, beside it, as
// "<name>.unreadable-<seconds since 1970>.json", never replacing an earlier copy and
// never opening it: a link or a pipe is moved as it is, a regular file is made
// owner-only first. Returns the new file name, or none when it could not be moved.
[[nodiscard]] std::optional<QString> setAsideUnreadable(const QString& path, WallTime now);

// Size caps, far above anything Verticora writes: a file beyond them is not one of its
// own and is never read into memory.
inline constexpr qint64 preferencesFileLimit = qint64(1) << 20;
inline constexpr qint64 dailyProgressFileLimit = qint64(64) << 20; // some seventy years of days

// What reading a data file found.
struct FileContent {
    enum class Status {
        read,          // `bytes` hold the whole file
        missing,       // no such file: a first run
        unreadable,    // something is there that is not a readable data file; set it aside
        refusedFolder, // the folder may not be used at all (`securePrivateFolder`)
    };
    Status status = Status::read;
    QByteArray bytes;
    QString error; // one sentence for `unreadable` and `refusedFolder`
};

// Reads a data file without following a link and without blocking: only a regular file
// of the user's own (or root's) of at most `limit` bytes is read; a link, a folder, a
// pipe or a device is reported as unreadable without being opened for reading.
[[nodiscard]] FileContent readDataFile(const QString& path, qint64 limit);

// A file-system reason as a sentence: first letter capitalised, a full stop at the end.
[[nodiscard]] QString asSentence(const QString& reason);

} // namespace verticora
