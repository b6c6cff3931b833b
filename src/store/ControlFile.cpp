#include "store/ControlFile.h"

#include <QFile>
#include <QFileInfo>

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

} // namespace verticora
