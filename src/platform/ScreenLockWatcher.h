#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>

namespace verticora {

// Tells when the user's session is locked and unlocked. On the system bus, logind's
// session object: its Lock and Unlock signals and its LockedHint property; on the session
// bus, the screen savers' ActiveChanged signals (org.freedesktop.ScreenSaver, as KDE,
// Xfce and others offer it, and org.gnome.ScreenSaver). Whichever spoke last is
// believed, so a source that never reports the unlock cannot keep the camera off. Without
// either bus it never fires.
class ScreenLockWatcher : public QObject {
    Q_OBJECT

public:
    // The desktop's own buses.
    explicit ScreenLockWatcher(QObject* parent = nullptr);
    // Given buses (tests); a disconnected one is left alone.
    ScreenLockWatcher(QDBusConnection systemBus, QDBusConnection sessionBus, QObject* parent = nullptr);

    [[nodiscard]] bool locked() const { return m_locked; }

Q_SIGNALS:
    void lockedChanged(bool locked);

private Q_SLOTS:
    void sessionLocked();
    void sessionUnlocked();
    void sessionPropertiesChanged(const QString& interface, const QVariantMap& changed, const QStringList& invalidated);
    void screenSaverActiveChanged(bool active);

private:
    void watchLogind(QDBusConnection bus);
    void watchLogindSession(QDBusConnection bus, const QString& path);
    void watchScreenSavers(QDBusConnection bus);
    // A source's news; `initial` for a state read at start, which a signal that came
    // meanwhile overrides.
    void report(bool locked, bool initial = false);

    bool m_locked = false;
    bool m_heard = false; // a signal came: initial states read later are stale
};

} // namespace verticora
