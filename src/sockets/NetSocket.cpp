#include "sockets/NetSocket.h"

#include "sockets/SocketPlatform.h"

#include <algorithm>
#include <utility>

namespace vantor {

namespace {
constexpr int listenBacklog = 5;
constexpr uint32_t anyAddress = 0;  // INADDR_ANY, the same in either byte order
}  // namespace

bool initializeSockets()
{
    return sockets::initialize();
}

std::string socketErrorText(int32_t code)
{
    return sockets::errorText(code);
}

std::string ipv4Text(uint32_t address)
{
    return sockets::formatIpv4(address);
}

WaitLimit WaitLimit::seconds(uint32_t s)
{
    if (s == WAIT_FOREVER)
        return {};
    return {std::chrono::seconds(s), nullptr};
}

WaitLimit WaitLimit::until(std::chrono::steady_clock::time_point deadline, const std::atomic<bool>* keepWaiting)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return {std::max(left, std::chrono::milliseconds(0)), keepWaiting};
}

// --- NetSocket ------------------------------------------------------------------------------------

NetSocket::~NetSocket()
{
    Close();
}

NetSocket::NetSocket(NetSocket&& other) noexcept
    : m_handle(std::exchange(other.m_handle, invalidSocket))
    , m_lastError(other.m_lastError)
    , m_lastReceive(other.m_lastReceive)
    , m_local(other.m_local)
{
}

NetSocket& NetSocket::operator=(NetSocket&& other) noexcept
{
    if (this != &other) {
        Close();
        m_handle = std::exchange(other.m_handle, invalidSocket);
        m_lastError = other.m_lastError;
        m_lastReceive = other.m_lastReceive;
        m_local = other.m_local;
    }
    return *this;
}

void NetSocket::Close()
{
    sockets::close(m_handle);
    m_handle = invalidSocket;
}

void NetSocket::fail()
{
    m_lastError = sockets::lastError();
    Close();
}

bool NetSocket::bindNew(uint16_t port, uint32_t address, bool listen)
{
    Close();
    m_handle = sockets::open(sockets::Kind::Stream);
    if (m_handle == invalidSocket) {
        m_lastError = sockets::lastError();
        return false;
    }
    if (listen)
        sockets::allowAddressReuse(m_handle);
    m_local = {address, port};
    if (!sockets::bind(m_handle, m_local)) {
        fail();
        return false;
    }
    if (listen && !sockets::listen(m_handle, listenBacklog)) {
        fail();
        return false;
    }
    return true;
}

bool NetSocket::Listen(uint16_t port)
{
    return bindNew(port, anyAddress, true);
}

bool NetSocket::Listen(uint16_t port, const std::string& localAddress)
{
    uint32_t address = 0;
    if (!sockets::parseIpv4(localAddress, address)) {
        Close();
        m_lastError = sockets::invalidArgumentError();
        return false;
    }
    return bindNew(port, address, true);
}

SocketHandle NetSocket::Accept(uint32_t seconds)
{
    return Accept(WaitLimit::seconds(seconds));
}

SocketHandle NetSocket::Accept(const WaitLimit& wait)
{
    if (m_handle == invalidSocket || sockets::waitReadable(m_handle, wait) <= 0)
        return invalidSocket;
    return sockets::accept(m_handle);
}

bool NetSocket::Create()
{
    return bindNew(0, anyAddress, false);
}

bool NetSocket::Connect(uint16_t port, const std::string& host)
{
    return Connect(port, host, WAIT_FOREVER);
}

bool NetSocket::Connect(uint16_t port, const std::string& host, uint32_t seconds)
{
    return Connect(port, host, WaitLimit::seconds(seconds));
}

bool NetSocket::Connect(uint16_t port, const std::string& host, const WaitLimit& wait)
{
    if (m_handle == invalidSocket) {
        m_lastError = sockets::invalidArgumentError();
        return false;
    }
    uint32_t address = 0;
    if (!sockets::resolveIpv4(host, address)) {
        m_lastError = sockets::invalidArgumentError();
        return false;
    }
    if (!sockets::connect(m_handle, {address, port}, wait)) {
        m_lastError = sockets::lastError();
        return false;
    }
    return true;
}

int32_t NetSocket::Send(const void* buffer, int32_t length)
{
    if (m_handle == invalidSocket || length < 0)
        return -1;
    const int64_t sent = sockets::send(m_handle, buffer, static_cast<std::size_t>(length));
    if (sent < 0)
        m_lastError = sockets::lastError();
    return static_cast<int32_t>(sent);
}

int32_t NetSocket::SendAll(const void* buffer, int32_t length)
{
    if (m_handle == invalidSocket || length < 0)
        return -1;
    const auto* bytes = static_cast<const char*>(buffer);
    int32_t done = 0;
    while (done < length) {
        const int64_t sent = sockets::send(m_handle, bytes + done, static_cast<std::size_t>(length - done));
        if (sent > 0) {
            done += static_cast<int32_t>(sent);
            continue;
        }
        const int32_t code = sent < 0 ? sockets::lastError() : sockets::timedOutError();
        if (sent < 0 && sockets::interrupted(code))
            continue;
        m_lastError = code;
        return -1;
    }
    return length;
}

