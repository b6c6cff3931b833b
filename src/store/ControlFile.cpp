#include "store/ControlFile.h"

#include "store/DataFolder.h"

#include <QJsonDocument>

namespace verticora {

std::optional<QByteArray> readControlFile(const QString& path)
{
    FileContent content = readDataFile(path, controlFileLimit);
    if (content.status != FileContent::Status::read)
        return std::nullopt;
    return std::move(content.bytes);
}

std::optional<QJsonObject> parseJsonObject(const QByteArray& bytes)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

} // namespace verticora
