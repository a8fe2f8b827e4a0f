#include "platform/Paths.h"

#include <cstdlib>
#include <system_error>

namespace vantor {

#ifndef _WIN32
std::filesystem::path defaultDataDirectory()
{
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/')
        return std::filesystem::path(xdg) / "vantor";
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::filesystem::path(home) / ".local" / "share" / "vantor";
    return std::filesystem::current_path() / "vantor-data";
}
#endif

#ifndef _WIN32
std::filesystem::path executablePath()
{
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : exe;
}

std::filesystem::path executableDirectory()
{
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return std::filesystem::current_path(ec);
    return exe.parent_path();
}
#endif

bool ensureDirectory(const std::filesystem::path& dir)
{
    std::error_code ec;
    if (std::filesystem::is_directory(dir, ec))
        return true;
    std::filesystem::create_directories(dir, ec);
    return std::filesystem::is_directory(dir, ec);
}

std::filesystem::path pathFromText(const std::string& text)
{
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string textFromPath(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::filesystem::path resolveInDataDir(const std::filesystem::path& dataDir, const std::string& name)
{
    if (name.find(pathSeparator) != std::string::npos)
        return pathFromText(name);
    return dataDir / pathFromText(name);
}

}  // namespace vantor
