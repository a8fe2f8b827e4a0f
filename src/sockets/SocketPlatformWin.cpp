// Winsock behind the socket classes.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>
#include <windows.h>

#include "sockets/SocketPlatform.h"
#include "platform/netapi/AnsiText.h"
#include "platform/netapi/WindowsError.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <climits>

namespace vantor::sockets {
namespace {

SOCKET sock(SocketHandle handle)
{
    return static_cast<SOCKET>(handle);
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

// Winsock takes int lengths.
int clampLength(std::size_t length)
{
    return static_cast<int>(std::min<std::size_t>(length, INT_MAX));
}

// WSAStartup once per process. The program calls initialize() at start-up and stops when it
// fails; the classes ask again before their first call, so that code which never went through
// the program's start (the tests, the console's library) works as it does on POSIX.
bool started()
{
    static const bool ok = [] {
        WSADATA data{};
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
            return false;
        if (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 2) {
            WSACleanup();
            return false;
        }
        return true;
    }();
    if (!ok)
        WSASetLastError(WSANOTINITIALISED);
    return ok;
}

// select with a time-out in pieces: a wait with a flag looks at it between pieces. Winsock's
// select has no signals to be interrupted by.
int waitFor(SocketHandle handle, bool forWrite, const WaitLimit& wait)
{
    using Clock = std::chrono::steady_clock;
    const bool forever = wait.unlimited();
    const auto deadline = Clock::now() + (forever ? std::chrono::milliseconds(0) : wait.time);
    for (;;) {
        if (wait.keepWaiting && !wait.keepWaiting->load())
            return 0;
        fd_set set;
        FD_ZERO(&set);
        FD_SET(sock(handle), &set);
        fd_set failed;
        FD_ZERO(&failed);
        FD_SET(sock(handle), &failed);
        long long timeoutMs = -1;
        if (!forever) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            timeoutMs = left <= 0 ? 0 : std::min<long long>(left, LONG_MAX / 1000);
        }
        if (wait.keepWaiting && (timeoutMs < 0 || timeoutMs > stopCheckInterval.count()))
            timeoutMs = stopCheckInterval.count();
        timeval tv{};
        timeval* limit = nullptr;
        if (timeoutMs >= 0) {
            tv.tv_sec = static_cast<long>(timeoutMs / 1000);
            tv.tv_usec = static_cast<long>((timeoutMs % 1000) * 1000);
            limit = &tv;
        }
        // A failed non-blocking connect shows in the exception set, not the write set.
        const int r =
            forWrite ? ::select(0, nullptr, &set, &failed, limit) : ::select(0, &set, nullptr, nullptr, limit);
        if (r == SOCKET_ERROR)
            return -1;
        if (r > 0)
            return r;
        if (!forever && Clock::now() >= deadline)
            return 0;
    }
}

}  // namespace

bool initialize()
{
    return started();
}

std::string errorText(int32_t code)
{
    return windows::windowsErrorText(static_cast<uint32_t>(code));
}

int32_t lastError()
{
    return WSAGetLastError();
}

int32_t invalidArgumentError()
{
    return WSAEINVAL;
}

int32_t timedOutError()
{
    return WSAETIMEDOUT;
}

SocketHandle open(Kind kind)
{
    if (!started())
        return invalidSocket;
    const int type = kind == Kind::Stream ? SOCK_STREAM : SOCK_DGRAM;
    SOCKET s = ::WSASocketW(AF_INET, type, 0, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET && WSAGetLastError() == WSAEINVAL) {
        // Systems before Windows 7 SP1 refuse the flag: make the socket, then unset inheritance.
        s = ::WSASocketW(AF_INET, type, 0, nullptr, 0, WSA_FLAG_OVERLAPPED);
        if (s != INVALID_SOCKET)
            SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    }
    if (s == INVALID_SOCKET)
        return invalidSocket;
    if (kind == Kind::Datagram) {
        // Otherwise an ICMP "port unreachable" for a datagram this socket sent makes its next
        // recvfrom fail with WSAECONNRESET, and the discovery loop would see a failure.
        BOOL report = FALSE;
        DWORD returned = 0;
        ::WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
    }
    return static_cast<SocketHandle>(s);
}

void close(SocketHandle handle)
{
    if (handle != invalidSocket)
        ::closesocket(sock(handle));
}

void allowAddressReuse(SocketHandle handle)
{
    // Windows lets a listener bind while connections of an earlier run are in TIME_WAIT anyway;
    // SO_REUSEADDR would let a second listener take the port over. Ask for the opposite.
    BOOL one = TRUE;
    ::setsockopt(sock(handle), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one), sizeof one);
}

