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

QString fileName(const QString& path)
{
    return QFileInfo(path).fileName();
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
    if (::unlink(from) != 0) {
        // Under both names the file would be set aside again at every start.
        ::unlink(to);
        return false;
    }
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

// Reads at most `limit` + 1 bytes, so that a file that grew past the limit is noticed.
std::optional<QByteArray> readUpTo(int fd, qint64 limit, qint64 expected)
{
    QByteArray bytes;
    bytes.reserve(qsizetype(std::min(expected, limit) + 1));
    char buffer[65536];
    while (bytes.size() <= limit) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return std::nullopt;
        if (count == 0)
            break;
        bytes.append(buffer, count);
    }
    return bytes;
}

// The rename that replaced a file is on disk only once its folder is.
int syncFolder(const QString& folder)
{
    Descriptor directory(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() < 0)
        return errno;
    // Some file systems cannot sync a folder at all; their renames are as safe as they get.
    if (::fsync(directory.get()) != 0 && errno != EINVAL && errno != EROFS)
        return errno;
    return 0;
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
        const QByteArray name = QFile::encodeName(path);
        if (::mkdir(name.constData(), 0700) == 0) {
            // mkdir's mode is filtered by the umask; set it explicitly as well.
            if (::chmod(name.constData(), 0700) != 0) {
                const int error = errno;
                return asSentence(QStringLiteral("Could not make the folder %1 private: %2")
                                      .arg(QDir::toNativeSeparators(path), qt_error_string(error)));
            }
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

// Root may leave a file in the folder (a backup restored with sudo); anyone else may not.
bool ownFile(const struct stat& status)
{
    return status.st_uid == ::geteuid() || status.st_uid == 0;
}

FileContent unreadable(QString error)
{
    return {FileContent::Status::unreadable, {}, std::move(error)};
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

QString temporaryPrefix(const QString& path)
{
    return path + QStringLiteral(".tmp-");
}

std::optional<QString> writeFileAtomically(const QString& path, const QByteArray& bytes)
{
    const QString folder = QFileInfo(path).path();
    if (auto error = createFolderOwnerOnly(folder))
        return error;

    QByteArray temporary = QFile::encodeName(temporaryPrefix(path)) + QByteArray(temporarySuffixLength, 'X');
    // Created exclusively (never through a link planted under that name) and owner-only,
    // so the content is never readable by others, not even for a moment.
    Descriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
    if (file.get() < 0)
        return systemError(errno);
    int error = 0;
    // Held until the descriptor closes (or the process dies): marks the file as in use
    // for removeAbandonedTemporaries in this or another process.
    // On disk before the rename, so a power cut never leaves an empty file in its place.
    if (::flock(file.get(), LOCK_EX) != 0 || !writeAll(file.get(), bytes) || ::fchmod(file.get(), 0600) != 0
        || ::fdatasync(file.get()) != 0 || ::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0)
        error = errno;
    if (error != 0) {
        // A temporary that cannot be removed now is removed at the next start.
        ::unlink(temporary.constData());
        return systemError(error);
    }
    if (const int syncError = syncFolder(folder))
        return systemError(syncError);
    return std::nullopt;
}

std::optional<QString> writeDataFile(const QString& path, const QByteArray& bytes)
{
    const QString folder = QFileInfo(path).path();
    if (auto error = createFolderOwnerOnly(folder))
        return error;
    if (auto refusal = securePrivateFolder(folder))
        return refusal;
    return writeFileAtomically(path, bytes);
}

std::optional<QString> securePrivateFolder(const QString& folder)
{
    const QByteArray name = QFile::encodeName(folder);
    struct stat status {};
    // A data folder the user linked elsewhere is judged by where it leads.
    if (::stat(name.constData(), &status) != 0)
        return errno == ENOENT || errno == ENOTDIR ? std::nullopt : std::optional(systemError(errno));
    // Not a folder: nothing can be read from it, and a write says why.
    if (!S_ISDIR(status.st_mode))
        return std::nullopt;
    const QString shown = QDir::toNativeSeparators(folder);
    if (status.st_uid != ::geteuid())
        return QStringLiteral("The data folder %1 belongs to another user, so Verticora does not use it.").arg(shown);
    if ((status.st_mode & 077) == 0)
        return std::nullopt;
    if (::chmod(name.constData(), 0700) == 0)
        return std::nullopt;
    if ((status.st_mode & 022) != 0)
        return QStringLiteral("Other users can change the data folder %1, so Verticora does not use it.").arg(shown);
    // Readable by others but nothing can be planted: the files themselves stay owner-only.
    return std::nullopt;
}

FileContent readDataFile(const QString& path, qint64 limit)
{
    if (auto refusal = securePrivateFolder(QFileInfo(path).path()))
        return {FileContent::Status::refusedFolder, {}, *refusal};
    const QByteArray name = QFile::encodeName(path);
    struct stat status {};
    if (::lstat(name.constData(), &status) != 0) {
        // ENOTDIR: a folder on the way is a file, so there cannot be a file at the path either.
        // Anything else (no permission to look) is reported rather than taken for a first run.
        if (errno == ENOENT || errno == ENOTDIR)
            return {FileContent::Status::missing, {}, {}};
        return unreadable(systemError(errno));
    }
    // A pipe would block the open or the read for ever, a device (/dev/zero) never ends.
    if (!S_ISREG(status.st_mode))
        return unreadable(QStringLiteral("The file %1 is not an ordinary file.").arg(fileName(path)));
    if (!ownFile(status))
        return unreadable(QStringLiteral("The file %1 belongs to another user.").arg(fileName(path)));
    if (status.st_size > limit)
        return unreadable(QStringLiteral("The file %1 is too large to be one of Verticora's files.").arg(fileName(path)));

    Descriptor file(::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.get() < 0)
        return unreadable(systemError(errno));
    struct stat opened {};
    if (::fstat(file.get(), &opened) != 0)
        return unreadable(systemError(errno));
    // Replaced since it was looked at: judged again at the next load.
    if (!S_ISREG(opened.st_mode) || opened.st_dev != status.st_dev || opened.st_ino != status.st_ino)
        return unreadable(QStringLiteral("The file %1 changed while it was being read.").arg(fileName(path)));
    // Tidied to what a save leaves; the private folder already keeps others out, so a
    // file system that refuses is no reason not to read it.
    if (opened.st_uid == ::geteuid() && (opened.st_mode & 077) != 0)
        (void)::fchmod(file.get(), 0600);
    std::optional<QByteArray> bytes = readUpTo(file.get(), limit, opened.st_size);
    if (!bytes)
        return unreadable(systemError(errno));
    if (bytes->size() > limit)
        return unreadable(QStringLiteral("The file %1 is too large to be one of Verticora's files.").arg(fileName(path)));
    return {FileContent::Status::read, std::move(*bytes), {}};
}

void removeAbandonedTemporaries(const QString& path)
{
    // Nothing is removed from a folder that is not the user's own.
    if (securePrivateFolder(QFileInfo(path).path()))
        return;
    const QFileInfo target(path);
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
        // One that cannot be removed stays until a later start; it holds no one's data.
        if (file.get() >= 0 && ::flock(file.get(), LOCK_EX | LOCK_NB) == 0)
            (void)::unlinkat(::dirfd(entries.get()), entry->d_name, 0);
    }
}

std::optional<QString> setAsideUnreadable(const QString& path, WallTime now)
{
    const QFileInfo info(path);
    const qint64 seconds = std::isfinite(now) && std::abs(now) < 1e15 ? static_cast<qint64>(now) : 0;
    const QString asideName = QStringLiteral("%1.unreadable-%2.json").arg(info.completeBaseName(), QString::number(seconds));
    const QByteArray from = QFile::encodeName(path);
    const QByteArray aside = QFile::encodeName(info.dir().filePath(asideName));
    // Private before it moves; a link keeps the permissions of what it points to, and a
    // pipe or a device is moved untouched.
    struct stat status {};
    if (::lstat(from.constData(), &status) != 0)
        return std::nullopt;
    if (S_ISREG(status.st_mode) && ::fchmodat(AT_FDCWD, from.constData(), 0600, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    if (!moveWithoutReplacing(from.constData(), aside.constData()))
        return std::nullopt;
    return asideName;
}

} // namespace verticora
