#pragma once
// The network-management service of the platform the program was built for: Samba's tools on
// Linux, NetApi32 on Windows. The program asks for it here and never names the backend.

#include "platform/NetManagement.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace vantor {

struct PlatformNetOptions {
    // Linux: the Samba configuration to monitor (--samba-config); ignored on Windows.
    std::optional<std::string> sambaConfig;
    // The program's data directory: on Linux the Samba authentication file "credentials" for
    // remote servers and for closing single files lies there.
    std::optional<std::filesystem::path> dataDir;
};

std::unique_ptr<NetManagement> createPlatformNetManagement(const PlatformNetOptions& options = {});

}  // namespace vantor
