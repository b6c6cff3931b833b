#include "PrivateBus.h"

#include "platform/ReduceMotionSetting.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusVariant>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <map>

using namespace verticora;

namespace {

// The settings portal as older portals serve it: values wrapped in a second variant.
class FakeSettingsPortal : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

public:
    explicit FakeSettingsPortal(QObject* parent) : QDBusAbstractAdaptor(parent) {}

    std::map<std::pair<QString, QString>, QVariant> values;

    void change(const QString& group, const QString& key, const QVariant& value)
    {
        values[{group, key}] = value;
        emit SettingChanged(group, key, QDBusVariant(value));
    }

public Q_SLOTS:
    QDBusVariant Read(const QString& group, const QString& key)
    {
        const auto found = values.find({group, key});
        const QVariant value = found == values.end() ? QVariant(QString()) : found->second;
        return QDBusVariant(QVariant::fromValue(QDBusVariant(value)));
    }

Q_SIGNALS:
    void SettingChanged(const QString& group, const QString& key, const QDBusVariant& value);
};

// The desktop's settings portal, served on a bus of the test's own.
class SettingsPortalBus : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!m_bus.start())
            GTEST_SKIP() << "no dbus-daemon to run a private bus";
        client = m_bus.connect("reduce-motion-client");
        ASSERT_TRUE(client.isConnected());
    }

    FakeSettingsPortal* startPortal()
    {
        QDBusConnection service = m_bus.connect("reduce-motion-portal");
        auto* portal = new FakeSettingsPortal(&m_portalObject);
        EXPECT_TRUE(service.registerObject("/org/freedesktop/portal/desktop", &m_portalObject));
        EXPECT_TRUE(service.registerService("org.freedesktop.portal.Desktop"));
        return portal;
    }

    QDBusConnection client{QString()};

private:
    PrivateBus m_bus;
    QObject m_portalObject;
};

} // namespace

TEST_F(SettingsPortalBus, followsTheDesktopsAnimationsSwitchAndTheAppearanceKey)
{
    FakeSettingsPortal* portal = startPortal();
    portal->values[{"org.gnome.desktop.interface", "enable-animations"}] = false;
    ReduceMotionSetting setting("reduce-motion-client");
    QSignalSpy changed(&setting, &ReduceMotionSetting::changed);
    ASSERT_TRUE(changed.wait(5000));
    EXPECT_TRUE(setting.reduceMotion());

    portal->change("org.gnome.desktop.interface", "enable-animations", true);
    ASSERT_TRUE(changed.wait(5000));
    EXPECT_FALSE(setting.reduceMotion());

    portal->change("org.freedesktop.appearance", "reduced-motion", 1u);
    ASSERT_TRUE(changed.wait(5000));
    EXPECT_TRUE(setting.reduceMotion());
    portal->change("org.freedesktop.appearance", "reduced-motion", 7u); // unknown: no preference
    ASSERT_TRUE(changed.wait(5000));
    EXPECT_FALSE(setting.reduceMotion());
}

TEST_F(SettingsPortalBus, staysOffWithoutAPortal)
{
    ReduceMotionSetting setting("reduce-motion-client");
    QSignalSpy changed(&setting, &ReduceMotionSetting::changed);
    EXPECT_FALSE(changed.wait(300));
    EXPECT_FALSE(setting.reduceMotion());
}

#include "ReduceMotionSettingTest.moc"
