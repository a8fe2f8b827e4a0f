#pragma once
// One background thread that runs jobs one after another, in the order they were given, and hands
// each job's follow-up back to the owner's thread in that same order, through the poster the owner
// gives (the GUI thread's event queue, an engine's loop). Work that waits on a tool, the network or
// a slow disk goes here, so that the owner's thread never waits on it.

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace vantor {

class OrderedWorker {
public:
    using Poster = std::function<void(std::function<void()>)>;

    // Without a poster the follow-ups run on the worker thread, right after their job.
    explicit OrderedWorker(Poster postBack = {});
    // stop(): jobs not started are dropped; a job that is running is waited for.
    ~OrderedWorker();
    OrderedWorker(const OrderedWorker&) = delete;
    OrderedWorker& operator=(const OrderedWorker&) = delete;

    // Queues `job`; `then` runs through the poster once the job is done.
    void post(std::function<void()> job, std::function<void()> then = {});
    // Waits until every job queued so far has run.
    void waitIdle();
    // Drops the jobs not started and ends the thread once the running job is done.
    void stop();
    // The same, but a running job that would keep the caller waiting is left to finish on its own
    // (the thread is let go): only for jobs that use nothing but what they carry by value.
    void abandon();

private:
    struct State;
    static void loop(std::shared_ptr<State> state);

    std::shared_ptr<State> m_state;
    std::thread m_thread;
};

}  // namespace vantor
