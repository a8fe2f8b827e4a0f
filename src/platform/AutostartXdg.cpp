#include "platform/AutostartXdg.h"

#include "platform/SystemError.h"

#include <cerrno>
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
        case '\\': value += "\\\\"; break;
        case '\n': value += "\\n"; break;
        case '\t': value += "\\t"; break;
        case '\r': value += "\\r"; break;
        default: value += c;
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
           "Exec=" + desktopExecArgument(executable) + "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

XdgAutostart::XdgAutostart(std::filesystem::path directory) : m_directory(std::move(directory)) {}

bool XdgAutostart::isEnabled() const
{
    int fd = ::open(entryPath().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    bool readable = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    char probe;
    if (readable)
        readable = ::read(fd, &probe, 1) >= 0;
    ::close(fd);
    return readable;
}

NetStatus XdgAutostart::enable(const std::string& executable)
{
    std::error_code ec;
    std::filesystem::create_directories(m_directory, ec);
    if (ec)
        return errnoStatus(ec.value());

    // Written to a temporary file and renamed over the entry: a session starting meanwhile reads
    // the old entry or the new one, never half of one.
    std::string temp = (m_directory / ".vantor.desktop.XXXXXX").string();
    int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return errnoStatus(errno);
    int failure = 0;
    if (!writeAll(fd, autostartDesktopEntry(executable)))
        failure = errno;
    else if (::fchmod(fd, 0644) != 0 || ::fsync(fd) != 0)
        failure = errno;
    if (::close(fd) != 0 && !failure)
        failure = errno;
    if (!failure && ::rename(temp.c_str(), entryPath().c_str()) != 0)
        failure = errno;
    if (failure) {
        ::unlink(temp.c_str());
        return errnoStatus(failure);
    }
    return NetStatus::success();
}

NetStatus XdgAutostart::disable()
{
    if (::unlink(entryPath().c_str()) != 0 && errno != ENOENT)
        return errnoStatus(errno);
    return NetStatus::success();
}

std::unique_ptr<Autostart> createPlatformAutostart(const std::filesystem::path& location)
{
    return std::make_unique<XdgAutostart>(location.empty() ? std::filesystem::path(xdgAutostartDirectory)
                                                          : location);
}

}  // namespace vantor
