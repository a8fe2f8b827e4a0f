#pragma once
// Whether the program starts with the machine. It outlives the program, unlike every other option.
// Linux: the XDG autostart entry vantor.desktop, machine-wide in /etc/xdg/autostart when root sets
// it, in the user's ~/.config/autostart otherwise;
// Windows: the value "Vantor" under HKLM\Software\Microsoft\Windows\CurrentVersion\Run.

#include "platform/NetManagement.h"

#include <filesystem>
#include <memory>
#include <string>

namespace vantor {

class Autostart {
public:
    virtual ~Autostart() = default;
    // True when the entry exists and can be read.
    virtual bool isEnabled() const = 0;
    // Writes the entry so that `executable` (full path) starts at log-on. Failure: the system's text.
    virtual NetStatus enable(const std::string& executable) = 0;
    // Removes the entry (removing a missing entry is a success).
    virtual NetStatus disable() = 0;
};

// The platform's autostart. `location` overrides where the entry lives (tests use a temporary
// directory on Linux, a test key on Windows); empty = the machine-wide place, or on Linux the
// user's own for a user other than root.
std::unique_ptr<Autostart> createPlatformAutostart(const std::filesystem::path& location = {});

}  // namespace vantor
