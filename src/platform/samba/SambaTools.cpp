#include "platform/samba/SambaTools.h"

#include "platform/AsciiCase.h"
#include "platform/Paths.h"
#include "platform/SystemError.h"

#include <cctype>
#include <cerrno>
#include <filesystem>
#include <unistd.h>

namespace vantor::samba {

namespace {

const char* const startAsRoot = "Start Vantor as root: \"sudo vantor\" (or \"pkexec vantor\").";

}  // namespace

bool sameName(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && lowerAscii(a) == lowerAscii(b);
}

std::string firstLine(const std::string& text)
{
    std::size_t start = text.find_first_not_of(" \t\r\n");
    if (start == std::string::npos)
        return {};
    std::size_t end = text.find_first_of("\r\n", start);
    return cutUtf8(text.substr(start, end == std::string::npos ? std::string::npos : end - start), 200);
}

std::string seconds(std::chrono::milliseconds d)
{
    auto ms = d.count();
    if (ms % 1000 == 0)
        return std::to_string(ms / 1000) + (ms == 1000 ? " second" : " seconds");
    return std::to_string(ms) + " ms";
}

std::string bareServer(const std::string& server)
{
    std::size_t start = server.find_first_not_of('\\');
    return start == std::string::npos ? std::string() : server.substr(start);
}

// The name goes into a DCE/RPC binding, where brackets, commas, colons and '@' mean something, and
// onto the helper's command line, where a leading '-' would read as an option.
bool usableServerName(const std::string& name)
{
    if (name.empty() || name.size() > 253 || name.front() == '-')
        return false;
    for (unsigned char c : name)
        if (!(std::isalnum(c) && c < 0x80) && c != '.' && c != '-' && c != '_' && c < 0x80)
            return false;
    return true;
}

NetStatus badServerName(const std::string& server)
{
    return {netcode::BadNetPath,
            "\"" + cutUtf8(server, 100)
                + "\" is not a server name Vantor can connect to: give its DNS or NetBIOS name, or its IPv4 "
                  "address."};
}

std::string credentialsHelp(const std::optional<std::string>& file)
{
    const std::string path = file ? *file : std::string("the file \"credentials\" in Vantor's data directory");
    return "Vantor logs on with your Kerberos ticket when there is one (kinit), otherwise with a Samba "
           "authentication file at "
           + path
           + ": the lines \"username = NAME\" and \"password = PASSWORD\" (and \"domain = DOMAIN\" where "
             "needed), readable only by you (chmod 600"
           + (file ? " " + *file : std::string()) + ").";
}

NetStatus toolStatus(const ProcessResult& r, const std::string& tool, const std::string& what,
                     std::chrono::milliseconds limit, const std::optional<std::string>& config)
{
    using O = ProcessResult::Outcome;
    switch (r.outcome) {
    case O::StartFailed:
        if (r.startError == ENOENT)
            return {netcode::ToolFailed,
                    what + " failed: Samba's tool \"" + tool
                        + "\" was not found. Install Samba's tools (apt install samba samba-common-bin) and try "
                          "again."};
        return {netcode::ToolFailed, what + " failed: Samba's tool \"" + tool + "\" could not be started ("
                                         + systemErrorText(r.startError) + ")."};
    case O::TimedOut:
        return {netcode::ToolTimedOut,
                what + " failed: \"" + tool + "\" did not answer within " + seconds(limit)
                    + " and was stopped. The Samba server may be busy or stuck; try again, or restart it "
                      "(systemctl restart smbd)."};
    case O::OutputTooLarge:
        return {netcode::BadToolOutput,
                what + " failed: \"" + tool + "\" wrote far more than expected and was stopped."};
    case O::Signalled:
        return {netcode::ToolFailed,
                what + " failed: \"" + tool + "\" was ended by signal " + std::to_string(r.signal) + "."};
    case O::Exited:
        break;
    }
    // Samba's tools go on with built-in defaults when the configuration cannot be read, and then
    // look at the wrong server: that is a failure even when they exit with 0.
    if (r.err.find("Can't load ") != std::string::npos) {
        const std::string file = config ? *config : std::string("the default configuration");
        return {netcode::ToolFailed, what + " failed: Samba cannot load its configuration (" + file
                                         + "). Check it with \"testparm" + (config ? " " + *config : std::string())
                                         + "\" and try again."};
    }
    if (r.exitCode == 0)
        return NetStatus::success();
    if (r.err.find("only works as root") != std::string::npos || r.out.find("only works as root") != std::string::npos
        || ::geteuid() != 0) {
        const std::string detail = firstLine(r.err.empty() ? r.out : r.err);
        return {netcode::AccessDenied, what + " needs root rights"
                                           + (detail.empty() ? std::string() : " (" + detail + ")") + ". "
                                           + startAsRoot};
    }
    const std::string detail = firstLine(r.err.empty() ? r.out : r.err);
    return {netcode::ToolFailed, what + " failed: \"" + tool + "\" ended with exit code " + std::to_string(r.exitCode)
                                     + (detail.empty() ? std::string(".") : ": " + detail)};
}

std::string defaultSrvsvcHelper()
{
    const std::filesystem::path dir = executableDirectory();
    for (const auto& candidate : {dir / "vantor-srvsvc.py", dir / ".." / "share" / "vantor" / "vantor-srvsvc.py"}) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(candidate, ec))
            return candidate.lexically_normal().string();
    }
    return (dir / "vantor-srvsvc.py").string();
}

std::string defaultPython()
{
    std::error_code ec;
    return std::filesystem::exists("/usr/bin/python3", ec) ? std::string("/usr/bin/python3") : findProgram("python3");
}

}  // namespace vantor::samba
