#include "store/ControlFile.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

namespace verticora {

std::optional<QByteArray> readControlFile(const QString& path)
{
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // One byte more than allowed tells an oversized file from one of exactly the limit.
    QByteArray bytes = file.read(controlFileLimit + 1);
    if (file.error() != QFileDevice::NoError || bytes.size() > controlFileLimit)
        return std::nullopt;
    return bytes;
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
