#include "platform/ReduceMotionSetting.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusVariant>
#include <QProcess>
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

// A message bus of the test's own, so that the desktop's settings never leak in.
class PrivateBus : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        if (!m_daemon.waitForStarted(5000) || !m_daemon.waitForReadyRead(5000))
            GTEST_SKIP() << "no dbus-daemon to run a private bus";
        m_address = QString::fromUtf8(m_daemon.readLine().trimmed());
        client = QDBusConnection::connectToBus(m_address, "reduce-motion-client");
        ASSERT_TRUE(client.isConnected());
    }

    void TearDown() override
    {
        QDBusConnection::disconnectFromBus("reduce-motion-client");
        QDBusConnection::disconnectFromBus("reduce-motion-portal");
        m_daemon.kill();
        m_daemon.waitForFinished();
    }

    FakeSettingsPortal* startPortal()
    {
        QDBusConnection service = QDBusConnection::connectToBus(m_address, "reduce-motion-portal");
        auto* portal = new FakeSettingsPortal(&m_portalObject);
        EXPECT_TRUE(service.registerObject("/org/freedesktop/portal/desktop", &m_portalObject));
        EXPECT_TRUE(service.registerService("org.freedesktop.portal.Desktop"));
        return portal;
    }

    QDBusConnection client{QString()};

private:
    QProcess m_daemon;
    QString m_address;
    QObject m_portalObject;
};

} // namespace

TEST_F(PrivateBus, followsTheDesktopsAnimationsSwitchAndTheAppearanceKey)
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

TEST_F(PrivateBus, staysOffWithoutAPortal)
{
    ReduceMotionSetting setting("reduce-motion-client");
    QSignalSpy changed(&setting, &ReduceMotionSetting::changed);
    EXPECT_FALSE(changed.wait(300));
    EXPECT_FALSE(setting.reduceMotion());
}

#include "ReduceMotionSettingTest.moc"
