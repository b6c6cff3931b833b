#include "PrivateBus.h"
#include "ShellScenario.h"

#include "app/RemoteControl.h"
#include "app/StatusItem.h"
#include "platform/ScreenLockWatcher.h"

#include <QDBusMessage>
#include <QDBusObjectPath>

using namespace verticora;
using namespace verticora::testing;

namespace {

const QString sessionPath = "/org/freedesktop/login1/session/_31";

// logind's manager as far as the watcher asks it: which session is the user's.
class LoginManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public Q_SLOTS:
    QDBusObjectPath GetSession(const QString&) { return QDBusObjectPath(sessionPath); }
};

// Sends `signal` until the watcher shows `locked`: the watcher subscribes without
// waiting, so a first signal may come before its subscription does.
bool sendUntil(QDBusConnection& bus, const QDBusMessage& signal, const ScreenLockWatcher& watcher, bool locked)
{
    return eventually([&] {
        bus.send(signal);
        QTest::qWait(20);
        return watcher.locked() == locked;
    });
}

// A screen saver of the test's own on a private session bus, as KDE or Xfce serve one.
class ScreenLockScenario : public ModelScenario {
protected:
    void SetUp() override
    {
        ModelScenario::SetUp();
        if (!m_bus.start())
            GTEST_SKIP() << "no dbus-daemon to run a private bus";
        m_saver = m_bus.connect("screen-saver");
        ASSERT_TRUE(m_saver.registerService("org.freedesktop.ScreenSaver"));
        watcher = std::make_unique<ScreenLockWatcher>(QDBusConnection(QString()), m_bus.connect("verticora"));
        makeModel();
        QObject::connect(watcher.get(), &ScreenLockWatcher::lockedChanged, model.get(), &CameraModel::setScreenLocked);
    }

    void TearDown() override
    {
        watcher.reset();
        ModelScenario::TearDown();
    }

    bool setScreenSaverActive(bool active)
    {
        QDBusMessage changed = QDBusMessage::createSignal("/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver",
                                                          "ActiveChanged");
        changed << active;
        const bool seen = sendUntil(m_saver, changed, *watcher, active);
        model->drainCaptureQueue();
        return seen;
    }

    std::unique_ptr<ScreenLockWatcher> watcher;

private:
    PrivateBus m_bus;
    QDBusConnection m_saver{QString()};
};

} // namespace

TEST_F(ScreenLockScenario, theCameraRestsWhileTheScreenIsLockedUnlessTheUserPausedIt)
{
    startCamera();
    calibrate();
    frames(1.0);
    StatusItem item(*model, {[] {}, [] {}});
    RemoteControl control(*model, {});

    ASSERT_TRUE(setScreenSaverActive(true));
    EXPECT_TRUE(model->session().paused());
    EXPECT_FALSE(camera->isRunning()) << "the camera light is off";
    EXPECT_EQ(model->message(), "Your screen is locked. Tracking resumes when you unlock it.");
    EXPECT_EQ(control.status().toJson()["pauseReason"], "locked");
    EXPECT_TRUE(eventually([&] { return item.lastStatus() == "Paused while the screen is locked"; }));

    ASSERT_TRUE(setScreenSaverActive(false));
    EXPECT_FALSE(model->session().paused());
    EXPECT_TRUE(camera->isRunning());
    frames(1.2);
    EXPECT_EQ(model->state(), ZoneState::inside);

    // A pause asked for during the lock (a script's timed pause) outlasts it,
    ASSERT_TRUE(setScreenSaverActive(true));
    ASSERT_TRUE(model->pauseFor(600));
    ASSERT_TRUE(setScreenSaverActive(false));
    EXPECT_TRUE(model->session().paused());
    EXPECT_EQ(model->session().pauseReason(), PauseReason::user);
    EXPECT_FALSE(camera->isRunning());

    // and so does one the user made before it.
    model->togglePause();
    frames(1.2);
    model->togglePause();
    ASSERT_TRUE(setScreenSaverActive(true));
    ASSERT_TRUE(setScreenSaverActive(false));
    EXPECT_TRUE(model->session().paused());
    EXPECT_EQ(model->message(), "Camera and reminders paused. Resume whenever you’re ready.");
}

TEST(ScreenLockWatcher, followsTheLogindSessionsLockAndItsLockedHint)
{
    PrivateBus systemBus;
    if (!systemBus.start())
        GTEST_SKIP() << "no dbus-daemon to run a private bus";
    QDBusConnection logind = systemBus.connect("logind");
    LoginManager manager;
    ASSERT_TRUE(logind.registerObject("/org/freedesktop/login1", &manager, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(logind.registerService("org.freedesktop.login1"));
    ScreenLockWatcher watcher(systemBus.connect("verticora"), QDBusConnection(QString()));

    EXPECT_TRUE(sendUntil(logind, QDBusMessage::createSignal(sessionPath, "org.freedesktop.login1.Session", "Lock"),
                          watcher, true));
    QDBusMessage hint = QDBusMessage::createSignal(sessionPath, "org.freedesktop.DBus.Properties", "PropertiesChanged");
    hint << QString("org.freedesktop.login1.Session") << QVariantMap{{"LockedHint", false}} << QStringList();
    EXPECT_TRUE(sendUntil(logind, hint, watcher, false));
}

#include "ScreenLockTest.moc"
