#include "platform/ReduceMotionSetting.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

#include <functional>

namespace verticora {

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearanceGroup = QStringLiteral("org.freedesktop.appearance");
const QString reducedMotionKey = QStringLiteral("reduced-motion");
const QString gnomeInterfaceGroup = QStringLiteral("org.gnome.desktop.interface");
const QString enableAnimationsKey = QStringLiteral("enable-animations");

// Older portals answer Read with the value wrapped in a second variant.
QVariant unwrapped(QVariant value)
{
    for (int depth = 0; depth < 4 && value.canConvert<QDBusVariant>(); ++depth)
        value = value.value<QDBusVariant>().variant();
    return value;
}

QDBusConnection busNamed(const QString& name)
{
    return name.isEmpty() ? QDBusConnection::sessionBus() : QDBusConnection(name);
}

} // namespace

// Receives the portal's change signal (D-Bus delivers signals to slots by name).
class PortalSettingRelay : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;
    std::function<void(const QString&, const QString&, const QVariant&)> changed;

public Q_SLOTS:
    void settingChanged(const QDBusMessage& message)
    {
        const QList<QVariant> arguments = message.arguments();
        if (changed && arguments.size() == 3)
            changed(arguments[0].toString(), arguments[1].toString(), arguments[2]);
    }
};

ReduceMotionSetting::ReduceMotionSetting(const QString& busConnection, QObject* parent)
    : QObject(parent), m_busConnection(busConnection)
{
    QDBusConnection bus = busNamed(m_busConnection);
    if (!bus.isConnected())
        return;
    auto* relay = new PortalSettingRelay(this);
    relay->changed = [this](const QString& group, const QString& key, const QVariant& value) {
        apply(group, key, value);
    };
    bus.connect(portalService, portalPath, settingsInterface, QStringLiteral("SettingChanged"), relay,
                SLOT(settingChanged(QDBusMessage)));
    read(appearanceGroup, reducedMotionKey);
    read(gnomeInterfaceGroup, enableAnimationsKey);
}

void ReduceMotionSetting::read(const QString& group, const QString& key)
{
    QDBusMessage call = QDBusMessage::createMethodCall(portalService, portalPath, settingsInterface, QStringLiteral("Read"));
    call << group << key;
    auto* watcher = new QDBusPendingCallWatcher(busNamed(m_busConnection).asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, group, key] {
        watcher->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *watcher;
        if (reply.isValid())
            apply(group, key, reply.value().variant());
    });
}

void ReduceMotionSetting::apply(const QString& group, const QString& key, const QVariant& raw)
{
    const QVariant value = unwrapped(raw);
    if (group == appearanceGroup && key == reducedMotionKey
        && (value.typeId() == QMetaType::UInt || value.typeId() == QMetaType::Int)) {
        // 1 asks for reduced motion; 0 and unknown values mean no preference.
        m_reducedMotion = value.toUInt() == 1;
    } else if (group == gnomeInterfaceGroup && key == enableAnimationsKey && value.typeId() == QMetaType::Bool) {
        m_animationsEnabled = value.toBool();
    } else {
        return;
    }
    update();
}

void ReduceMotionSetting::update()
{
    const bool reduce = m_reducedMotion.value_or(false) || !m_animationsEnabled.value_or(true);
    if (reduce == m_reduceMotion)
        return;
    m_reduceMotion = reduce;
    emit changed(reduce);
}

} // namespace verticora

#include "ReduceMotionSetting.moc"
