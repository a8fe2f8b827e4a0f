#include "service/MetricsServer.h"

#include "service/Metrics.h"

#include <httplib.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <sys/socket.h>
#include <utility>
#include <vector>

namespace vantor {

// cpp-httplib's own pool queues every accepted connection without limit: a crowd of idle clients
// took every descriptor of the process. This one has room for a few; while it is full the accept
// loop waits here, and no more connections are taken.
struct MetricsServer::QueueSlot {
    std::mutex mutex;
    ConnectionQueue* queue = nullptr;
};

class MetricsServer::ConnectionQueue final : public httplib::TaskQueue {
public:
    ConnectionQueue(std::size_t threads, std::size_t queued, std::shared_ptr<QueueSlot> slot)
        : m_max(std::max<std::size_t>(queued, 1))
        , m_slot(std::move(slot))
    {
        {
            std::lock_guard lock(m_slot->mutex);
            m_slot->queue = this;
        }
        for (std::size_t i = 0; i < threads; ++i)
            m_threads.emplace_back([this] { work(); });
    }
    ~ConnectionQueue() override
    {
        {
            std::lock_guard lock(m_slot->mutex);
            m_slot->queue = nullptr;
        }
        if (!m_threads.empty() && m_threads.front().joinable())
            shutdown();
    }

    // cpp-httplib 0.11 (Debian 12) has enqueue return nothing, 0.18 (Debian 13) whether the task was
    // taken: it always is here.
    using Enqueued = decltype(std::declval<httplib::TaskQueue&>().enqueue(std::function<void()>()));
    Enqueued enqueue(std::function<void()> fn) override
    {
        {
            std::unique_lock lock(m_mutex);
            m_room.wait(lock, [this] { return m_jobs.size() < m_max || m_releasing; });
            m_jobs.push_back(std::move(fn));
        }
        m_ready.notify_one();
        return static_cast<Enqueued>(true);
    }

    void shutdown() override
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = m_releasing = true;
        }
        m_ready.notify_all();
        m_room.notify_all();
        for (auto& t : m_threads)
            if (t.joinable())
                t.join();
    }

    // The server is being stopped: an accept that waits for room goes on, so the loop can end.
    void release()
    {
        {
            std::lock_guard lock(m_mutex);
            m_releasing = true;
        }
        m_room.notify_all();
    }

private:
    void work()
    {
        for (;;) {
            std::function<void()> fn;
            {
                std::unique_lock lock(m_mutex);
                m_ready.wait(lock, [this] { return !m_jobs.empty() || m_stopping; });
                // Queued connections are served (each within the timeouts) even at the end: a job
                // that is dropped would leave its socket open.
                if (m_jobs.empty())
                    return;
                fn = std::move(m_jobs.front());
                m_jobs.pop_front();
            }
            m_room.notify_one();
            fn();
        }
    }

    const std::size_t m_max;
    const std::shared_ptr<QueueSlot> m_slot;
    std::mutex m_mutex;
    std::condition_variable m_ready, m_room;
    std::deque<std::function<void()>> m_jobs;
    bool m_stopping = false;
    bool m_releasing = false;
    std::vector<std::thread> m_threads;
};

MetricsServer::MetricsServer(std::function<std::string()> source)
    : MetricsServer(std::move(source), Limits{})
{
}

MetricsServer::MetricsServer(std::function<std::string()> source, Limits limits)
    : m_source(std::move(source))
    , m_limits(limits)
{
}

MetricsServer::~MetricsServer()
{
    stop();
}

std::optional<std::string> MetricsServer::start(const ListenAddress& address)
{
    stop();
    auto server = std::make_unique<httplib::Server>();
    const std::size_t threads = std::max<std::size_t>(m_limits.threads, 1);
    auto slot = std::make_shared<QueueSlot>();
    server->new_task_queue = [threads, queued = m_limits.queued, slot] {
        return new ConnectionQueue(threads, queued, slot);
    };
    server->set_read_timeout(m_limits.ioTimeout);
    server->set_write_timeout(m_limits.ioTimeout);
    server->set_keep_alive_timeout(
        std::max<time_t>(1, std::chrono::duration_cast<std::chrono::seconds>(m_limits.ioTimeout).count()));
    // SO_REUSEADDR so that a restart finds its port free at once, but not the library's default
    // SO_REUSEPORT, which would let a second service (or anything else) share the port and take
    // half of the scrapes unseen.
    server->set_socket_options([](socket_t sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        ::fcntl(sock, F_SETFD, FD_CLOEXEC);
    });
    // Nothing here takes a body: a client that sends one is refused before it is read.
    server->set_payload_max_length(1024);
    server->Get("/metrics", [this](const httplib::Request&, httplib::Response& response) {
        response.set_content(m_source(), metricsContentType);
    });
    server->set_exception_handler([](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
        response.status = 500;
        response.set_content("the metrics could not be made\n", "text/plain");
    });

    errno = 0;
    int port = address.port;
    bool bound = false;
    if (address.port == 0) {
        port = server->bind_to_any_port(address.host);
        bound = port > 0;
    } else {
        bound = server->bind_to_port(address.host, address.port);
    }
    if (!bound) {
        const int error = errno;
        return "cannot serve /metrics on " + listenAddressText(address) + ": "
               + (error != 0 ? std::strerror(error) : "the address cannot be listened on");
    }
    m_server = std::move(server);
    m_queue = std::move(slot);
    m_address = address;
    m_port = static_cast<uint16_t>(port);
    m_thread = std::thread([server = m_server.get()] { server->listen_after_bind(); });
    return std::nullopt;
}

void MetricsServer::stop()
{
    if (m_queue) {
        std::lock_guard lock(m_queue->mutex);
        if (m_queue->queue)
            m_queue->queue->release();
    }
    if (m_server)
        m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
    m_server.reset();
    m_queue.reset();
    m_port = 0;
}

}  // namespace vantor
