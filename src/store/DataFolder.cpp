#include "store/DataFolder.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace verticora {

namespace {

constexpr QFileDevice::Permissions ownerOnlyFolder =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
constexpr int temporarySuffixLength = 6; // mkostemp's XXXXXX

// Closes the descriptor it holds when it goes.
class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    [[nodiscard]] int get() const { return m_fd; }

private:
    int m_fd;
};

QString systemError(int error)
{
    return asSentence(qt_error_string(error));
}

// The file a link at `path` points to, so that a linked data file keeps its link;
// `path` itself otherwise.
QString followLink(const QString& path)
{
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0 || !S_ISLNK(status.st_mode))
        return path;
    const QString target = QFileInfo(path).symLinkTarget();
    return target.isEmpty() ? path : target;
}

// Never replaces an existing `to` (an earlier copy set aside in the same second).
bool moveWithoutReplacing(const char* from, const char* to)
{
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without RENAME_NOREPLACE: link refuses an existing name as well.
    if (::link(from, to) != 0)
        return false;
    ::unlink(from);
    return true;
}

bool writeAll(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, std::size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = EIO; // a regular file that takes no bytes
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

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

QString temporaryPrefix(const QString& path)
{
    return path + QStringLiteral(".tmp-");
}

std::optional<QString> writeFileAtomically(const QString& requestedPath, const QByteArray& bytes)
{
    const QString path = followLink(requestedPath);
    if (auto error = createFolderOwnerOnly(QFileInfo(path).path()))
        return error;

    QByteArray temporary = QFile::encodeName(temporaryPrefix(path)) + QByteArray(temporarySuffixLength, 'X');
    // Created owner-only, so the content is never readable by others, not even for a moment.
    Descriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
    if (file.get() < 0)
        return systemError(errno);
    // Held until the descriptor closes (or the process dies): marks the file as in use
    // for removeAbandonedTemporaries in this or another process.
    ::flock(file.get(), LOCK_EX);
    int error = 0;
    // On disk before the rename, so a power cut never leaves an empty file in its place.
    if (!writeAll(file.get(), bytes) || ::fchmod(file.get(), 0600) != 0 || ::fdatasync(file.get()) != 0
        || ::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.constData());
        return systemError(error);
    }
    return std::nullopt;
}

void removeAbandonedTemporaries(const QString& path)
{
    const QFileInfo target(followLink(path));
    const QByteArray prefix = QFile::encodeName(QFileInfo(temporaryPrefix(target.filePath())).fileName());
    const QByteArray folder = QFile::encodeName(target.path());
    const std::unique_ptr<DIR, int (*)(DIR*)> entries(::opendir(folder.constData()), ::closedir);
    if (!entries)
        return;
    while (const dirent* entry = ::readdir(entries.get())) {
        const std::string_view name(entry->d_name);
        if (!name.starts_with(std::string_view(prefix.constData(), std::size_t(prefix.size())))
            || name.size() != std::size_t(prefix.size()) + temporarySuffixLength)
            continue;
        const std::string_view suffix = name.substr(std::size_t(prefix.size()));
        if (!std::all_of(suffix.begin(), suffix.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); }))
            continue;
        // A writer that is still at work holds the lock; one that was killed holds nothing.
        Descriptor file(::openat(::dirfd(entries.get()), entry->d_name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
        if (file.get() >= 0 && ::flock(file.get(), LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(::dirfd(entries.get()), entry->d_name, 0);
    }
}

bool somethingAt(const QString& path)
{
    struct stat status {};
    // ENOTDIR: a folder on the way is a file, so there cannot be a file at the path either.
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 || (errno != ENOENT && errno != ENOTDIR);
}

std::optional<QString> setAsideUnreadable(const QString& path, WallTime now)
{
    const QFileInfo info(path);
    const qint64 seconds = std::isfinite(now) && std::abs(now) < 1e15 ? static_cast<qint64>(now) : 0;
    const QString asideName = QStringLiteral("%1.unreadable-%2.json").arg(info.completeBaseName(), QString::number(seconds));
    const QByteArray aside = QFile::encodeName(info.dir().filePath(asideName));
    if (!moveWithoutReplacing(QFile::encodeName(path).constData(), aside.constData()))
        return std::nullopt;
    // A link keeps the permissions of what it points to; only a file is made private.
    struct stat status {};
    if (::lstat(aside.constData(), &status) == 0 && S_ISREG(status.st_mode))
        ::chmod(aside.constData(), 0600);
    return asideName;
}

} // namespace verticora
