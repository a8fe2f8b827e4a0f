#pragma once
// An address and port a server listens on, as an administrator writes it: "127.0.0.1:36874",
// "[::1]:36874", "0.0.0.0:36874". Literal addresses only: a name would be looked up at every
// start, and a server that listens somewhere else than the firewall expects is worse than one
// that refuses to start.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantor {

struct ListenAddress {
    std::string host;  // without the brackets of an IPv6 address
    uint16_t port = 0;
    bool operator==(const ListenAddress&) const = default;
};

std::optional<ListenAddress> parseListenAddress(std::string_view text);
// The address as parseListenAddress reads it ("[::1]:36874").
std::string listenAddressText(const ListenAddress& address);

}  // namespace vantor
