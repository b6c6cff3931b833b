#include "store/DataFolder.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>

#include <sys/stat.h>

namespace verticora {

namespace {

constexpr QFileDevice::Permissions ownerOnlyFolder =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
constexpr QFileDevice::Permissions ownerOnlyFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// Creates `folder` and any missing parents; only the folders created here get 0700, so
// an existing home or data folder keeps the permissions the user gave it.
std::optional<QString> createFolderOwnerOnly(const QString& folder)
{
    QStringList missing;
    QString existing = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    while (!QFileInfo::exists(existing)) {
        missing.prepend(existing);
        const QString parent = QFileInfo(existing).path();
        if (parent == existing)
            break;
        existing = parent;
    }
    if (!QFileInfo(existing).isDir())
        return QStringLiteral("%1 is not a folder.").arg(QDir::toNativeSeparators(existing));
    for (const QString& path : missing) {
        if (::mkdir(QFile::encodeName(path).constData(), 0700) == 0) {
            // mkdir's mode is filtered by the umask; set it explicitly as well.
            QFile::setPermissions(path, ownerOnlyFolder);
            continue;
        }
        const int error = errno;
        if (error != EEXIST) {
            return asSentence(QStringLiteral("Could not create the folder %1: %2")
                                  .arg(QDir::toNativeSeparators(path), qt_error_string(error)));
        }
    }
    return std::nullopt;
}

} // namespace

QString dataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Verticora");
}

QString asSentence(const QString& reason)
{
    QString sentence = reason.trimmed();
    if (sentence.isEmpty())
        return QStringLiteral("Unknown error.");
    sentence[0] = sentence[0].toUpper();
    if (!sentence.endsWith(u'.') && !sentence.endsWith(u'!') && !sentence.endsWith(u'?'))
        sentence += u'.';
    return sentence;
}

FileContent readWholeFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {{}, asSentence(file.errorString())};
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return {{}, asSentence(file.errorString())};
    return {std::move(bytes), std::nullopt};
}

std::optional<QString> writeFileAtomically(const QString& path, const QByteArray& bytes)
{
    if (auto error = createFolderOwnerOnly(QFileInfo(path).path()))
        return error;

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return asSentence(file.errorString());
    // Owner-only from the start, so the content is never readable by others, not even
    // for the moment between the rename and the final chmod.
    file.setPermissions(ownerOnlyFile);
    if (file.write(bytes) != bytes.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return asSentence(reason);
    }
    if (!file.commit())
        return asSentence(file.errorString());
    if (!QFile::setPermissions(path, ownerOnlyFile))
        return QStringLiteral("Could not make %1 private.").arg(QFileInfo(path).fileName());
    return std::nullopt;
}

} // namespace verticora
