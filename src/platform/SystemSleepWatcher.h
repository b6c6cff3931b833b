#pragma once

#include <QObject>

namespace verticora {

// Tells when the system is about to sleep, from logind's PrepareForSleep signal on the
// system D-Bus. Without a system bus (containers, some test machines) it never fires.
class SystemSleepWatcher : public QObject {
    Q_OBJECT

public:
    explicit SystemSleepWatcher(QObject* parent = nullptr);

    // Whether the system bus could be watched at all.
    [[nodiscard]] bool watching() const { return m_watching; }

Q_SIGNALS:
    void aboutToSleep();

public Q_SLOTS:
    // logind's signal: true before sleeping, false after waking.
    void prepareForSleep(bool start);

private:
    bool m_watching = false;
};

} // namespace verticora
