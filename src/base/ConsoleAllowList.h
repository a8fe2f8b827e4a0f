#pragma once
// The consoles a console agent serves, as an administrator writes them: "192.168.1.20,
// 10.0.0.0/24, 127.0.0.1". Literal IPv4 addresses only, as the agent's sockets are IPv4, with an
// optional prefix length; a name would be looked up at every start and could answer differently
// from the firewall's view.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantor {

struct Ipv4Network {
    uint32_t address = 0;  // host byte order, the bits beyond the prefix cleared
    int prefix = 32;
    bool operator==(const Ipv4Network&) const = default;
};

struct ConsoleAllowList {
    std::vector<Ipv4Network> networks;
    // The first entry that could not be read; the list is then empty, so that a typing mistake
    // never lets in more than the administrator meant.
    std::optional<std::string> error;
};

// Entries separated by commas and blanks; an empty text gives an empty list and no error.
ConsoleAllowList parseConsoleAllowList(std::string_view text);
// A dotted-decimal IPv4 address, four decimal parts without leading zeros.
std::optional<uint32_t> parseIpv4Address(std::string_view text);
bool consoleAllowed(const std::vector<Ipv4Network>& networks, std::string_view address);

}  // namespace vantor
