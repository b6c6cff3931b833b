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
// go to a temporary file beside the target (`temporaryPrefix` plus six characters) that
// is then renamed over it, and the file ends up readable by its owner only (0600). A
// link is followed: its target is replaced. Returns the reason as one sentence on
// failure, none on success.
[[nodiscard]] std::optional<QString> writeFileAtomically(const QString& path, const QByteArray& bytes);

// The temporary files of `writeFileAtomically` for `path` are named this plus six letters
// or digits.
[[nodiscard]] QString temporaryPrefix(const QString& path);

// Deletes the temporary files a writer of `path` left behind when it was killed
// mid-save. Only names of the writer's own pattern are considered, and only files no
// live writer holds, so a save running in another process is not disturbed.
void removeAbandonedTemporaries(const QString& path);

// False only when the system says there is no such file (or that a folder on the way is
// a file); anything else there (a folder, a dangling link) or any other failure to look
// (no permission) counts as something, so that it is reported rather than taken for a
// first run.
[[nodiscard]] bool somethingAt(const QString& path);

// Moves a file that could not be loaded out of the way, beside it, as
// "<name>.unreadable-<seconds since 1970>.json" (owner-only), never replacing an earlier
// copy. Returns the new file name, or none when it could not be moved.
[[nodiscard]] std::optional<QString> setAsideUnreadable(const QString& path, WallTime now);

// The whole content of a file, or the reason (one sentence) it could not be read.
struct FileContent {
    QByteArray bytes;
    std::optional<QString> error;
};
[[nodiscard]] FileContent readWholeFile(const QString& path);

// A file-system reason as a sentence: first letter capitalised, a full stop at the end.
[[nodiscard]] QString asSentence(const QString& reason);

} // namespace verticora
