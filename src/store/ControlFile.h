#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace verticora {

// Files that outside tools drop into the data folder (an update request, a diagnostic
// lease) are a few hundred bytes; anything far larger is not one of them and is never
// read into memory.
inline constexpr qint64 controlFileLimit = 64 * 1024;

// The content of the control file at `path`; none when it is missing, unreadable, not a
// regular file of the user's own, larger than `controlFileLimit`, or in a data folder
// that may not be used (see readDataFile).
[[nodiscard]] std::optional<QByteArray> readControlFile(const QString& path);

// The JSON object `bytes` hold; none for anything else.
[[nodiscard]] std::optional<QJsonObject> parseJsonObject(const QByteArray& bytes);

} // namespace verticora
