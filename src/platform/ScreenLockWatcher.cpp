#include "platform/ScreenLockWatcher.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

#include <functional>

#include <unistd.h>

namespace verticora {

namespace {

const QString login1 = QStringLiteral("org.freedesktop.login1");
const QString managerPath = QStringLiteral("/org/freedesktop/login1");
const QString managerInterface = QStringLiteral("org.freedesktop.login1.Manager");
const QString sessionInterface = QStringLiteral("org.freedesktop.login1.Session");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString lockedHint = QStringLiteral("LockedHint");

struct ScreenSaver {
    const char* service;
    const char* path;
};

// The same interface name as the service's; KDE serves the freedesktop one on two paths.
constexpr ScreenSaver screenSavers[] = {
    {"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver"},
    {"org.freedesktop.ScreenSaver", "/ScreenSaver"},
    {"org.gnome.ScreenSaver", "/org/gnome/ScreenSaver"},
};

// Calls `message` without waiting and hands a successful reply to `answered`.
void callAsync(QObject* owner, QDBusConnection bus, const QDBusMessage& message,
               std::function<void(const QDBusMessage&)> answered)
{
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(message), owner);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, owner,
                     [answered = std::move(answered)](QDBusPendingCallWatcher* call) {
                         call->deleteLater();
                         if (!call->isError())
                             answered(call->reply());
                     });
}

} // namespace

ScreenLockWatcher::ScreenLockWatcher(QObject* parent)
    : ScreenLockWatcher(QDBusConnection::systemBus(), QDBusConnection::sessionBus(), parent)
{
}

ScreenLockWatcher::ScreenLockWatcher(QDBusConnection systemBus, QDBusConnection sessionBus, QObject* parent)
    : QObject(parent)
{
    if (systemBus.isConnected())
        watchLogind(systemBus);
    if (sessionBus.isConnected())
        watchScreenSavers(sessionBus);
}

void ScreenLockWatcher::watchLogind(QDBusConnection bus)
{
    // "auto": this process's session, or the user's graphical one when started outside
    // any (as a login item may be). Older logind knows only the process.
    QDBusMessage automatic = QDBusMessage::createMethodCall(login1, managerPath, managerInterface,
                                                            QStringLiteral("GetSession"));
    automatic << QStringLiteral("auto");
    QDBusMessage byProcess = QDBusMessage::createMethodCall(login1, managerPath, managerInterface,
                                                            QStringLiteral("GetSessionByPID"));
    byProcess << static_cast<uint>(::getpid());

    auto watch = [this, bus](const QDBusMessage& reply) {
        const QDBusObjectPath path = reply.arguments().value(0).value<QDBusObjectPath>();
        if (!path.path().isEmpty())
            watchLogindSession(bus, path.path());
    };
    auto* first = new QDBusPendingCallWatcher(bus.asyncCall(automatic), this);
    connect(first, &QDBusPendingCallWatcher::finished, this, [this, bus, byProcess, watch](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        if (call->isError())
            callAsync(this, bus, byProcess, watch);
        else
            watch(call->reply());
    });
}

void ScreenLockWatcher::watchLogindSession(QDBusConnection bus, const QString& path)
{
    bus.connect(login1, path, sessionInterface, QStringLiteral("Lock"), this, SLOT(sessionLocked()));
    bus.connect(login1, path, sessionInterface, QStringLiteral("Unlock"), this, SLOT(sessionUnlocked()));
    bus.connect(login1, path, propertiesInterface, QStringLiteral("PropertiesChanged"), this,
                SLOT(sessionPropertiesChanged(QString, QVariantMap, QStringList)));
    QDBusMessage get = QDBusMessage::createMethodCall(login1, path, propertiesInterface, QStringLiteral("Get"));
    get << sessionInterface << lockedHint;
    callAsync(this, bus, get, [this](const QDBusMessage& reply) {
        report(reply.arguments().value(0).value<QDBusVariant>().variant().toBool(), true);
    });
}

void ScreenLockWatcher::watchScreenSavers(QDBusConnection bus)
{
    for (const ScreenSaver& saver : screenSavers) {
        const QString service = QString::fromLatin1(saver.service);
        const QString path = QString::fromLatin1(saver.path);
        bus.connect(service, path, service, QStringLiteral("ActiveChanged"), this,
                    SLOT(screenSaverActiveChanged(bool)));
        const QDBusMessage get = QDBusMessage::createMethodCall(service, path, service, QStringLiteral("GetActive"));
        callAsync(this, bus, get, [this](const QDBusMessage& reply) { report(reply.arguments().value(0).toBool(), true); });
    }
}

void ScreenLockWatcher::sessionLocked()
{
    report(true);
}

void ScreenLockWatcher::sessionUnlocked()
{
    report(false);
}

void ScreenLockWatcher::sessionPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                                 const QStringList&)
{
    if (interface == sessionInterface && changed.contains(lockedHint))
        report(changed.value(lockedHint).toBool());
}

void ScreenLockWatcher::screenSaverActiveChanged(bool active)
{
    report(active);
}

void ScreenLockWatcher::report(bool locked, bool initial)
{
    if (initial) {
        // A state read at start may only find the screen locked already; any signal since is newer.
        if (!locked || m_heard)
            return;
    } else {
        m_heard = true;
    }
    if (locked == m_locked)
        return;
    m_locked = locked;
    emit lockedChanged(locked);
}

} // namespace verticora
