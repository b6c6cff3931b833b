#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A message bus of the test's own, so that the desktop's session never leaks in.
class PrivateBus {
public:
    PrivateBus() = default;
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    ~PrivateBus()
    {
        for (const QString& name : m_connections)
            QDBusConnection::disconnectFromBus(name);
        m_daemon.kill();
        m_daemon.waitForFinished();
    }

    // False when no dbus-daemon could be started.
    bool start()
    {
        // The socket goes into a folder of the test's own: killed, the daemon leaves it behind.
        if (!m_socketFolder.isValid())
            return false;
        m_daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address=1",
                                       "--address=unix:dir=" + m_socketFolder.path()});
        if (!m_daemon.waitForStarted(5000) || !m_daemon.waitForReadyRead(5000))
            return false;
        m_address = QString::fromUtf8(m_daemon.readLine().trimmed());
        return !m_address.isEmpty();
    }

    // A connection of its own to the bus, as another program would have.
    QDBusConnection connect(const QString& name)
    {
        m_connections << name;
        return QDBusConnection::connectToBus(m_address, name);
    }

private:
    QTemporaryDir m_socketFolder;
    QProcess m_daemon;
    QString m_address;
    QStringList m_connections;
};
