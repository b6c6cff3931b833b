#include "PrivateBus.h"
#include "ShellScenario.h"

#include "app/RemoteControl.h"
#include "app/SessionBusControl.h"
#include "ui/PosturePage.h"

#include <QDBusMessage>

using namespace verticora;
using namespace verticora::testing;

namespace {

// Records the StatusChanged signals another program on the bus would see.
class StatusListener : public QObject {
    Q_OBJECT

public:
    QList<QStringList> changes;

public Q_SLOTS:
    void changed(const QString& state, const QString& zone) { changes.append({state, zone}); }
};

// The model's remote control served on a bus of the test's own, called from another
// connection as gdbus or a desktop script would call it; time is the scenario's clock.
class BusControlScenario : public ModelScenario {
protected:
    void SetUp() override
    {
        ModelScenario::SetUp();
        if (!m_bus.start())
            GTEST_SKIP() << "no dbus-daemon to run a private bus";
        makeModel();
        control = std::make_unique<RemoteControl>(*model, [this] { ++windowsShown; });
        m_served = std::make_unique<SessionBusControl>(*control);
        ASSERT_TRUE(m_served->publish(m_bus.connect("verticora-service")));
        m_client = m_bus.connect("verticora-client");
        ASSERT_TRUE(m_client.connect(SessionBusControl::serviceName(), SessionBusControl::objectPath(),
                                     SessionBusControl::serviceName(), "StatusChanged", &listener,
                                     SLOT(changed(QString, QString))));
    }

    void TearDown() override
    {
        m_served.reset();
        control.reset();
        ModelScenario::TearDown();
    }

    // Another instance (another data folder) on the same bus.
    QDBusConnection connectAnother(const QString& name) { return m_bus.connect(name); }

    QDBusMessage call(const QString& method, const QVariantList& arguments = {})
    {
        QDBusMessage message = QDBusMessage::createMethodCall(
            SessionBusControl::serviceName(), SessionBusControl::objectPath(), SessionBusControl::serviceName(), method);
        message.setArguments(arguments);
        // The service answers on this thread's event loop, which the wait keeps running.
        return m_client.call(message, QDBus::BlockWithGui, 5000);
    }

    // Lets queued status checks run and their signals arrive.
    void settle() { QTest::qWait(50); }

    std::unique_ptr<RemoteControl> control;
    StatusListener listener;
    int windowsShown = 0;

private:
    PrivateBus m_bus;
    std::unique_ptr<SessionBusControl> m_served;
    QDBusConnection m_client{QString()};
};

} // namespace

TEST_F(BusControlScenario, aTimedPauseShowsItsEndAndResumesByItself)
{
    startCamera();
    calibrate();
    frames(1.0);
    settle();
    listener.changes.clear();

    const double pausedAt = clock->wallTime();
    ASSERT_EQ(call("Pause", {1u}).type(), QDBusMessage::ReplyMessage);
    EXPECT_TRUE(model->session().paused());
    ASSERT_TRUE(model->session().pauseUntil());
    EXPECT_DOUBLE_EQ(*model->session().pauseUntil(), pausedAt + 60);
    const QDBusMessage status = call("Status");
    ASSERT_EQ(status.arguments().size(), 5) << status.errorMessage().toStdString();
    EXPECT_EQ(status.arguments()[0].toString(), "paused");
    EXPECT_EQ(status.arguments()[1].toString(), "neutral");
    EXPECT_EQ(status.arguments()[2].toDouble(), -1) << "no score while paused";
    EXPECT_EQ(status.arguments()[3].toString(), "Camera and reminders paused for a little while.");
    EXPECT_EQ(status.arguments()[4].toString(), "user") << "why it is paused";
    settle();
    EXPECT_EQ(listener.changes, (QList<QStringList>{{"paused", "neutral"}}));

    // The Posture page says when (8:00 AM in New York on the scenario's clock).
    PosturePage page(*model);
    page.refresh();
    EXPECT_TRUE(shownTexts(page).contains("Resumes at 8:01 AM EDT")) << shownTexts(page).join(" | ").toStdString();

    clock->advance(59.7);
    model->housekeepingTick();
    EXPECT_TRUE(model->session().paused());
    clock->advance(0.3);
    model->housekeepingTick();
    EXPECT_FALSE(model->session().paused()) << "the pause ends by itself at its end";
    EXPECT_FALSE(model->session().pauseUntil());
    frames(1.0);
    EXPECT_EQ(model->state(), ZoneState::inside);
    settle();
    ASSERT_FALSE(listener.changes.isEmpty());
    EXPECT_EQ(listener.changes.back(), (QStringList{"inside", "green"}));
}

TEST_F(BusControlScenario, refusesPausesOutsideTheRangeOrWithNothingToPause)
{
    startCamera();
    calibrate();
    for (const uint minutes : {0u, 721u}) {
        const QDBusMessage refused = call("Pause", {minutes});
        ASSERT_EQ(refused.type(), QDBusMessage::ErrorMessage) << minutes;
        EXPECT_EQ(refused.errorName(), "org.freedesktop.DBus.Error.InvalidArgs");
        EXPECT_EQ(refused.errorMessage(), "A pause lasts from 1 to 720 minutes.");
    }
    EXPECT_FALSE(model->session().paused());
    EXPECT_EQ(control->answer("pause 0"), "error A pause lasts from 1 to 720 minutes.");

    // A pause the user made keeps going but now ends; Resume ends it now.
    model->togglePause();
    ASSERT_EQ(call("Pause", {720u}).type(), QDBusMessage::ReplyMessage);
    EXPECT_TRUE(model->session().paused());
    EXPECT_DOUBLE_EQ(*model->session().pauseUntil(), clock->wallTime() + 720 * 60);
    ASSERT_EQ(call("Resume").type(), QDBusMessage::ReplyMessage);
    EXPECT_FALSE(model->session().paused());
    EXPECT_FALSE(model->session().pauseUntil());

    model->stop("Camera off. Start whenever you’re ready.");
    const QDBusMessage offline = call("Pause", {5u});
    EXPECT_EQ(offline.errorName(), "org.verticora.Verticora.Error.NotTracking");
    EXPECT_EQ(call("Resume").type(), QDBusMessage::ReplyMessage) << "nothing paused: nothing to do";

    ASSERT_EQ(call("ShowControls").type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(windowsShown, 1);
    EXPECT_EQ(control->answer("pause soon"), "unknown");
}

// One bus name, several data folders: the first instance keeps the name, a later one
// waits for it and takes it over when the first one leaves the bus.
TEST_F(BusControlScenario, aLaterInstanceWaitsForTheNameAndTakesItOver)
{
    startCamera();
    RemoteControl otherControl(*model, {});
    SessionBusControl other(otherControl);
    QDBusConnection otherConnection = connectAnother("verticora-other");
    ASSERT_TRUE(other.publish(otherConnection));
    EXPECT_EQ(call("ShowControls").type(), QDBusMessage::ReplyMessage) << "the first instance still answers";
    EXPECT_EQ(windowsShown, 1);

    QDBusConnection::disconnectFromBus("verticora-service");
    QDBusMessage answer;
    EXPECT_TRUE(eventually([&] {
        answer = call("ShowControls");
        return answer.errorName() == "org.verticora.Verticora.Error.NoWindow"; // the other one has no window
    })) << answer.errorName().toStdString();
}

#include "RemoteControlTest.moc"
