#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <optional>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace verticora {

namespace {

constexpr int startupWaitMilliseconds = 5000;
constexpr int exchangeMilliseconds = 3000;
constexpr qint64 maximumRequestBytes = 4096;

// Who is at the other end of a local socket, as the kernel tells it: not forgeable.
std::optional<ucred> peerOf(qintptr descriptor)
{
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (descriptor < 0 || ::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
        return std::nullopt;
    return credentials;
}

bool privateFolderOf(const QString& folder, uid_t user)
{
    struct stat status {};
    return ::stat(QFile::encodeName(folder).constData(), &status) == 0 && S_ISDIR(status.st_mode)
        && status.st_uid == user && (status.st_mode & 077) == 0;
}

QString systemReason(int error)
{
    return qt_error_string(error).toLower() + u'.';
}

RuntimeFolder lockFolderFailure(const QString& folder, const QString& reason)
{
    return {{}, QStringLiteral("Could not use %1 for the instance lock: %2").arg(folder, reason)};
}

// The folder of the last resort: made here, or taken over only when it is the user's own.
RuntimeFolder ownedFolder(const QString& folder, uid_t user)
{
    if (folder.isEmpty() || !QDir::isAbsolutePath(folder))
        return {{}, QStringLiteral("Found no private folder for the instance lock.")};
    const QByteArray name = QFile::encodeName(folder);
    QDir().mkpath(QFileInfo(folder).path());
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
        return lockFolderFailure(folder, systemReason(errno));
    struct stat status {};
    if (::lstat(name.constData(), &status) != 0)
        return lockFolderFailure(folder, systemReason(errno));
    if (!S_ISDIR(status.st_mode))
        return lockFolderFailure(folder, QStringLiteral("it is not a folder."));
    if (status.st_uid != user)
        return lockFolderFailure(folder, QStringLiteral("it belongs to another user."));
    if ((status.st_mode & 077) != 0 && ::chmod(name.constData(), 0700) != 0)
        return lockFolderFailure(folder, systemReason(errno));
    return {folder, {}};
}

} // namespace

RuntimeFolder privateRuntimeFolder(const QStringList& candidates, const QString& fallback, uid_t user)
{
    for (const QString& candidate : candidates) {
        if (!candidate.isEmpty() && QDir::isAbsolutePath(candidate) && privateFolderOf(candidate, user))
            return {candidate, {}};
    }
    return ownedFolder(fallback, user);
}

RuntimeFolder privateRuntimeFolder()
{
    // Without XDG_RUNTIME_DIR (ssh, su) the session's own folder is usually still there,
    // and every launch of the user finds the same one.
    const QStringList candidates = {qEnvironmentVariable("XDG_RUNTIME_DIR"),
                                    QStringLiteral("/run/user/%1").arg(::getuid())};
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    return privateRuntimeFolder(candidates, cache.isEmpty() ? QString() : cache + QStringLiteral("/verticora-runtime"),
                                ::getuid());
}

SingleInstance::SingleInstance(const QString& dataFolder, QObject* parent)
    : SingleInstance(dataFolder, Channel{}, parent)
{
}

SingleInstance::SingleInstance(const QString& dataFolder, Channel channel, QObject* parent)
    : QObject(parent)
    , m_user(channel.user)
    , m_requestMilliseconds(channel.requestMilliseconds)
    , m_runtimeFailure(channel.runtime.failure)
{
    const RuntimeFolder& runtime = channel.runtime;
    if (runtime.path.isEmpty())
        return;
    const QByteArray path = QDir::cleanPath(QDir(dataFolder).absolutePath()).toUtf8();
    const QByteArray digest = QCryptographicHash::hash(path, QCryptographicHash::Sha256).toHex().left(20);
    m_serverName = runtime.path + QStringLiteral("/verticora-") + QString::fromLatin1(digest);
    m_lock = std::make_unique<QLockFile>(m_serverName + QStringLiteral(".lock"));
    m_lock->setStaleLockTime(0); // only a dead holder makes the lock stale
}

SingleInstance::~SingleInstance()
{
    // While every member is alive: closing destroys the connections, which count themselves.
    if (m_server) {
        m_server->close();
        m_server.reset();
    }
}

SingleInstance::Role SingleInstance::claim(const QByteArray& request, QByteArray* answer)
{
    if (!m_lock) {
        m_failure = m_runtimeFailure;
        return Role::failed;
    }
    const QDeadlineTimer deadline(startupWaitMilliseconds);
    while (true) {
        if (m_lock->tryLock(0))
            return listen() ? Role::primary : Role::failed;
        if (m_lock->error() != QLockFile::LockFailedError) {
            m_failure = QStringLiteral("Could not create the instance lock in %1.").arg(QFileInfo(m_serverName).path());
            return Role::failed;
        }
        // Another launch holds the folder; it may not be listening yet.
        switch (deliver(request, answer)) {
        case Delivery::answered:
            return Role::secondary;
        case Delivery::foreign:
            return Role::failed;
        case Delivery::noAnswer:
            break;
        }
        if (!waitForListener(deadline))
            return Role::failed;
    }
}

SingleInstance::Reach SingleInstance::ask(const QByteArray& request, QByteArray* answer)
{
    if (!m_lock) {
        m_failure = m_runtimeFailure;
        return Reach::failed;
    }
    const QDeadlineTimer deadline(startupWaitMilliseconds);
    while (true) {
        switch (deliver(request, answer)) {
        case Delivery::answered:
            return Reach::answered;
        case Delivery::foreign:
            return Reach::failed;
        case Delivery::noAnswer:
            break;
        }
        // Nobody listens: an instance may be starting, or there is none (its lock is free
        // or was left by a process that is gone).
        qint64 holder = 0;
        QString host;
        QString application;
        if (!m_lock->getLockInfo(&holder, &host, &application) || holder <= 0
            || (::kill(pid_t(holder), 0) != 0 && errno == ESRCH))
            return Reach::notRunning;
        if (!waitForListener(deadline))
            return Reach::failed;
    }
}

SingleInstance::Delivery SingleInstance::deliver(const QByteArray& request, QByteArray* answer)
{
    QLocalSocket socket;
    socket.connectToServer(m_serverName);
    if (!socket.waitForConnected(exchangeMilliseconds))
        return Delivery::noAnswer;
    const std::optional<ucred> peer = peerOf(socket.socketDescriptor());
    if (!peer || peer->uid != m_user) {
        m_failure =
            QStringLiteral("A program of another user answers for this data folder; Verticora does not talk to it.");
        return Delivery::foreign;
    }
    socket.write(request + '\n');
    if (!socket.waitForBytesWritten(exchangeMilliseconds))
        return Delivery::noAnswer;
    const QDeadlineTimer deadline(exchangeMilliseconds);
    while (!socket.canReadLine()) {
        if (deadline.hasExpired() || !socket.waitForReadyRead(int(deadline.remainingTime())))
            return Delivery::noAnswer;
    }
    const QByteArray line = socket.readLine().trimmed();
    if (answer)
        *answer = line;
    m_answeringProcess = peer->pid;
    return Delivery::answered;
}

bool SingleInstance::waitForListener(const QDeadlineTimer& deadline)
{
    if (deadline.hasExpired()) {
        m_failure = QStringLiteral("Another Verticora is running for this data folder but does not answer.");
        return false;
    }
    QThread::msleep(50);
    return true;
}

bool SingleInstance::listen()
{
    // A socket file left by a crashed instance would refuse the name.
    QLocalServer::removeServer(m_serverName);
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_serverName)) {
        m_failure = QStringLiteral("Could not listen for other launches: %1").arg(m_server->errorString());
        m_server.reset();
        return false;
    }
    connect(m_server.get(), &QLocalServer::newConnection, this, &SingleInstance::serve);
    return true;
}

void SingleInstance::serve()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection())
        accept(socket);
}

void SingleInstance::accept(QLocalSocket* socket)
{
    const std::optional<ucred> peer = peerOf(socket->socketDescriptor());
    if (!peer || peer->uid != m_user || m_connections >= maximumConnections) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    ++m_connections;
    connect(socket, &QObject::destroyed, this, [this] { --m_connections; });
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    // A connection that does not say what it wants in time is dropped.
    QTimer::singleShot(m_requestMilliseconds, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
        if (!socket->canReadLine()) {
            if (socket->bytesAvailable() > maximumRequestBytes)
                socket->abort();
            return;
        }
        const QByteArray request = socket->readLine(maximumRequestBytes).trimmed();
        const QByteArray reply = m_handler ? m_handler(request) : QByteArrayLiteral("unknown");
        socket->write(reply + '\n');
        socket->disconnectFromServer();
    });
}

} // namespace verticora
