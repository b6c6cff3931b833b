#pragma once

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
// go to a temporary file beside the target that is then renamed over it, and the file
// ends up readable by its owner only (0600). Returns the reason as one sentence on
// failure, none on success.
[[nodiscard]] std::optional<QString> writeFileAtomically(const QString& path, const QByteArray& bytes);

// The whole content of a file, or the reason (one sentence) it could not be read.
struct FileContent {
    QByteArray bytes;
    std::optional<QString> error;
};
[[nodiscard]] FileContent readWholeFile(const QString& path);

// A file-system reason as a sentence: first letter capitalised, a full stop at the end.
[[nodiscard]] QString asSentence(const QString& reason);

} // namespace verticora
