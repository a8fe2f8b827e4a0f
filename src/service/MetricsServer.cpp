#include "service/MetricsServer.h"

#include "service/Metrics.h"

#include <httplib.h>

#include <cerrno>
#include <sys/socket.h>
#include <cstring>

namespace vantor {

MetricsServer::MetricsServer(std::function<std::string()> source) : MetricsServer(std::move(source), Limits{}) {}

MetricsServer::MetricsServer(std::function<std::string()> source, Limits limits)
    : m_source(std::move(source)), m_limits(limits)
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
    server->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    server->set_read_timeout(m_limits.ioTimeout);
    server->set_write_timeout(m_limits.ioTimeout);
    server->set_keep_alive_timeout(std::max<time_t>(1, std::chrono::duration_cast<std::chrono::seconds>(m_limits.ioTimeout).count()));
    // SO_REUSEADDR so that a restart finds its port free at once, but not the library's default
    // SO_REUSEPORT, which would let a second service (or anything else) share the port and take
    // half of the scrapes unseen.
    server->set_socket_options([](socket_t sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
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
    m_address = address;
    m_port = static_cast<uint16_t>(port);
    m_thread = std::thread([server = m_server.get()] { server->listen_after_bind(); });
    return std::nullopt;
}

void MetricsServer::stop()
{
    if (m_server)
        m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
    m_server.reset();
    m_port = 0;
}

}  // namespace vantor
