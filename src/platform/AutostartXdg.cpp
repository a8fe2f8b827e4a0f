#include "platform/AutostartXdg.h"

#include "platform/SystemError.h"

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace vantor {

namespace {

NetStatus errnoStatus(int code)
{
    return {static_cast<uint32_t>(code), systemErrorText(code)};
}

bool writeAll(int fd, const std::string& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::string desktopExecArgument(const std::string& argument)
{
    std::string quoted = "\"";
    for (char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        if (c == '%')
            quoted += '%';
        quoted += c;
    }
    quoted += '"';

    // The Exec value is a string value first: its own escapes are undone before the quoting is read.
    std::string value;
    for (char c : quoted) {
        switch (c) {
        case '\\':
            value += "\\\\";
            break;
        case '\n':
            value += "\\n";
            break;
        case '\t':
            value += "\\t";
            break;
        case '\r':
            value += "\\r";
            break;
        default:
            value += c;
        }
    }
    return value;
}

std::string autostartDesktopEntry(const std::string& executable)
{
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Vantor\n"
           "Comment=Monitor of the network sessions on this computer's shares\n"
           "Exec="
           + desktopExecArgument(executable)
           + "\n"
             "Terminal=false\n"
             "X-GNOME-Autostart-enabled=true\n";
}

bool desktopEntryHidden(const std::string& text)
{
    bool inMainGroup = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string_view line(text.data() + pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (!line.empty() && line.front() == '[') {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup)
            continue;
        std::size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            continue;
        auto trim = [](std::string_view v) {
            while (!v.empty() && (v.front() == ' ' || v.front() == '\t'))
                v.remove_prefix(1);
            while (!v.empty() && (v.back() == ' ' || v.back() == '\t'))
                v.remove_suffix(1);
            return v;
        };
        if (trim(line.substr(0, eq)) == "Hidden")
            return trim(line.substr(eq + 1)) == "true";
    }
    return false;
}

namespace {

// The entry's text, or nothing when there is no readable file of that name.
std::optional<std::string> readEntry(const std::filesystem::path& path)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st { };
    std::optional<std::string> text;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        text.emplace();
        char buffer[4096];
        // An autostart entry is a few lines; what lies past 64 KiB is not read.
        while (text->size() < 65536) {
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                text.reset();
                break;
            }
            if (n == 0)
                break;
            text->append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    return text;
}

bool startsTheProgram(const std::filesystem::path& path)
{
    auto text = readEntry(path);
    return text && !desktopEntryHidden(*text);
}

// Written to a temporary file and renamed over the entry: a session starting meanwhile reads the
// old entry or the new one, never half of one.
NetStatus writeEntry(const std::filesystem::path& directory, const std::string& text)
{
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    if (ec)
        return errnoStatus(ec.value());

    std::string temp = (directory / ".vantor.desktop.XXXXXX").string();
    int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return errnoStatus(errno);
    int failure = 0;
    if (!writeAll(fd, text))
        failure = errno;
    else if (::fchmod(fd, 0644) != 0 || ::fsync(fd) != 0)
        failure = errno;
    if (::close(fd) != 0 && !failure)
        failure = errno;
    if (!failure && ::rename(temp.c_str(), (directory / xdgAutostartFileName).c_str()) != 0)
        failure = errno;
    if (failure) {
        ::unlink(temp.c_str());
        return errnoStatus(failure);
    }
    return NetStatus::success();
}

}  // namespace

XdgAutostart::XdgAutostart(std::filesystem::path directory, std::filesystem::path userDirectory)
    : m_directory(std::move(directory))
    , m_userDirectory(std::move(userDirectory))
{
}

std::filesystem::path XdgAutostart::entryPath() const
{
    return (m_userDirectory.empty() ? m_directory : m_userDirectory) / xdgAutostartFileName;
}

bool XdgAutostart::isEnabled() const
{
    if (!m_userDirectory.empty() && readEntry(entryPath()))
        return startsTheProgram(entryPath());
    return startsTheProgram(m_directory / xdgAutostartFileName);
}

NetStatus XdgAutostart::enable(const std::string& executable)
{
    return writeEntry(entryPath().parent_path(), autostartDesktopEntry(executable));
}

NetStatus XdgAutostart::disable()
{
    // A user cannot remove the machine-wide entry, only hide it from their own sessions.
    if (!m_userDirectory.empty() && startsTheProgram(m_directory / xdgAutostartFileName))
        return writeEntry(m_userDirectory, "[Desktop Entry]\nType=Application\nName=Vantor\nHidden=true\n");
    if (::unlink(entryPath().c_str()) != 0 && errno != ENOENT)
        return errnoStatus(errno);
    return NetStatus::success();
}

std::filesystem::path userAutostartDirectory()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/')
        return std::filesystem::path(config) / "autostart";
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home && home[0] ? home : "/") / ".config" / "autostart";
}

std::unique_ptr<Autostart> createPlatformAutostart(const std::filesystem::path& location)
{
    if (!location.empty())
        return std::make_unique<XdgAutostart>(location);
    if (::geteuid() == 0)
        return std::make_unique<XdgAutostart>();
    return std::make_unique<XdgAutostart>(xdgAutostartDirectory, userAutostartDirectory());
}

}  // namespace vantor
