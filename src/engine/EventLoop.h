#pragma once
// The engine's event loop: tasks posted from any thread and timers, run one at a time on the thread
// that drives the loop. The service drives it with run(); the window program lets Qt's loop drive
// it through the wake-up hook and runPending(), so the engine's work runs on the GUI thread there,
// as everything else that touches the monitor does.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

namespace vantor {

class EventLoop {
public:
    using Task = std::function<void()>;
    using TimerId = uint64_t;
    using TimePoint = std::chrono::steady_clock::time_point;

    EventLoop() = default;
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // Thread-safe. Runs `task` on the loop's thread, after what was posted before it.
    void post(Task task);

    // A repeating timer (the first run one interval from now). Loop thread only.
    TimerId startTimer(std::chrono::milliseconds interval, Task task);
    void stopTimer(TimerId id);
    bool timerActive(TimerId id) const;

    // Runs until quit(); quit() is thread-safe and may come before run(). What is left posted stays
    // for a later run() or runPending().
    void run();
    void quit();
    bool quitRequested() const;

    // Runs what is posted and the timers that are due, without waiting. A host loop calls this when
    // woken, and again at nextDeadline().
    void runPending();
    std::optional<TimePoint> nextDeadline() const;

    // Called (on any thread) whenever work was posted or a timer added: a host loop arranges a
    // runPending() call on its own thread. Replacing it waits for a call under way.
    void setWakeup(std::function<void()> wakeup);

    // Drops every posted task and timer (the engine is going away: answers of its worker must not
    // reach it any more).
    void clear();

private:
    struct Timer {
        std::chrono::milliseconds interval;
        TimePoint due;
        Task task;
    };

    void wake();
    bool runOneDueTimer(TimePoint now);

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<Task> m_posted;
    std::map<TimerId, Timer> m_timers;
    TimerId m_nextId = 1;
    bool m_quit = false;
    std::mutex m_wakeupMutex;
    std::function<void()> m_wakeup;
};

}  // namespace vantor
