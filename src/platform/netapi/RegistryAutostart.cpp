#include "platform/netapi/RegistryAutostart.h"

#include "platform/netapi/WindowsError.h"

#include <climits>

namespace vantor::windows {

namespace {

NetStatus registryStatus(LSTATUS code)
{
    if (code == ERROR_SUCCESS)
        return NetStatus::success();
    return {static_cast<uint32_t>(code), windowsErrorText(static_cast<uint32_t>(code))};
}

}  // namespace

bool RegistryAutostart::isEnabled() const
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(m_root, m_keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    BYTE buffer[autostartReadLimit];
    DWORD size = sizeof buffer;
    const LSTATUS read = RegQueryValueExA(key, autostartValueName, nullptr, nullptr, buffer, &size);
    RegCloseKey(key);
    return read == ERROR_SUCCESS;
}

NetStatus RegistryAutostart::enable(const std::string& executable)
{
    if (executable.size() >= static_cast<std::size_t>(INT_MAX))
        return registryStatus(ERROR_INVALID_PARAMETER);
    HKEY key = nullptr;
    const LSTATUS created = RegCreateKeyExA(m_root, m_keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                            KEY_SET_VALUE, nullptr, &key, nullptr);
    if (created != ERROR_SUCCESS)
        return registryStatus(created);
    const LSTATUS set = RegSetValueExA(key, autostartValueName, 0, REG_SZ,
                                       reinterpret_cast<const BYTE*>(executable.c_str()),
                                       static_cast<DWORD>(executable.size() + 1));
    RegCloseKey(key);
    return registryStatus(set);
}

NetStatus RegistryAutostart::disable()
{
    HKEY key = nullptr;
    const LSTATUS opened = RegOpenKeyExA(m_root, m_keyPath.c_str(), 0, KEY_WRITE, &key);
    if (opened == ERROR_FILE_NOT_FOUND)
        return NetStatus::success();
    if (opened != ERROR_SUCCESS)
        return registryStatus(opened);
    const LSTATUS deleted = RegDeleteValueA(key, autostartValueName);
    RegCloseKey(key);
    return deleted == ERROR_FILE_NOT_FOUND ? NetStatus::success() : registryStatus(deleted);
}

}  // namespace vantor::windows

namespace vantor {

std::unique_ptr<Autostart> createPlatformAutostart(const std::filesystem::path& location)
{
    if (location.empty())
        return std::make_unique<windows::RegistryAutostart>();
    // A test key: the path names a key under HKEY_CURRENT_USER, which needs no administrator.
    return std::make_unique<windows::RegistryAutostart>(HKEY_CURRENT_USER, location.string());
}

}  // namespace vantor
