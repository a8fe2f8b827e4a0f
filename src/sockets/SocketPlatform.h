#pragma once
// The few socket calls that differ between POSIX and Winsock. NetSocket.cpp holds the classes'
// logic once; SocketPlatformPosix.cpp (or a Windows file chosen by CMake) implements these.
// Internal to src/sockets.

#include "sockets/NetSocket.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantor::sockets {

enum class Kind { Stream, Datagram };

bool initialize();
std::string errorText(int32_t code);

// The error code of the last failed call on this thread (errno, WSAGetLastError).
int32_t lastError();
// A code meaning "invalid argument" (EINVAL, WSAEINVAL) for failures found before any call.
int32_t invalidArgumentError();
// A code meaning "timed out" (ETIMEDOUT, WSAETIMEDOUT).
int32_t timedOutError();

// A new socket that child processes do not inherit; invalidSocket on failure.
SocketHandle open(Kind kind);
void close(SocketHandle handle);

// Lets a restarted program listen again at once although connections of its previous run are
// still in TIME_WAIT (without letting two listeners share the port).
void allowAddressReuse(SocketHandle handle);
void enableBroadcast(SocketHandle handle);

bool bind(SocketHandle handle, const Ipv4Endpoint& local);
bool listen(SocketHandle handle, int backlog);
SocketHandle accept(SocketHandle handle);
// A wait without limit and without a flag: the system's own blocking connect.
bool connect(SocketHandle handle, const Ipv4Endpoint& remote, const WaitLimit& wait);
bool localEndpoint(SocketHandle handle, Ipv4Endpoint& local);
bool peerEndpoint(SocketHandle handle, Ipv4Endpoint& peer);
bool setSendTimeout(SocketHandle handle, uint32_t seconds);

// > 0 ready, 0 time-out (or the wait's flag turned false), -1 failed.
int waitReadable(SocketHandle handle, const WaitLimit& wait);
int waitWritable(SocketHandle handle, const WaitLimit& wait);

// One call each; -1 on failure. send never raises SIGPIPE.
int64_t send(SocketHandle handle, const void* buffer, std::size_t length);
// After waitWritable: takes what fits without waiting for the peer (possibly fewer bytes).
int64_t sendReady(SocketHandle handle, const void* buffer, std::size_t length);
int64_t recv(SocketHandle handle, void* buffer, std::size_t length);
int64_t recvFrom(SocketHandle handle, void* buffer, std::size_t length, Ipv4Endpoint& sender);
int64_t sendTo(SocketHandle handle, const void* buffer, std::size_t length, const Ipv4Endpoint& to);
// True when the last failure was an interrupted call worth repeating.
bool interrupted(int32_t code);

// Dotted-decimal only.
bool parseIpv4(const std::string& text, uint32_t& address);
// A host name through the resolver (IPv4, first address), else dotted-decimal.
bool resolveIpv4(const std::string& host, uint32_t& address);
std::string formatIpv4(uint32_t address);

// The host name (gethostname), else the system's own computer name; empty when neither is known.
std::string hostName();

}  // namespace vantor::sockets
