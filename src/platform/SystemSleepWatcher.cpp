#include "platform/SystemSleepWatcher.h"

#include <QDBusConnection>

namespace verticora {

SystemSleepWatcher::SystemSleepWatcher(QObject* parent) : QObject(parent)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return;
    m_watching = bus.connect(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                             QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
                             SLOT(prepareForSleep(bool)));
}

void SystemSleepWatcher::prepareForSleep(bool start)
{
    // There is no automatic restart after waking: the user starts the camera again.
    if (start)
        emit aboutToSleep();
}

} // namespace verticora
