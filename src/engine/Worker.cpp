#include "engine/Worker.h"

namespace vantor {

Worker::Worker()
    : m_thread([this] { loop(); })
{
}

Worker::~Worker()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        m_tasks.clear();
    }
    m_cv.notify_all();
    m_thread.join();
}

void Worker::run(std::function<void()> task)
{
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_cv.notify_all();
}

void Worker::waitIdle()
{
    std::unique_lock lock(m_mutex);
    m_cv.wait(lock, [this] { return m_tasks.empty() && !m_busy; });
}

void Worker::loop()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_cv.wait(lock, [this] { return m_stop || !m_tasks.empty(); });
        if (m_stop)
            return;
        auto task = std::move(m_tasks.front());
        m_tasks.pop_front();
        m_busy = true;
        lock.unlock();
        task();
        lock.lock();
        m_busy = false;
        m_cv.notify_all();
    }
}

}  // namespace vantor
