#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace verticora {

// Turns SIGINT and SIGTERM into an orderly quit of the Qt event loop, as at the end of
// the session: an update request addressed to this instance is answered and the daily
// progress written before the process ends.
class TerminationSignals : public QObject {
    Q_OBJECT

public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace verticora
