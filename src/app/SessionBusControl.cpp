#include "app/SessionBusControl.h"

#include "app/RemoteControl.h"
#include "store/ApplicationID.h"

#include <QDBusConnectionInterface>

namespace verticora {

SessionBusControl::SessionBusControl(RemoteControl& control, QObject* parent) : QObject(parent), m_control(control)
{
    connect(&m_control, &RemoteControl::statusChanged, this, &SessionBusControl::StatusChanged);
}

QString SessionBusControl::serviceName()
{
    return QString::fromLatin1(applicationID);
}

QString SessionBusControl::objectPath()
{
    return u'/' + serviceName().replace(u'.', u'/');
}

bool SessionBusControl::publish(QDBusConnection bus)
{
    if (!bus.isConnected())
        return false;
    if (!bus.registerObject(objectPath(), this,
                            QDBusConnection::ExportScriptableSlots | QDBusConnection::ExportScriptableSignals))
        return false;
    if (QDBusConnectionInterface* daemon = bus.interface())
        daemon->registerService(serviceName(), QDBusConnectionInterface::QueueService,
                                QDBusConnectionInterface::DontAllowReplacement);
    return true;
}

void SessionBusControl::ShowControls()
{
    if (const std::optional<ControlRefusal> refused = m_control.showControls())
        refuse(*refused);
}

void SessionBusControl::Pause(uint minutes)
{
    if (const std::optional<ControlRefusal> refused = m_control.pause(minutes))
        refuse(*refused);
}

void SessionBusControl::Resume()
{
    if (const std::optional<ControlRefusal> refused = m_control.resume())
        refuse(*refused);
}

QString SessionBusControl::Status(QString& zone, double& score, QString& message, QString& pauseReason)
{
    const InstanceStatus status = m_control.status();
    zone = status.zone;
    score = status.score.value_or(-1);
    message = status.message;
    pauseReason = status.pauseReason;
    return status.state;
}

void SessionBusControl::refuse(const ControlRefusal& refusal)
{
    if (calledFromDBus())
        sendErrorReply(refusal.errorName, refusal.message);
}

} // namespace verticora
