#pragma once

#include <QObject>

#include <deque>
#include <functional>
#include <mutex>

namespace verticora {

// Work handed to the thread this object lives on, run in order from its event loop.
// The tasks travel through this queue's own lock rather than through Qt's event queue,
// so tools such as ThreadSanitizer see every hand-over; Qt only carries the wake-up.
// Pending tasks are dropped with the queue; a task that throws is dropped alone.
class TaskQueue : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;
    ~TaskQueue() override;

    // Any thread.
    void post(std::function<void()> task);
    // Blocks until every task posted before has run. Never on the queue's own thread.
    void waitUntilIdle();

public Q_SLOTS:
    // Runs what is pending; the queue's own thread only.
    void runPending();

private:
    std::mutex m_lock;
    std::deque<std::function<void()>> m_tasks;
    bool m_wakeUpPending = false;
};

} // namespace verticora
