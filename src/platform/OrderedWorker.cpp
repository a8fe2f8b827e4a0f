#include "platform/OrderedWorker.h"

namespace vantor {

// Shared with the thread, so that an abandoned thread still has what it works on.
struct OrderedWorker::State {
    Poster postBack;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::pair<std::function<void()>, std::function<void()>>> jobs;
    bool running = false;  // a job is under way
    bool stopping = false;
};

OrderedWorker::OrderedWorker(Poster postBack)
    : m_state(std::make_shared<State>())
{
    m_state->postBack = std::move(postBack);
    m_thread = std::thread(&OrderedWorker::loop, m_state);
}

OrderedWorker::~OrderedWorker()
{
    stop();
}

void OrderedWorker::post(std::function<void()> job, std::function<void()> then)
{
    std::lock_guard lock(m_state->mutex);
    if (m_state->stopping)
        return;
    m_state->jobs.emplace_back(std::move(job), std::move(then));
    m_state->changed.notify_all();
}

void OrderedWorker::waitIdle()
{
    std::unique_lock lock(m_state->mutex);
    m_state->changed.wait(lock, [this] { return m_state->jobs.empty() && !m_state->running; });
}

void OrderedWorker::stop()
{
    {
        std::lock_guard lock(m_state->mutex);
        m_state->stopping = true;
        m_state->jobs.clear();
        m_state->changed.notify_all();
    }
    if (m_thread.joinable())
        m_thread.join();
}

void OrderedWorker::abandon()
{
    std::unique_lock lock(m_state->mutex);
    m_state->stopping = true;
    m_state->jobs.clear();
    // A follow-up would reach an owner that is going away.
    m_state->postBack = {};
    m_state->changed.notify_all();
    const bool busy = m_state->running;
    lock.unlock();
    if (!m_thread.joinable())
        return;
    if (busy)
        m_thread.detach();
    else
        m_thread.join();
}

void OrderedWorker::loop(std::shared_ptr<State> state)
{
    for (;;) {
        std::pair<std::function<void()>, std::function<void()>> next;
        {
            std::unique_lock lock(state->mutex);
            state->changed.wait(lock, [&] { return state->stopping || !state->jobs.empty(); });
            if (state->stopping)
                return;
            next = std::move(state->jobs.front());
            state->jobs.pop_front();
            state->running = true;
        }
        if (next.first)
            next.first();
        std::function<void()> inlineThen;
        {
            std::lock_guard lock(state->mutex);
            state->running = false;
            if (next.second && !state->stopping) {
                // Posted under the lock: an owner that stops or abandons the worker is never
                // reached after it has said so.
                if (state->postBack)
                    state->postBack(std::move(next.second));
                else
                    inlineThen = std::move(next.second);
            }
            state->changed.notify_all();
        }
        if (inlineThen)
            inlineThen();
    }
}

}  // namespace vantor
