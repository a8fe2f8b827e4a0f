#pragma once
// The autostart entry on Windows: the string value "Vantor" under the Run key of
// HKEY_LOCAL_MACHINE, holding the executable's full path. A present value means "launched on
// startup"; its content is not examined.

#include "platform/Autostart.h"

#include <windows.h>

#include <string>

namespace vantor::windows {

inline constexpr const char* runKeyPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr const char* autostartValueName = "Vantor";
inline constexpr const wchar_t* autostartValueNameW = L"Vantor";
// A value that does not fit this buffer reads as absent.
inline constexpr DWORD autostartReadLimit = 1000;

class RegistryAutostart final : public Autostart {
public:
    // Tests use a key of their own under HKEY_CURRENT_USER.
    explicit RegistryAutostart(HKEY root = HKEY_LOCAL_MACHINE, std::string keyPath = runKeyPath)
        : m_root(root)
        , m_keyPath(std::move(keyPath))
    {
    }

    bool isEnabled() const override;
    // `executable` (UTF-8) is stored as it is, unquoted, with its terminating zero.
    NetStatus enable(const std::string& executable) override;
    // A missing key or value is a success; the caller chooses whether to show other failures.
    NetStatus disable() override;

private:
    HKEY m_root;
    std::string m_keyPath;
};

}  // namespace vantor::windows
