#pragma once
// The platform's codes for the socket failures that tests provoke: errno values on POSIX,
// Winsock's codes on Windows (the socket classes report the platform's own code).

#include <cstdint>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <cerrno>
#endif

namespace vantor::test {

#ifdef _WIN32
inline constexpr int32_t addressInUseCode = WSAEADDRINUSE;
inline constexpr int32_t invalidArgumentCode = WSAEINVAL;
inline constexpr int32_t connectionRefusedCode = WSAECONNREFUSED;
#else
inline constexpr int32_t addressInUseCode = EADDRINUSE;
inline constexpr int32_t invalidArgumentCode = EINVAL;
inline constexpr int32_t connectionRefusedCode = ECONNREFUSED;
#endif

}  // namespace vantor::test
