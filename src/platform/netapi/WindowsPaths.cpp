#include "platform/Paths.h"

#include <windows.h>

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

}  // namespace

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
