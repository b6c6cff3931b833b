#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>

namespace verticora {

class RemoteControl;
struct ControlRefusal;

// Verticora on the session bus: the object /org/verticora/Verticora with the interface
// org.verticora.Verticora, under the bus name of the same ID. One instance per data
// folder runs, but a bus name has one owner: the first instance in the session owns it,
// later ones (other data folders) wait in the bus's queue and take it over when the owner
// quits. Every instance serves the object on its own connection all the same.
class SessionBusControl : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.verticora.Verticora")
    // Written out so that every argument, the first result of Status too, has its name.
    Q_CLASSINFO("D-Bus Introspection",
                "  <interface name=\"org.verticora.Verticora\">\n"
                "    <method name=\"ShowControls\"/>\n"
                "    <method name=\"Pause\">\n"
                "      <arg name=\"minutes\" type=\"u\" direction=\"in\"/>\n"
                "    </method>\n"
                "    <method name=\"Resume\"/>\n"
                "    <method name=\"Status\">\n"
                "      <arg name=\"state\" type=\"s\" direction=\"out\"/>\n"
                "      <arg name=\"zone\" type=\"s\" direction=\"out\"/>\n"
                "      <arg name=\"score\" type=\"d\" direction=\"out\"/>\n"
                "      <arg name=\"message\" type=\"s\" direction=\"out\"/>\n"
                "      <arg name=\"pauseReason\" type=\"s\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <signal name=\"StatusChanged\">\n"
                "      <arg name=\"state\" type=\"s\"/>\n"
                "      <arg name=\"zone\" type=\"s\"/>\n"
                "    </signal>\n"
                "  </interface>\n")

public:
    explicit SessionBusControl(RemoteControl& control, QObject* parent = nullptr);

    [[nodiscard]] static QString serviceName();
    [[nodiscard]] static QString objectPath();

    // Serves the object on `bus` and asks for the bus name; true when the object is served.
    bool publish(QDBusConnection bus);

public Q_SLOTS:
    Q_SCRIPTABLE void ShowControls();
    Q_SCRIPTABLE void Pause(uint minutes);
    Q_SCRIPTABLE void Resume();
    // (state, zone, score, message, pauseReason); the score is -1 while there is none,
    // the reason empty while not paused. The reason came last, so older callers that read
    // four values still get theirs.
    Q_SCRIPTABLE QString Status(QString& zone, double& score, QString& message, QString& pauseReason);

Q_SIGNALS:
    Q_SCRIPTABLE void StatusChanged(const QString& state, const QString& zone);

private:
    void refuse(const ControlRefusal& refusal);

    RemoteControl& m_control;
};

} // namespace verticora
