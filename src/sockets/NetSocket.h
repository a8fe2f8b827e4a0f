#pragma once
// Two thin blocking socket classes over the platform's sockets (POSIX here, Winsock on Windows).
// Every wait for incoming data or connections is bounded by a time-out in whole seconds, so that
// a worker thread wakes up regularly and can look at its run flag.
//
// Each object is created, used and destroyed by one thread; nothing here is shared or locked.
// Failures are reported by the results and the last platform error code in lastError(); nothing
// throws and nothing shows a message.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

namespace vantor {

// A platform socket handle: an int file descriptor on POSIX, a SOCKET on Windows. All bits set is
// the invalid handle on both (POSIX's -1 converts to it).
using SocketHandle = std::uintptr_t;
inline constexpr SocketHandle invalidSocket = ~SocketHandle{0};

// A time-out in seconds with all bits set means "no limit"; every other value, 0 included, is a
// limit of that many seconds (0 polls and returns at once).
inline constexpr uint32_t WAIT_FOREVER = 0xFFFFFFFFu;

// How long one wait may last, and what may end it sooner: a worker thread that must stop promptly
// gives its run flag, and the wait ends (as a time-out) within stopCheckInterval of the flag
// turning false.
struct WaitLimit {
    std::chrono::milliseconds time{-1};  // negative: no limit
    const std::atomic<bool>* keepWaiting = nullptr;  // none: only the time ends it

    bool unlimited() const { return time.count() < 0; }
    // The whole-second limits of the classes' other calls; WAIT_FOREVER is no limit.
    static WaitLimit seconds(uint32_t s);
    // What is left until `deadline` (nothing once it has passed).
    static WaitLimit until(std::chrono::steady_clock::time_point deadline,
                           const std::atomic<bool>* keepWaiting = nullptr);
};
inline constexpr std::chrono::milliseconds stopCheckInterval{50};

// Initialises the platform's socket library; once per process, before any socket is made.
// Always true on POSIX.
bool initializeSockets();

// What the program shows when initializeSockets fails, before it ends without starting.
inline constexpr const char* socketsInitializationFailedText = "Windows sockets initialization failed.";

// The platform's own text for a socket error code.
std::string socketErrorText(int32_t code);

// An IPv4 address in network byte order and a port in host byte order.
struct Ipv4Endpoint {
    uint32_t address = 0;
    uint16_t port = 0;
};

// Dotted-decimal text of an address in network byte order ("127.0.0.1").
std::string ipv4Text(uint32_t address);

// A stream (TCP) socket that can listen and accept, or make one client connection.
class NetSocket {
public:
    NetSocket() = default;
    // Takes ownership of a connection returned by Accept.
    explicit NetSocket(SocketHandle accepted)
        : m_handle(accepted)
    {
    }
    virtual ~NetSocket();

    NetSocket(const NetSocket&) = delete;
    NetSocket& operator=(const NetSocket&) = delete;
    NetSocket(NetSocket&& other) noexcept;
    NetSocket& operator=(NetSocket&& other) noexcept;

    // Creates a listening socket bound to any local address on the port, backlog 5. Port 0 lets the
    // system choose (see LocalPort).
    bool Listen(uint16_t port);
    // The same, bound to one local address in dotted-decimal form (tests bind 127.0.0.1 only).
    bool Listen(uint16_t port, const std::string& localAddress);

    // Waits at most `seconds` for a pending connection and accepts it. The returned handle belongs
    // to the caller (wrap it in a NetSocket); invalidSocket on time-out or failure.
    SocketHandle Accept(uint32_t seconds);
    SocketHandle Accept(const WaitLimit& wait);

    // Creates a stream socket for an outgoing connection, bound to any local address and port.
    bool Create();

    // Connects the created socket to `host` (a host name, or a dotted-decimal address) on `port`.
    // Blocks as long as the system's own connect does.
    bool Connect(uint16_t port, const std::string& host);
    // The same, giving up after `seconds` (a host that does not answer cannot hold a client for
    // minutes). WAIT_FOREVER behaves like the two-argument form.
    bool Connect(uint16_t port, const std::string& host, uint32_t seconds);
    bool Connect(uint16_t port, const std::string& host, const WaitLimit& wait);

