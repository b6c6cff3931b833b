#include "model/TaskQueue.h"

#include <QMetaObject>

#include <future>
#include <memory>

namespace verticora {

TaskQueue::~TaskQueue()
{
    // Taking the lock orders this destruction after the last post from another thread.
    std::lock_guard lock(m_lock);
    m_tasks.clear();
}

void TaskQueue::post(std::function<void()> task)
{
    std::lock_guard lock(m_lock);
    m_tasks.push_back(std::move(task));
    if (m_wakeUpPending)
        return;
    m_wakeUpPending = true;
    // Under the lock, so that the wake-up's event, made here and deleted on the queue's
    // thread once run, is ordered by this lock too: Qt's own event queue is invisible to
    // ThreadSanitizer.
    QMetaObject::invokeMethod(this, "runPending", Qt::QueuedConnection);
}

void TaskQueue::runPending()
{
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard lock(m_lock);
            if (m_tasks.empty()) {
                m_wakeUpPending = false;
                return;
            }
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        // An exception must not unwind into the event loop: the queue would stop for good,
        // with its wake-up still marked pending. The failed task is dropped; the rest run.
        try {
            task();
        } catch (...) {
        }
    }
}

void TaskQueue::waitUntilIdle()
{
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    post([done] { done->set_value(); });
    finished.wait();
}

} // namespace verticora
