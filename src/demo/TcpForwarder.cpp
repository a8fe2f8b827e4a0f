#include "demo/TcpForwarder.h"

#include "platform/ThreadGuard.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace vantor::samba {

namespace {

sockaddr_in address(const std::string& ip, uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, ip.c_str(), &a.sin_addr);
    return a;
}

void setNonBlocking(int fd)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// One relayed connection: side 0 the client, side 1 the target. pending[i] waits to be written to
// side i.
struct Relay {
    int fd[2] = {-1, -1};
    std::string pending[2];
    bool eof[2] = {false, false};
    bool dead = false;
    ~Relay()
    {
        for (int f : fd)
            if (f >= 0)
                ::close(f);
    }
};

constexpr std::size_t maxPending = 1u << 20;

}  // namespace

TcpForwarder::TcpForwarder(std::string sourceAddress, uint16_t targetPort, std::string targetAddress)
    : m_source(std::move(sourceAddress))
    , m_targetAddress(std::move(targetAddress))
    , m_targetPort(targetPort)
{
}

TcpForwarder::~TcpForwarder()
{
    stop();
}

bool TcpForwarder::start(std::string& error)
{
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listen < 0) {
        error = std::strerror(errno);
        return false;
    }
    sockaddr_in a = address("127.0.0.1", 0);
    socklen_t len = sizeof a;
    if (::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(m_listen, 16) != 0
        || ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        error = std::strerror(errno);
        ::close(m_listen);
        m_listen = -1;
        return false;
    }
    setNonBlocking(m_listen);
    m_port = ntohs(a.sin_port);
    m_stop = false;
    m_thread = std::thread([this] { runGuarded("a demo client's forwarder", [this] { run(); }); });
    return true;
}

void TcpForwarder::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_listen >= 0) {
        ::close(m_listen);
        m_listen = -1;
    }
}

void TcpForwarder::run()
{
    std::vector<std::unique_ptr<Relay>> relays;
    char buf[65536];
    while (!m_stop) {
        std::vector<pollfd> fds;
        fds.push_back({m_listen, POLLIN, 0});
        for (auto& r : relays)
            for (int side = 0; side < 2; ++side) {
                short events = 0;
                // Read from a side only while the other side keeps up.
                if (!r->eof[side] && r->pending[1 - side].size() < maxPending)
                    events |= POLLIN;
                if (!r->pending[side].empty())
                    events |= POLLOUT;
                // A side with nothing to wait for is left out: a closed one would wake poll at once.
                fds.push_back({events ? r->fd[side] : -1, events, 0});
            }
        // The timeout bounds how long stop() waits.
        if (::poll(fds.data(), fds.size(), 100) <= 0)
            continue;

        const std::size_t polled = relays.size();
        if (fds[0].revents & POLLIN) {
            int client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (client >= 0) {
                auto relay = std::make_unique<Relay>();
                relay->fd[0] = client;
                relay->fd[1] = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                sockaddr_in from = address(m_source, 0);
                sockaddr_in to = address(m_targetAddress, m_targetPort);
                if (relay->fd[1] >= 0 && ::bind(relay->fd[1], reinterpret_cast<sockaddr*>(&from), sizeof from) == 0
                    && ::connect(relay->fd[1], reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
                    setNonBlocking(relay->fd[1]);
                    relays.push_back(std::move(relay));
                }
                // A relay that cannot reach the target closes the client at once (its destructor).
            }
        }

        std::size_t k = 1;
        for (std::size_t i = 0; i < polled; ++i) {
            Relay* r = relays[i].get();
            for (int side = 0; side < 2; ++side, ++k) {
                const short ev = fds[k].revents;
                if (r->dead)
                    continue;
                if (!r->eof[side] && (ev & (POLLIN | POLLHUP | POLLERR))) {
                    ssize_t n = ::recv(r->fd[side], buf, sizeof buf, 0);
                    if (n > 0)
                        r->pending[1 - side].append(buf, static_cast<std::size_t>(n));
                    else if (n == 0)
                        r->eof[side] = true;
                    else if (errno != EAGAIN && errno != EINTR)
                        r->dead = true;
                }
                if (!r->dead && (ev & POLLOUT) && !r->pending[side].empty()) {
                    ssize_t n = ::send(r->fd[side], r->pending[side].data(), r->pending[side].size(), MSG_NOSIGNAL);
                    if (n > 0)
                        r->pending[side].erase(0, static_cast<std::size_t>(n));
                    else if (n < 0 && errno != EAGAIN && errno != EINTR)
                        r->dead = true;
                }
            }
        }
        // A side that has closed ends the relay once what it sent has been passed on: SMB clients
        // and servers never half-close a connection.
        for (auto& r : relays)
            for (int side = 0; side < 2; ++side)
                if (r->eof[side] && r->pending[1 - side].empty())
                    r->dead = true;
        std::erase_if(relays, [](const std::unique_ptr<Relay>& r) { return r->dead; });
    }
}

}  // namespace vantor::samba
