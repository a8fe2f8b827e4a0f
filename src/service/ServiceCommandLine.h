#pragma once
// vantord's command line.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantor {

struct ServiceCommandLine {
    std::string config = "/etc/vantor/vantor.conf";  // --config FILE
    std::string dataDir = "/var/lib/vantor";  // --data-dir DIR
    std::optional<std::string> sambaConfig;  // --samba-config FILE
    // The console agent's ports and address: the fixed ports by default. Another port lets two
    // agents share a machine (tests); an address keeps the agent off the other networks.
    std::optional<uint16_t> commandPort;  // --command-port N
    std::optional<uint16_t> discoveryPort;  // --discovery-port N
    std::optional<std::string> listen;  // --listen ADDRESS
    bool help = false;
    bool version = false;
};

struct ServiceCommandLineResult {
    ServiceCommandLine options;
    std::string error;  // non-empty: refused, with this text
};

ServiceCommandLineResult parseServiceCommandLine(const std::vector<std::string>& args);
std::string serviceUsage();

}  // namespace vantor
