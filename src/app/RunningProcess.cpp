#include "app/RunningProcess.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <limits>

#include <sys/stat.h>
#include <unistd.h>

namespace verticora {

namespace {

// The name of the program a process runs; a replaced or deleted file keeps its name.
QString programName(const QString& process)
{
    char buffer[4096];
    const QByteArray link = QFile::encodeName(process + QStringLiteral("/exe"));
    const ssize_t length = ::readlink(link.constData(), buffer, sizeof buffer);
    if (length <= 0 || std::size_t(length) == sizeof buffer)
        return {};
    QString target = QFile::decodeName(QByteArray(buffer, length));
    const QString deleted = QStringLiteral(" (deleted)");
    if (target.endsWith(deleted))
        target.chop(deleted.size());
    return QFileInfo(target).fileName();
}

} // namespace

bool processRunning(qint64 pid)
{
    if (pid < 1 || pid > std::numeric_limits<pid_t>::max())
        return false;
    // Another user's process answers EPERM: it exists all the same.
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM)
        return false;
    // "pid (name) S ...": the state follows the last parenthesis, as the name may hold any.
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true; // no /proc: the signal check is all there is
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0 || close + 2 >= line.size())
        return true;
    const char state = line.at(close + 2);
    return state != 'Z' && state != 'X';
}

bool isOwnVerticora(qint64 pid)
{
    if (pid < 1 || pid > std::numeric_limits<pid_t>::max())
        return false;
    const QString process = QStringLiteral("/proc/%1").arg(pid);
    struct stat status {};
    if (::stat(QFile::encodeName(process).constData(), &status) != 0 || status.st_uid != ::getuid())
        return false;
    const QString name = programName(process);
    return !name.isEmpty() && name == programName(QStringLiteral("/proc/self"));
}

} // namespace verticora
