#pragma once
// One thread beside the engine's loop for what waits on a tool, the network or a slow disk (the
// enumerations, the report). Tasks run one after another in the order given, so answers come back
// in the order they were asked for.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace vantor {

class Worker {
public:
    Worker();
    // Finishes the task under way, drops the rest and joins.
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    void run(std::function<void()> task);
    // Returns when every task given so far has finished.
    void waitIdle();

private:
    void loop();

    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<std::function<void()>> m_tasks;
    bool m_busy = false;
    bool m_stop = false;
    std::thread m_thread;
};

}  // namespace vantor