    // One send call; returns the count of bytes the system took (which may be fewer than `length`),
    // or -1. Never raises SIGPIPE.
    int32_t Send(const void* buffer, int32_t length);
    // Sends all `length` bytes, going on after partial sends; returns `length`, or -1 when a send
    // fails or the send time-out expires.
    int32_t SendAll(const void* buffer, int32_t length);
    // The same within `wait` as a whole, however slowly the peer reads; the send time-out plays
    // no part. A peer that has not taken everything by then fails the call with a time-out.
    int32_t SendAll(const void* buffer, int32_t length, const WaitLimit& wait);
    // Bounds every later send: a peer that stops reading makes Send/SendAll fail after `seconds`
    // instead of blocking for ever. WAIT_FOREVER removes the bound.
    bool SetSendTimeout(uint32_t seconds);

    // Waits at most `seconds` for data, then one receive of at most `length` bytes. Returns the byte
    // count when it is greater than 0; 0 on time-out, a failed wait, a closed peer or an error
    // (lastReceive() tells which). The bytes are not terminated.
    int32_t Receive(void* buffer, int32_t length, uint32_t seconds);
    int32_t Receive(void* buffer, int32_t length, const WaitLimit& wait);

    enum class ReceiveStatus { Data, TimedOut, Closed, Failed };
    ReceiveStatus lastReceive() const { return m_lastReceive; }

    // Closes the socket now (the destructor does the same).
    void Close();

    // The local port the socket is bound to, 0 when it has none.
    uint16_t LocalPort() const;
    // The other end of a connection; address 0 and port 0 when there is none.
    Ipv4Endpoint PeerAddress() const;

    SocketHandle handle() const { return m_handle; }
    bool isValid() const { return m_handle != invalidSocket; }
    // Last platform error code recorded by Listen, Create, Connect, a failed send or receive.
    int32_t lastError() const { return m_lastError; }

private:
    bool bindNew(uint16_t port, uint32_t address, bool listen);
    void fail();

    SocketHandle m_handle = invalidSocket;
    int32_t m_lastError = 0;
    ReceiveStatus m_lastReceive = ReceiveStatus::TimedOut;
    Ipv4Endpoint m_local;
};

// A datagram (UDP) socket that receives datagrams together with the sender's address.
class NetDatagramSocket {
public:
    NetDatagramSocket() = default;
    virtual ~NetDatagramSocket();

    NetDatagramSocket(const NetDatagramSocket&) = delete;
    NetDatagramSocket& operator=(const NetDatagramSocket&) = delete;

    // Creates a datagram socket with broadcast enabled. Port 0 leaves it unbound (for sending);
    // otherwise it binds to the port on `localAddress` (dotted-decimal), or on any local address
    // when `localAddress` is empty.
    bool Create(const std::string& localAddress, uint16_t port);

    // Waits at most `seconds` for a datagram, then one receive of at most `length` bytes; the
    // sender is kept in senderAddress()/senderText(). Returns the byte count (0 for an empty
    // datagram), 0 on time-out, -1 when the wait or the receive fails. A datagram longer than
    // `length` is cut.
    int32_t ReceiveFrom(void* buffer, int32_t length, uint32_t seconds);
    int32_t ReceiveFrom(void* buffer, int32_t length, const WaitLimit& wait);

    // Sends one datagram to `host` (host name or dotted-decimal) on `port`; returns the count of
    // bytes sent, or -1.
    int32_t SendTo(const void* buffer, int32_t length, const std::string& host, uint16_t port);

    uint16_t LocalPort() const;
    SocketHandle handle() const { return m_handle; }
    bool isValid() const { return m_handle != invalidSocket; }
    int32_t lastError() const { return m_lastError; }
    const Ipv4Endpoint& senderAddress() const { return m_sender; }
    // The sender of the last datagram in dotted-decimal form.
    const std::string& senderText() const { return m_senderText; }

private:
    SocketHandle m_handle = invalidSocket;
    int32_t m_lastError = 0;
    Ipv4Endpoint m_local;
    Ipv4Endpoint m_sender;
    std::string m_senderText;
};

}  // namespace vantor
