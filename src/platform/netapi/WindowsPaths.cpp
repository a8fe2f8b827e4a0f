#include "platform/Paths.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

namespace vantor {

namespace {

// GetModuleFileNameW cuts silently at the buffer's size: grow the buffer until the path fits,
// so that a program installed under a long path still finds its files.
std::wstring modulePath()
{
    std::wstring buffer(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 8; ++attempt) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return {};
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
    return {};
}

// Whether a file can be made in `dir`: the folder of a program installed under Program Files
// cannot be written by a user who is not an administrator.
bool writable(const std::filesystem::path& dir)
{
    const std::filesystem::path probe = dir / (L".vantor-write-test-" + std::to_wstring(GetCurrentProcessId()));
    HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    return true;
}

std::filesystem::path knownFolder(REFKNOWNFOLDERID id)
{
    PWSTR path = nullptr;
    std::filesystem::path out;
    if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_CREATE, nullptr, &path)) && path)
        out = path;
    CoTaskMemFree(path);
    return out;
}

}  // namespace

std::filesystem::path defaultDataDirectory()
{
    // Beside the program, as it has always been, where that folder can be written; else the
    // user's roaming application data (the local one when there is no roaming one).
    const std::filesystem::path beside = executableDirectory();
    if (writable(beside))
        return beside;
    for (const KNOWNFOLDERID* id : {&FOLDERID_RoamingAppData, &FOLDERID_LocalAppData}) {
        const std::filesystem::path base = knownFolder(*id);
        if (!base.empty())
            return base / L"Vantor";
    }
    return beside;
}

std::filesystem::path executableDirectory()
{
    const std::wstring path = modulePath();
    if (path.empty()) {
        std::error_code ec;
        return std::filesystem::current_path(ec);
    }
    return std::filesystem::path(path).parent_path();
}

std::filesystem::path executablePath()
{
    return std::filesystem::path(modulePath());
}

}  // namespace vantor