void enableBroadcast(SocketHandle handle)
{
    BOOL one = TRUE;
    ::setsockopt(sock(handle), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&one), sizeof one);
}

bool bind(SocketHandle handle, const Ipv4Endpoint& local)
{
    const sockaddr_in sa = toSockaddr(local);
    return ::bind(sock(handle), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
}

bool listen(SocketHandle handle, int backlog)
{
    return ::listen(sock(handle), backlog) == 0;
}

SocketHandle accept(SocketHandle handle)
{
    const SOCKET s = ::accept(sock(handle), nullptr, nullptr);
    if (s == INVALID_SOCKET)
        return invalidSocket;
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return static_cast<SocketHandle>(s);
}

bool connect(SocketHandle handle, const Ipv4Endpoint& remote, const WaitLimit& wait)
{
    const sockaddr_in sa = toSockaddr(remote);
    const auto* addr = reinterpret_cast<const sockaddr*>(&sa);
    if (wait.unlimited() && !wait.keepWaiting)
        return ::connect(sock(handle), addr, sizeof sa) == 0;

    u_long nonBlocking = 1;
    if (::ioctlsocket(sock(handle), FIONBIO, &nonBlocking) != 0)
        return false;
    bool connected = ::connect(sock(handle), addr, sizeof sa) == 0;
    int error = connected ? 0 : WSAGetLastError();
    if (!connected && error == WSAEWOULDBLOCK) {
        const int w = waitFor(handle, true, wait);
        if (w > 0) {
            int len = sizeof error;
            if (::getsockopt(sock(handle), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) != 0)
                error = WSAGetLastError();
            connected = error == 0;
        } else {
            error = w == 0 ? WSAETIMEDOUT : WSAGetLastError();
        }
    }
    u_long blocking = 0;
    ::ioctlsocket(sock(handle), FIONBIO, &blocking);
    WSASetLastError(error);
    return connected;
}

bool localEndpoint(SocketHandle handle, Ipv4Endpoint& local)
{
    sockaddr_in sa{};
    int len = sizeof sa;
    if (::getsockname(sock(handle), reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return false;
    local = fromSockaddr(sa);
    return true;
}

bool peerEndpoint(SocketHandle handle, Ipv4Endpoint& peer)
{
    sockaddr_in sa{};
    int len = sizeof sa;
    if (::getpeername(sock(handle), reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return false;
    peer = fromSockaddr(sa);
    return true;
}

bool setSendTimeout(SocketHandle handle, uint32_t seconds)
{
    // Milliseconds, 0 meaning "no limit": a limit of 0 seconds is taken as the shortest one.
    DWORD ms = 0;
    if (seconds == 0)
        ms = 1;
    else if (seconds != WAIT_FOREVER)
        ms = seconds > MAXDWORD / 1000 ? MAXDWORD - 1 : seconds * 1000;
    return ::setsockopt(sock(handle), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms) == 0;
}

int waitReadable(SocketHandle handle, const WaitLimit& wait)
{
    return waitFor(handle, false, wait);
}

int waitWritable(SocketHandle handle, const WaitLimit& wait)
{
    return waitFor(handle, true, wait);
}

int64_t send(SocketHandle handle, const void* buffer, std::size_t length)
{
    // At most 64 KiB per call (the callers go on after a partial send). Wine's blocking send of a
    // large buffer waits for ever once the peer has reset the connection; a buffer that fits the
    // socket's send space returns at once and the next call sees the reset.
    constexpr std::size_t chunk = 64 * 1024;
    const int r = ::send(sock(handle), static_cast<const char*>(buffer), clampLength(std::min(length, chunk)), 0);
    return r == SOCKET_ERROR ? -1 : r;
}

int64_t sendReady(SocketHandle handle, const void* buffer, std::size_t length)
{
    // Non-blocking for this one call: a blocking send would wait until all of it is taken.
    u_long nonBlocking = 1;
    if (::ioctlsocket(sock(handle), FIONBIO, &nonBlocking) != 0)
        return -1;
    const int r = ::send(sock(handle), static_cast<const char*>(buffer), clampLength(length), 0);
    const int error = r == SOCKET_ERROR ? WSAGetLastError() : 0;
    u_long blocking = 0;
    ::ioctlsocket(sock(handle), FIONBIO, &blocking);
    if (r != SOCKET_ERROR)
        return r;
    WSASetLastError(error);
    return error == WSAEWOULDBLOCK ? 0 : -1;
}

int64_t recv(SocketHandle handle, void* buffer, std::size_t length)
{
    const int r = ::recv(sock(handle), static_cast<char*>(buffer), clampLength(length), 0);
    return r == SOCKET_ERROR ? -1 : r;
}

int64_t recvFrom(SocketHandle handle, void* buffer, std::size_t length, Ipv4Endpoint& sender)
{
    sockaddr_in sa{};
    int len = sizeof sa;
    const int size = clampLength(length);
    const int r = ::recvfrom(sock(handle), static_cast<char*>(buffer), size, 0, reinterpret_cast<sockaddr*>(&sa), &len);
    if (r == SOCKET_ERROR) {
        // Winsock reports a datagram longer than the buffer as an error after filling the buffer;
        // POSIX cuts it silently, and the callers expect the cut datagram.
        if (WSAGetLastError() != WSAEMSGSIZE)
            return -1;
        sender = fromSockaddr(sa);
        return size;
    }
    sender = fromSockaddr(sa);
    return r;
}

int64_t sendTo(SocketHandle handle, const void* buffer, std::size_t length, const Ipv4Endpoint& to)
{
    const sockaddr_in sa = toSockaddr(to);
    const int r = ::sendto(sock(handle), static_cast<const char*>(buffer), clampLength(length), 0,
                           reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    return r == SOCKET_ERROR ? -1 : r;
}

bool interrupted(int32_t code)
{
    return code == WSAEINTR;
}

bool parseIpv4(const std::string& text, uint32_t& address)
{
    if (!started())
        return false;
    in_addr a{};
    if (::inet_pton(AF_INET, text.c_str(), &a) != 1)
        return false;
    address = a.s_addr;
    return true;
}

bool resolveIpv4(const std::string& host, uint32_t& address)
{
    if (!started())
        return false;
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
    // Pure formatting: no Winsock call, so no start-up needed.
    const auto* b = reinterpret_cast<const unsigned char*>(&address);
    return std::to_string(b[0]) + '.' + std::to_string(b[1]) + '.' + std::to_string(b[2]) + '.' + std::to_string(b[3]);
}

std::string hostName()
{
    // The DNS host name, as gethostname gives it, but in UTF-16 so that no letter is lost.
    wchar_t name[256] = {};
    DWORD size = static_cast<DWORD>(std::size(name));
    if (GetComputerNameExW(ComputerNameDnsHostname, name, &size) && size > 0)
        return windows::wideToUtf8(std::wstring_view(name, size), std::string::npos);
    size = static_cast<DWORD>(std::size(name));
    if (GetComputerNameW(name, &size))
        return windows::wideToUtf8(std::wstring_view(name, size), std::string::npos);
    return {};
}

}  // namespace vantor::sockets
