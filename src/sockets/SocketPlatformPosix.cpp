// POSIX sockets behind the socket classes.
#include "sockets/SocketPlatform.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace vantor::sockets {
namespace {

int fd(SocketHandle handle)
{
    return static_cast<int>(handle);
}

SocketHandle toHandle(int fd)
{
    return fd < 0 ? invalidSocket : static_cast<SocketHandle>(fd);
}

sockaddr_in toSockaddr(const Ipv4Endpoint& endpoint)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(endpoint.port);
    sa.sin_addr.s_addr = endpoint.address;
    return sa;
}

Ipv4Endpoint fromSockaddr(const sockaddr_in& sa)
{
    return {sa.sin_addr.s_addr, ntohs(sa.sin_port)};
}

// poll takes milliseconds as an int; long waits go in pieces, an interrupted wait goes on with the
// time that is left, and a wait with a flag looks at it between pieces.
int waitFor(int descriptor, short events, const WaitLimit& wait)
{
    using Clock = std::chrono::steady_clock;
    const bool forever = wait.unlimited();
    const auto deadline = Clock::now() + (forever ? std::chrono::milliseconds(0) : wait.time);
    for (;;) {
        if (wait.keepWaiting && !wait.keepWaiting->load())
            return 0;
        long long timeoutMs = -1;
        if (!forever) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            timeoutMs = left <= 0 ? 0 : std::min<long long>(left, INT_MAX);
        }
        if (wait.keepWaiting && (timeoutMs < 0 || timeoutMs > stopCheckInterval.count()))
            timeoutMs = stopCheckInterval.count();
        pollfd p{descriptor, events, 0};
        const int r = ::poll(&p, 1, static_cast<int>(timeoutMs));
        if (r > 0)
            return r;
        if (r < 0 && errno != EINTR)
            return -1;
        if (r == 0 && !forever && Clock::now() >= deadline)
            return 0;
    }
}

}  // namespace

bool initialize()
{
    return true;
}

std::string errorText(int32_t code)
{
    return std::strerror(code);
}

int32_t lastError()
{
    return errno;
}

int32_t invalidArgumentError()
{
    return EINVAL;
}

int32_t timedOutError()
{
    return ETIMEDOUT;
}

SocketHandle open(Kind kind)
{
    const int type = kind == Kind::Stream ? SOCK_STREAM : SOCK_DGRAM;
    return toHandle(::socket(AF_INET, type | SOCK_CLOEXEC, 0));
}

void close(SocketHandle handle)
{
    if (handle != invalidSocket)
        ::close(fd(handle));
}

