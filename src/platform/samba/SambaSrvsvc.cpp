#include "platform/samba/SambaNetManagement.h"

#include "platform/SystemError.h"
#include "platform/samba/SambaTools.h"

#include <cerrno>
#include <filesystem>

// The srvsvc side of the backend: a named server's listings and closes, and closing one open file
// on this computer, through vantor-srvsvc.py.

namespace vantor {

using samba::badServerName;
using samba::credentialsHelp;
using samba::firstLine;
using samba::seconds;

NetStatus srvsvcFailure(const samba::SrvsvcError& e, const std::string& server, const std::string& what,
                        const std::optional<std::string>& credentialsFile)
{
    const std::string shown = server.empty() ? std::string("this computer") : "server \"" + server + "\"";
    const std::string account = e.account.empty() ? std::string() : " \"" + e.account + "\"";
    const std::string detail = e.name.empty() ? e.message : e.name;
    if (e.kind == "unreachable")
        return {netcode::BadNetPath, what + " failed: " + shown + " cannot be reached (" + cutUtf8(e.message, 200)
                                         + "). Check its name, and that it runs and shares files over SMB."};
    if (e.kind == "credentials") {
        const std::string problem =
            e.message == "no Kerberos ticket and no authentication file"
                ? "Vantor has no account to log on to " + shown + " with."
                : "Vantor cannot use its authentication file (" + cutUtf8(e.message, 200) + ").";
        const std::string root =
            server.empty()
                ? " Even as root, closing one open file goes through Samba's RPC service, which needs an account "
                  "of the Samba server in its Administrators group."
                : std::string();
        return {netcode::LogonFailure, what + " failed: " + problem + root + " " + credentialsHelp(credentialsFile)};
    }
    if (e.kind == "bindings")
        return {netcode::ToolFailed, what + " failed: Samba's Python bindings are missing (" + e.message
                                         + "). Install them (apt install python3-samba) and try again."};
    if (e.kind == "usage" && e.name == "bad-server")
        return badServerName(server);
    if (e.kind == "werror" && e.code == netcode::AccessDenied) {
        std::string needs;
        if (what.starts_with("Closing the session"))
            needs = "ending sessions needs a member of the server's Domain Admins group (or root); Samba "
                    "also answers so when no such session is left";
        else if (what.starts_with("Closing"))
            needs = "closing open files needs a member of the server's Administrators group";
        else
            needs = "listing sessions and open files needs a member of the server's Administrators group";
        return {netcode::AccessDenied, what + " failed: access was denied to the account" + account + " on " + shown
                                           + ": " + needs
                                           + ". Give Vantor such an account: " + credentialsHelp(credentialsFile)};
    }
    if (e.kind == "werror" && e.name == "WERR_FILE_NOT_FOUND")
        return {netcode::FileIdNotFound,
                what + " failed: the file is no longer open (it may have been closed already)."};
    if (e.kind == "ntstatus"
        && (e.name == "NT_STATUS_LOGON_FAILURE" || e.name == "NT_STATUS_WRONG_PASSWORD"
            || e.name == "NT_STATUS_NO_SUCH_USER" || e.name.starts_with("NT_STATUS_ACCOUNT_")
            || e.name == "NT_STATUS_PASSWORD_EXPIRED"))
        return {netcode::LogonFailure, what + " failed: logging on to " + shown + " as" + account + " was refused ("
                                           + e.name + "). " + credentialsHelp(credentialsFile)};
    if (e.kind == "werror" || e.kind == "ntstatus") {
        // Windows' own number where the server gave one, so that both backends read alike.
        const uint32_t code = e.kind == "werror" && e.code > 0 && e.code < netcode::ToolFailed
                                  ? static_cast<uint32_t>(e.code)
                                  : netcode::ToolFailed;
        return {code,
                what + " failed: " + shown + " answered " + cutUtf8(detail, 200)
                    + (e.message.empty() || e.message == detail ? std::string() : " (" + cutUtf8(e.message, 200) + ")")
                    + "."};
    }
    return {netcode::ToolFailed, what + " failed: " + cutUtf8(e.kind + ": " + e.message, 300)};
}

NetStatus SambaNetManagement::callSrvsvc(const std::string& server, const std::string& shownServer,
                                         const std::string& request, const std::string& what, samba::SrvsvcReply& reply)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(m_options.srvsvcHelper, ec))
        return {netcode::ToolFailed, what + " failed: Vantor's helper for the srvsvc service (" + m_options.srvsvcHelper
                                         + ") is missing. Reinstall Vantor."};

    std::lock_guard lock(m_helperMutex);
    if (m_helper && m_helperServer != server) {
        m_helper->stop();
        m_helper.reset();
    }
    LineHelper::Reply r;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!m_helper || !m_helper->running()) {
            std::vector<std::string> argv{m_options.python, m_options.srvsvcHelper};
            if (m_options.configFile) {
                argv.push_back("--config");
                argv.push_back(*m_options.configFile);
            }
            if (m_options.credentialsFile) {
                argv.push_back("--credentials");
                argv.push_back(*m_options.credentialsFile);
            }
            if (!m_options.useKerberos)
                argv.push_back("--no-kerberos");
            argv.push_back("--");
            argv.push_back(server);
            argv.push_back("serve");
            auto helper = std::make_unique<LineHelper>();
            int startError = 0;
            if (!helper->start(argv, startError)) {
                if (startError == ENOENT)
                    return {netcode::ToolFailed,
                            what + " failed: Python 3 (" + m_options.python
                                + ") was not found. Install it with Samba's bindings (apt install python3-samba)."};
                return {netcode::ToolFailed, what + " failed: Vantor's srvsvc helper could not be started ("
                                                 + systemErrorText(startError) + ")."};
            }
            m_helper = std::move(helper);
            m_helperServer = server;
        }
        r = m_helper->exchange(request, m_options.timeLimit);
        // A helper that died since its last answer (or was ended) is started again, once.
        if (r.outcome != LineHelper::Reply::Outcome::Gone)
            break;
    }
    using O = LineHelper::Reply::Outcome;
    if (r.outcome == O::TimedOut)
        return {netcode::ToolTimedOut,
                what + " failed: "
                    + (shownServer.empty() ? std::string("this computer") : "server \"" + shownServer + "\"")
                    + " did not answer within " + seconds(m_options.timeLimit) + "."};
    if (r.outcome == O::TooLong)
        return {netcode::BadToolOutput,
                what + " failed: Vantor's srvsvc helper wrote far more than expected and was stopped."};
    const std::string said = m_helper ? firstLine(m_helper->errorOutput()) : std::string();
    auto parsed = r.outcome == O::Line ? samba::parseSrvsvcReply(r.line) : samba::parseSrvsvcReply("");
    if (!parsed.ok())
        return {netcode::BadToolOutput, what + " failed: the answer of Vantor's srvsvc helper could not be read ("
                                            + cutUtf8(parsed.error, 200)
                                            + (said.empty() ? std::string() : "; it said: " + said) + ")."};
    if (!parsed.value.ok)
        return srvsvcFailure(parsed.value.error, shownServer, what, m_options.credentialsFile);
    reply = std::move(parsed.value);
    return NetStatus::success();
}

void SambaNetManagement::stopRemoteHelper()
{
    std::lock_guard lock(m_helperMutex);
    if (m_helper) {
        m_helper->stop();
        m_helper.reset();
        m_helperServer.clear();
    }
}

std::optional<pid_t> SambaNetManagement::srvsvcHelperPid()
{
    std::lock_guard lock(m_helperMutex);
    if (m_helper && m_helper->running())
        return m_helper->pid();
    return std::nullopt;
}

std::string SambaNetManagement::srvsvcHelperServer()
{
    std::lock_guard lock(m_helperMutex);
    return m_helper && m_helper->running() ? m_helperServer : std::string();
}

}  // namespace vantor
