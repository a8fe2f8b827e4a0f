#pragma once
// Autostart on Linux: a desktop entry in the machine-wide XDG autostart directory, which every
// desktop session of the machine reads at log-on (the counterpart of a value under HKLM's Run key).

#include "platform/Autostart.h"

#include <filesystem>
#include <string>

namespace vantor {

inline constexpr const char* xdgAutostartDirectory = "/etc/xdg/autostart";
inline constexpr const char* xdgAutostartFileName = "vantor.desktop";

// One argument of an Exec line, quoted as the desktop-entry format wants it: in double quotes with
// '"', '`', '$' and '\' escaped, '%' doubled, and then escaped once more as a string value.
std::string desktopExecArgument(const std::string& argument);

// The whole desktop entry that starts `executable`.
std::string autostartDesktopEntry(const std::string& executable);

class XdgAutostart final : public Autostart {
public:
    explicit XdgAutostart(std::filesystem::path directory = xdgAutostartDirectory);

    bool isEnabled() const override;
    NetStatus enable(const std::string& executable) override;
    NetStatus disable() override;

    std::filesystem::path entryPath() const { return m_directory / xdgAutostartFileName; }

private:
    std::filesystem::path m_directory;
};

}  // namespace vantor