void allowAddressReuse(SocketHandle handle)
{
    int one = 1;
    ::setsockopt(fd(handle), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
}

void enableBroadcast(SocketHandle handle)
{
    int one = 1;
    ::setsockopt(fd(handle), SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
}

bool bind(SocketHandle handle, const Ipv4Endpoint& local)
{
    const sockaddr_in sa = toSockaddr(local);
    return ::bind(fd(handle), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
}

bool listen(SocketHandle handle, int backlog)
{
    return ::listen(fd(handle), backlog) == 0;
}

SocketHandle accept(SocketHandle handle)
{
    int r;
    do {
        r = ::accept4(fd(handle), nullptr, nullptr, SOCK_CLOEXEC);
    } while (r < 0 && errno == EINTR);
    return toHandle(r);
}

bool connect(SocketHandle handle, const Ipv4Endpoint& remote, const WaitLimit& wait)
{
    const sockaddr_in sa = toSockaddr(remote);
    const auto* addr = reinterpret_cast<const sockaddr*>(&sa);
    if (wait.unlimited() && !wait.keepWaiting)
        return ::connect(fd(handle), addr, sizeof sa) == 0;

    const int flags = ::fcntl(fd(handle), F_GETFL);
    if (flags < 0 || ::fcntl(fd(handle), F_SETFL, flags | O_NONBLOCK) < 0)
        return false;
    bool connected = ::connect(fd(handle), addr, sizeof sa) == 0;
    int error = connected ? 0 : errno;
    if (!connected && (error == EINPROGRESS || error == EINTR)) {
        const int w = waitFor(fd(handle), POLLOUT, wait);
        if (w > 0) {
            socklen_t len = sizeof error;
            if (::getsockopt(fd(handle), SOL_SOCKET, SO_ERROR, &error, &len) < 0)
                error = errno;
            connected = error == 0;
        } else {
            error = w == 0 ? ETIMEDOUT : errno;
        }
    }
    ::fcntl(fd(handle), F_SETFL, flags);
    errno = error;
    return connected;
}

bool localEndpoint(SocketHandle handle, Ipv4Endpoint& local)
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getsockname(fd(handle), reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return false;
    local = fromSockaddr(sa);
    return true;
}

bool peerEndpoint(SocketHandle handle, Ipv4Endpoint& peer)
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getpeername(fd(handle), reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return false;
    peer = fromSockaddr(sa);
    return true;
}

bool setSendTimeout(SocketHandle handle, uint32_t seconds)
{
    timeval tv{};
    if (seconds != WAIT_FOREVER)
        tv.tv_sec = static_cast<time_t>(seconds);
    // Zero means "no limit" to the system; a limit of 0 seconds is taken as the shortest one.
    if (seconds == 0)
        tv.tv_usec = 1000;
    return ::setsockopt(fd(handle), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0;
}

int waitReadable(SocketHandle handle, const WaitLimit& wait)
{
    return waitFor(fd(handle), POLLIN, wait);
}

int waitWritable(SocketHandle handle, const WaitLimit& wait)
{
    return waitFor(fd(handle), POLLOUT, wait);
}

int64_t sendReady(SocketHandle handle, const void* buffer, std::size_t length)
{
    const int64_t r = ::send(fd(handle), buffer, length, MSG_NOSIGNAL | MSG_DONTWAIT);
    return r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : r;
}

int64_t send(SocketHandle handle, const void* buffer, std::size_t length)
{
    return ::send(fd(handle), buffer, length, MSG_NOSIGNAL);
}

int64_t recv(SocketHandle handle, void* buffer, std::size_t length)
{
    int64_t r;
    do {
        r = ::recv(fd(handle), buffer, length, 0);
    } while (r < 0 && errno == EINTR);
    return r;
}

int64_t recvFrom(SocketHandle handle, void* buffer, std::size_t length, Ipv4Endpoint& sender)
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    int64_t r;
    do {
        r = ::recvfrom(fd(handle), buffer, length, 0, reinterpret_cast<sockaddr*>(&sa), &len);
    } while (r < 0 && errno == EINTR);
    if (r >= 0)
        sender = fromSockaddr(sa);
    return r;
}

int64_t sendTo(SocketHandle handle, const void* buffer, std::size_t length, const Ipv4Endpoint& to)
{
    const sockaddr_in sa = toSockaddr(to);
    return ::sendto(fd(handle), buffer, length, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
}

bool interrupted(int32_t code)
{
    return code == EINTR;
}

bool parseIpv4(const std::string& text, uint32_t& address)
{
    in_addr a{};
    if (::inet_pton(AF_INET, text.c_str(), &a) != 1)
        return false;
    address = a.s_addr;
    return true;
}

bool resolveIpv4(const std::string& host, uint32_t& address)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (!host.empty() && ::getaddrinfo(host.c_str(), nullptr, &hints, &result) == 0 && result) {
        address = reinterpret_cast<const sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
        ::freeaddrinfo(result);
        return true;
    }
    if (result)
        ::freeaddrinfo(result);
    return parseIpv4(host, address);
}

std::string formatIpv4(uint32_t address)
{
    char text[INET_ADDRSTRLEN] = {};
    in_addr a{};
    a.s_addr = address;
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

std::string hostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) == 0 && name[0] != '\0')
        return name;
    utsname u{};
    if (::uname(&u) == 0)
        return u.nodename;
    return {};
}

}  // namespace vantor::sockets
