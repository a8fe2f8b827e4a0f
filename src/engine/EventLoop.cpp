#include "engine/EventLoop.h"

namespace vantor {

void EventLoop::post(Task task)
{
    {
        std::lock_guard lock(m_mutex);
        m_posted.push_back(std::move(task));
    }
    wake();
}

void EventLoop::setWakeup(std::function<void()> wakeup)
{
    std::lock_guard lock(m_wakeupMutex);
    m_wakeup = std::move(wakeup);
}

void EventLoop::wake()
{
    m_cv.notify_all();
    std::lock_guard lock(m_wakeupMutex);
    if (m_wakeup)
        m_wakeup();
}

EventLoop::TimerId EventLoop::startTimer(std::chrono::milliseconds interval, Task task)
{
    TimerId id;
    {
        std::lock_guard lock(m_mutex);
        id = m_nextId++;
        m_timers[id] = {interval, std::chrono::steady_clock::now() + interval, std::move(task)};
    }
    wake();
    return id;
}

void EventLoop::stopTimer(TimerId id)
{
    std::lock_guard lock(m_mutex);
    m_timers.erase(id);
}

bool EventLoop::timerActive(TimerId id) const
{
    std::lock_guard lock(m_mutex);
    return m_timers.count(id) > 0;
}

void EventLoop::quit()
{
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    wake();
}

bool EventLoop::quitRequested() const
{
    std::lock_guard lock(m_mutex);
    return m_quit;
}

std::optional<EventLoop::TimePoint> EventLoop::nextDeadline() const
{
    std::lock_guard lock(m_mutex);
    std::optional<TimePoint> next;
    for (const auto& [id, t] : m_timers)
        if (!next || t.due < *next)
            next = t.due;
    return next;
}

bool EventLoop::runOneDueTimer(TimePoint now)
{
    Task task;
    {
        std::lock_guard lock(m_mutex);
        auto due = m_timers.end();
        for (auto it = m_timers.begin(); it != m_timers.end(); ++it)
            if (it->second.due <= now && (due == m_timers.end() || it->second.due < due->second.due))
                due = it;
        if (due == m_timers.end())
            return false;
        // A tick that comes late is not made up for: the next one is an interval from now, as a
        // busy poll must not be followed by a burst of polls.
        due->second.due = now + due->second.interval;
        task = due->second.task;
    }
    task();
    return true;
}

void EventLoop::runPending()
{
    // Only what is there now: a task that posts another leaves it for the next round, so a host
    // loop gets its turn between them.
    std::deque<Task> batch;
    {
        std::lock_guard lock(m_mutex);
        batch.swap(m_posted);
    }
    for (auto& task : batch) {
        if (quitRequested())
            break;
        task();
    }
    const TimePoint now = std::chrono::steady_clock::now();
    // A timer that ran is next due an interval later, so each runs at most once here; the bound
    // only guards against timers that keep adding timers.
    for (int i = 0; i < 256 && !quitRequested() && runOneDueTimer(now); ++i) { }
}

void EventLoop::run()
{
    struct QuitReset {
        EventLoop& loop;
        ~QuitReset()
        {
            std::lock_guard lock(loop.m_mutex);
            loop.m_quit = false;
        }
    } reset{*this};
    while (!quitRequested()) {
        runPending();
        std::unique_lock lock(m_mutex);
        if (m_quit || !m_posted.empty())
            continue;
        std::optional<TimePoint> next;
        for (const auto& [id, t] : m_timers)
            if (!next || t.due < *next)
                next = t.due;
        if (next)
            m_cv.wait_until(lock, *next, [this] { return m_quit || !m_posted.empty(); });
        else
            m_cv.wait(lock, [this] { return m_quit || !m_posted.empty(); });
    }
}

void EventLoop::clear()
{
    std::lock_guard lock(m_mutex);
    m_posted.clear();
    m_timers.clear();
}

}  // namespace vantor
