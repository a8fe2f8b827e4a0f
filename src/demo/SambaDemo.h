#pragma once
// The demo on a real Samba server: a private smbd on 127.0.0.1 and scripted smbclient clients that
// connect (from 127.0.0.1 to 127.0.0.4, through forwarders), hold files and folders open and
// leave again, replaying the demo scenario in a loop. Everything it started stops with it.

#include <memory>
#include <string>

namespace vantor {

class SambaDemo {
public:
    virtual ~SambaDemo() = default;
    // The configuration that the monitor passes to Samba's tools.
    virtual std::string configFile() const = 0;
};

// Starts the server and its clients; null with `error` set where that cannot run (not root, Samba
// missing, another platform).
std::unique_ptr<SambaDemo> startSambaDemo(std::string& error);

}  // namespace vantor
