#include "app/RunningProcess.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <limits>

namespace verticora {

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

} // namespace verticora
