#pragma once
// Autostart on Linux: a desktop entry in an XDG autostart directory, which desktop sessions read at
// log-on. Root writes the machine-wide one (the counterpart of a value under HKLM's Run key), which
// starts the program in every user's session. A user cannot write there; the user's own entry of
// the same name in ~/.config/autostart takes its place for that user's sessions, and one that says
// "Hidden=true" keeps the machine-wide entry from starting the program for that user.

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

// Whether a desktop entry's text says "Hidden=true" in its [Desktop Entry] group: the entry is then
// as good as deleted, and hides any entry of the same name in a directory of less weight.
bool desktopEntryHidden(const std::string& text);

class XdgAutostart final : public Autostart {
public:
    // `userDirectory` empty: the entry in `directory` alone (root). Otherwise the user's entry in
    // `userDirectory` decides where there is one, and the machine-wide one where there is none.
    explicit XdgAutostart(std::filesystem::path directory = xdgAutostartDirectory,
                          std::filesystem::path userDirectory = {});

    bool isEnabled() const override;
    NetStatus enable(const std::string& executable) override;
    NetStatus disable() override;

    // Where enable() writes.
    std::filesystem::path entryPath() const;

private:
    std::filesystem::path m_directory;
    std::filesystem::path m_userDirectory;
};

// The user's own autostart directory: $XDG_CONFIG_HOME/autostart, or ~/.config/autostart.
std::filesystem::path userAutostartDirectory();

}  // namespace vantor
