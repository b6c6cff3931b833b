#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace verticora {

// Turns SIGINT and SIGTERM into an orderly quit of the Qt event loop, so the daily
// progress is written before the process ends.
class TerminationSignals : public QObject {
    Q_OBJECT

public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace verticora
