#pragma once

#include <QObject>

#include <functional>
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

    // What a signal does instead of quitting the event loop at once.
    void setQuit(std::function<void()> quit) { m_quit = std::move(quit); }

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::function<void()> m_quit;
};

} // namespace verticora
