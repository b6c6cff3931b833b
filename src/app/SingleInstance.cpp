#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>
#include <csignal>

namespace verticora {

namespace {

constexpr int startupWaitMilliseconds = 5000;
constexpr int exchangeMilliseconds = 3000;
constexpr qint64 maximumRequestBytes = 4096;

QString runtimeFolder()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder;
}

// Asks the instance listening on `name`; false when nobody answered.
bool deliver(const QString& name, const QByteArray& request, QByteArray* answer)
{
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(exchangeMilliseconds))
        return false;
    socket.write(request + '\n');
    if (!socket.waitForBytesWritten(exchangeMilliseconds))
        return false;
    const QDeadlineTimer deadline(exchangeMilliseconds);
    while (!socket.canReadLine()) {
        if (deadline.hasExpired() || !socket.waitForReadyRead(int(deadline.remainingTime())))
            return false;
    }
    const QByteArray line = socket.readLine().trimmed();
    if (answer)
        *answer = line;
    return true;
}

} // namespace

SingleInstance::SingleInstance(const QString& dataFolder, QObject* parent) : QObject(parent)
{
    const QByteArray path = QDir::cleanPath(QDir(dataFolder).absolutePath()).toUtf8();
    const QByteArray digest = QCryptographicHash::hash(path, QCryptographicHash::Sha256).toHex().left(20);
    m_serverName = runtimeFolder() + QStringLiteral("/verticora-") + QString::fromLatin1(digest);
    m_lock = std::make_unique<QLockFile>(m_serverName + QStringLiteral(".lock"));
    m_lock->setStaleLockTime(0); // only a dead holder makes the lock stale
}

SingleInstance::~SingleInstance()
{
    if (m_server)
        m_server->close();
}

SingleInstance::Role SingleInstance::claim(const QByteArray& request, QByteArray* answer)
{
    const QDeadlineTimer deadline(startupWaitMilliseconds);
    while (true) {
        if (m_lock->tryLock(0))
            return listen() ? Role::primary : Role::failed;
        if (m_lock->error() != QLockFile::LockFailedError) {
            m_failure = QStringLiteral("Could not create the instance lock in %1.").arg(runtimeFolder());
            return Role::failed;
        }
        // Another launch holds the folder; it may not be listening yet.
        if (deliver(m_serverName, request, answer))
            return Role::secondary;
        if (!waitForListener(deadline))
            return Role::failed;
    }
}

SingleInstance::Reach SingleInstance::ask(const QByteArray& request, QByteArray* answer)
{
    const QDeadlineTimer deadline(startupWaitMilliseconds);
    while (true) {
        if (deliver(m_serverName, request, answer))
            return Reach::answered;
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
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
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
}

} // namespace verticora
