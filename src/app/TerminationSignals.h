#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace verticora {

// Ends the application in order on SIGINT, SIGTERM and SIGHUP and on the session's own
// request to quit: the event loop exits, and the handlers of aboutToQuit answer an update
// request addressed to this instance, stop the camera (which writes the day's progress),
// take the tray icon away and hide every window and reminder.
//
// Qt's quit is only a request: it first closes every window and is dropped when one of
// them stays open. The controls window turns its close into a hide, which stops that
// closing before it reaches the reminders, so with a reminder on screen the request was
// dropped. The event loop is therefore left with QCoreApplication::exit, and a quit request
// reaching the application (the session manager's, or anyone's QCoreApplication::quit) is
// turned into the same exit.
class TerminationSignals : public QObject {
    Q_OBJECT

public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace verticora
