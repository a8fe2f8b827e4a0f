#include "platform/netapi/RegistryAutostart.h"

#include "platform/Paths.h"
#include "platform/netapi/AnsiText.h"
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

std::wstring wide(const std::string& text)
{
    return utf8ToWide(text).value_or(std::wstring());
}

}  // namespace

bool RegistryAutostart::isEnabled() const
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(m_root, wide(m_keyPath).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    // The read limit is counted in the bytes of the value's ANSI form, so this one read is narrow.
    BYTE buffer[autostartReadLimit];
    DWORD size = sizeof buffer;
    const LSTATUS read = RegQueryValueExA(key, autostartValueName, nullptr, nullptr, buffer, &size);
    RegCloseKey(key);
    return read == ERROR_SUCCESS;
}

NetStatus RegistryAutostart::enable(const std::string& executable)
{
    const auto value = utf8ToWide(executable);
    if (!value || value->size() >= static_cast<std::size_t>(INT_MAX / 2 - 1))
        return registryStatus(ERROR_INVALID_PARAMETER);
    HKEY key = nullptr;
    const LSTATUS created = RegCreateKeyExW(m_root, wide(m_keyPath).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                            KEY_SET_VALUE, nullptr, &key, nullptr);
    if (created != ERROR_SUCCESS)
        return registryStatus(created);
    const LSTATUS set =
        RegSetValueExW(key, autostartValueNameW, 0, REG_SZ, reinterpret_cast<const BYTE*>(value->c_str()),
                       static_cast<DWORD>((value->size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return registryStatus(set);
}

NetStatus RegistryAutostart::disable()
{
    HKEY key = nullptr;
    const LSTATUS opened = RegOpenKeyExW(m_root, wide(m_keyPath).c_str(), 0, KEY_WRITE, &key);
    if (opened == ERROR_FILE_NOT_FOUND)
        return NetStatus::success();
    if (opened != ERROR_SUCCESS)
        return registryStatus(opened);
    const LSTATUS deleted = RegDeleteValueW(key, autostartValueNameW);
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
    return std::make_unique<windows::RegistryAutostart>(HKEY_CURRENT_USER, textFromPath(location));
}

}  // namespace vantor