int32_t NetSocket::SendAll(const void* buffer, int32_t length, const WaitLimit& wait)
{
    if (m_handle == invalidSocket || length < 0)
        return -1;
    using Clock = std::chrono::steady_clock;
    const auto deadline = wait.unlimited() ? Clock::time_point::max() : Clock::now() + wait.time;
    const auto* bytes = static_cast<const char*>(buffer);
    int32_t done = 0;
    while (done < length) {
        const WaitLimit left = wait.unlimited() ? WaitLimit{std::chrono::milliseconds(-1), wait.keepWaiting}
                                                : WaitLimit::until(deadline, wait.keepWaiting);
        const int ready = sockets::waitWritable(m_handle, left);
        if (ready <= 0) {
            m_lastError = ready == 0 ? sockets::timedOutError() : sockets::lastError();
            return -1;
        }
        const int64_t sent = sockets::sendReady(m_handle, bytes + done, static_cast<std::size_t>(length - done));
        if (sent < 0) {
            const int32_t code = sockets::lastError();
            if (sockets::interrupted(code))
                continue;
            m_lastError = code;
            return -1;
        }
        done += static_cast<int32_t>(sent);
    }
    return length;
}

bool NetSocket::SetSendTimeout(uint32_t seconds)
{
    if (m_handle == invalidSocket || !sockets::setSendTimeout(m_handle, seconds)) {
        m_lastError = m_handle == invalidSocket ? sockets::invalidArgumentError() : sockets::lastError();
        return false;
    }
    return true;
}

int32_t NetSocket::Receive(void* buffer, int32_t length, uint32_t seconds)
{
    return Receive(buffer, length, WaitLimit::seconds(seconds));
}

int32_t NetSocket::Receive(void* buffer, int32_t length, const WaitLimit& wait)
{
    if (m_handle == invalidSocket || length <= 0) {
        m_lastReceive = ReceiveStatus::Failed;
        return 0;
    }
    const int ready = sockets::waitReadable(m_handle, wait);
    if (ready <= 0) {
        m_lastReceive = ready == 0 ? ReceiveStatus::TimedOut : ReceiveStatus::Failed;
        if (ready < 0)
            m_lastError = sockets::lastError();
        return 0;
    }
    const int64_t got = sockets::recv(m_handle, buffer, static_cast<std::size_t>(length));
    if (got > 0) {
        m_lastReceive = ReceiveStatus::Data;
        return static_cast<int32_t>(got);
    }
    if (got < 0) {
        m_lastError = sockets::lastError();
        m_lastReceive = ReceiveStatus::Failed;
    } else {
        m_lastReceive = ReceiveStatus::Closed;
    }
    return 0;
}

uint16_t NetSocket::LocalPort() const
{
    Ipv4Endpoint local;
    if (m_handle == invalidSocket || !sockets::localEndpoint(m_handle, local))
        return 0;
    return local.port;
}

Ipv4Endpoint NetSocket::PeerAddress() const
{
    Ipv4Endpoint peer;
    if (m_handle == invalidSocket || !sockets::peerEndpoint(m_handle, peer))
        return {};
    return peer;
}

// --- NetDatagramSocket ----------------------------------------------------------------------------

NetDatagramSocket::~NetDatagramSocket()
{
    sockets::close(m_handle);
}

bool NetDatagramSocket::Create(const std::string& localAddress, uint16_t port)
{
    sockets::close(m_handle);
    m_handle = sockets::open(sockets::Kind::Datagram);
    if (m_handle == invalidSocket) {
        m_lastError = sockets::lastError();
        return false;
    }
    sockets::enableBroadcast(m_handle);
    if (port == 0)
        return true;

    uint32_t address = anyAddress;
    bool ok = localAddress.empty() || sockets::parseIpv4(localAddress, address);
    int32_t code = sockets::invalidArgumentError();
    if (ok) {
        m_local = {address, port};
        ok = sockets::bind(m_handle, m_local);
        if (!ok)
            code = sockets::lastError();
    }
    if (!ok) {
        m_lastError = code;
        sockets::close(m_handle);
        m_handle = invalidSocket;
    }
    return ok;
}

int32_t NetDatagramSocket::ReceiveFrom(void* buffer, int32_t length, uint32_t seconds)
{
    return ReceiveFrom(buffer, length, WaitLimit::seconds(seconds));
}

int32_t NetDatagramSocket::ReceiveFrom(void* buffer, int32_t length, const WaitLimit& wait)
{
    if (m_handle == invalidSocket || length < 0) {
        m_lastError = sockets::invalidArgumentError();
        return -1;
    }
    const int ready = sockets::waitReadable(m_handle, wait);
    if (ready == 0)
        return 0;
    if (ready < 0) {
        m_lastError = sockets::lastError();
        return -1;
    }
    Ipv4Endpoint sender;
    const int64_t got = sockets::recvFrom(m_handle, buffer, static_cast<std::size_t>(length), sender);
    if (got < 0) {
        m_lastError = sockets::lastError();
        return -1;
    }
    m_sender = sender;
    m_senderText = sockets::formatIpv4(sender.address);
    return static_cast<int32_t>(got);
}

int32_t NetDatagramSocket::SendTo(const void* buffer, int32_t length, const std::string& host, uint16_t port)
{
    if (m_handle == invalidSocket || length < 0) {
        m_lastError = sockets::invalidArgumentError();
        return -1;
    }
    uint32_t address = 0;
    if (!sockets::resolveIpv4(host, address)) {
        m_lastError = sockets::invalidArgumentError();
        return -1;
    }
    const int64_t sent = sockets::sendTo(m_handle, buffer, static_cast<std::size_t>(length), {address, port});
    if (sent < 0)
        m_lastError = sockets::lastError();
    return static_cast<int32_t>(sent);
}

uint16_t NetDatagramSocket::LocalPort() const
{
    Ipv4Endpoint local;
    if (m_handle == invalidSocket || !sockets::localEndpoint(m_handle, local))
        return 0;
    return local.port;
}

}  // namespace vantor
