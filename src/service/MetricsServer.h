#pragma once
// The service's /metrics over HTTP, served by cpp-httplib on threads of its own: a scrape reads
// only what `source` copies out (atomics and the published snapshot), so it never waits for a poll,
// and a client that is slow or never reads holds one of a few threads for a bounded time, never
// the engine. The server holds at most `threads + queued` connections: while that many are open it
// accepts no more, and the rest wait in the system's backlog (or are refused there). So a crowd
// of idle clients can slow the scrapes, but never take the descriptors the poll's tools need.

#include "base/ListenAddress.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace vantor {

class MetricsServer {
public:
    struct Limits {
        // Scrapes served at once; more connections wait to be read.
        std::size_t threads = 4;
        // Every read and write of a connection, and the wait for a kept-alive connection's next
        // request: a client that stops reading or writing is dropped after it.
        std::chrono::milliseconds ioTimeout{2000};
        // Accepted connections waiting for a thread.
        std::size_t queued = 12;
    };

    // `source` makes the text of one scrape; it is called on the server's threads, several at once.
    explicit MetricsServer(std::function<std::string()> source);
    MetricsServer(std::function<std::string()> source, Limits limits);
    ~MetricsServer();
    MetricsServer(const MetricsServer&) = delete;
    MetricsServer& operator=(const MetricsServer&) = delete;

    // Listens on `address` (port 0: one the system picks) and serves until stop(). The error text
    // when it cannot listen; a running server is stopped first.
    std::optional<std::string> start(const ListenAddress& address);
    // Ends the server; a scrape under way is finished first (within the limits' timeout).
    void stop();
    bool running() const { return m_thread.joinable(); }
    // The port listened on (useful when 0 was asked for); 0 while stopped.
    uint16_t port() const { return m_port; }
    const ListenAddress& address() const { return m_address; }

private:
    class ConnectionQueue;
    struct QueueSlot;

    std::function<std::string()> m_source;
    Limits m_limits;
    std::unique_ptr<httplib::Server> m_server;
    // The queue of the running server (the server makes it when it starts listening).
    std::shared_ptr<QueueSlot> m_queue;
    std::thread m_thread;
    ListenAddress m_address;
    uint16_t m_port = 0;
};

}  // namespace vantor
