#include "platform/samba/SambaNetManagement.h"

#include "platform/PlatformNetManagement.h"
#include "platform/Process.h"
#include "platform/SystemError.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace vantor {

namespace {

const char* const startAsRoot = "Start Vantor as root: \"sudo vantor\" (or \"pkexec vantor\").";

std::string lowerAscii(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

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

NetStatus remoteServerStatus(const std::string& server)
{
    return { netcode::NotSupported,
        "Monitoring a remote server (" + server
            + ") is not available yet on Linux: Vantor can only monitor this computer's Samba server." };
}

// What went wrong with one run of a tool, or success. `what` names the work for the texts
// ("Listing the Samba sessions").
NetStatus toolStatus(const ProcessResult& r, const std::string& tool, const std::string& what,
    std::chrono::milliseconds limit, const std::optional<std::string>& config)
{
    using O = ProcessResult::Outcome;
    switch (r.outcome) {
    case O::StartFailed:
        if (r.startError == ENOENT)
            return { netcode::ToolFailed,
                what + " failed: Samba's tool \"" + tool
                    + "\" was not found. Install Samba's tools (apt install samba samba-common-bin) and try "
                      "again." };
        return { netcode::ToolFailed,
            what + " failed: Samba's tool \"" + tool + "\" could not be started ("
                + systemErrorText(r.startError) + ")." };
    case O::TimedOut:
        return { netcode::ToolTimedOut,
            what + " failed: \"" + tool + "\" did not answer within " + seconds(limit)
                + " and was stopped. The Samba server may be busy or stuck; try again, or restart it "
                  "(systemctl restart smbd)." };
    case O::OutputTooLarge:
        return { netcode::BadToolOutput,
            what + " failed: \"" + tool + "\" wrote far more than expected and was stopped." };
    case O::Signalled:
        return { netcode::ToolFailed,
            what + " failed: \"" + tool + "\" was ended by signal " + std::to_string(r.signal) + "." };
    case O::Exited:
        break;
    }
    // Samba's tools go on with built-in defaults when the configuration cannot be read, and then
    // look at the wrong server: that is a failure even when they exit with 0.
    if (r.err.find("Can't load ") != std::string::npos) {
        const std::string file = config ? *config : std::string("the default configuration");
        return { netcode::ToolFailed,
            what + " failed: Samba cannot load its configuration (" + file + "). Check it with \"testparm"
                + (config ? " " + *config : std::string()) + "\" and try again." };
    }
    if (r.exitCode == 0)
        return NetStatus::success();
    if (r.err.find("only works as root") != std::string::npos
        || r.out.find("only works as root") != std::string::npos || ::geteuid() != 0) {
        const std::string detail = firstLine(r.err.empty() ? r.out : r.err);
        return { netcode::AccessDenied,
            what + " needs root rights" + (detail.empty() ? std::string() : " (" + detail + ")") + ". "
                + startAsRoot };
    }
    const std::string detail = firstLine(r.err.empty() ? r.out : r.err);
    return { netcode::ToolFailed,
        what + " failed: \"" + tool + "\" ended with exit code " + std::to_string(r.exitCode)
            + (detail.empty() ? std::string(".") : ": " + detail) };
}

} // namespace

namespace samba {

SmbStatusIndex::SmbStatusIndex(SmbStatusData data)
    : m_data(std::move(data))
{
    m_owner = sessionOfOpens(m_data);
    m_openCounts.assign(m_data.sessions.size(), 0);
    m_opensByUser.reserve(m_data.sessions.size());
    for (std::size_t k = 0; k < m_owner.size(); ++k) {
        if (m_owner[k] < 0)
            continue;
        const auto s = static_cast<std::size_t>(m_owner[k]);
        ++m_openCounts[s];
        m_opensByUser[lowerAscii(m_data.sessions[s].user)].push_back(k);
    }
}

std::vector<NetSessionInfo> SmbStatusIndex::sessions() const
{
    std::vector<NetSessionInfo> out;
    out.reserve(m_data.sessions.size());
    for (std::size_t i = 0; i < m_data.sessions.size(); ++i)
        out.push_back({ m_data.sessions[i].user, m_data.sessions[i].remoteMachine, m_openCounts[i] });
    return out;
}

std::vector<NetFileInfo> SmbStatusIndex::filesOf(const std::string& user) const
{
    std::vector<NetFileInfo> out;
    auto it = m_opensByUser.find(lowerAscii(user));
    if (it == m_opensByUser.end())
        return out;
    out.reserve(it->second.size());
    for (std::size_t k : it->second) {
        const SmbOpen& open = m_data.opens[k];
        out.push_back({ open.shareFileId, open.path,
            m_data.sessions[static_cast<std::size_t>(m_owner[k])].remoteMachine });
    }
    return out;
}

} // namespace samba

SambaNetManagement::SambaNetManagement(SambaOptions options)
    : m_options(std::move(options))
{
    m_options.smbstatus = findProgram(m_options.smbstatus);
    m_options.smbcontrol = findProgram(m_options.smbcontrol);
    m_options.pdbedit = findProgram(m_options.pdbedit);
}

std::chrono::steady_clock::time_point SambaNetManagement::now() const
{
    return m_options.now ? m_options.now() : std::chrono::steady_clock::now();
}

std::vector<std::string> SambaNetManagement::toolArgs(const std::string& tool) const
{
    std::vector<std::string> args { tool };
    if (m_options.configFile) {
        args.push_back("-s");
        args.push_back(*m_options.configFile);
    }
    return args;
}

ProcessResult SambaNetManagement::run(const std::vector<std::string>& argv) const
{
    ProcessOptions po;
    po.timeLimit = m_options.timeLimit;
    return m_options.run ? m_options.run(argv, po) : runProcess(argv, po);
}

void SambaNetManagement::invalidate()
{
    std::lock_guard lock(m_mutex);
    m_keptAt.reset();
    m_kept.reset();
}

SambaNetManagement::Status SambaNetManagement::runSmbStatus() const
{
    Status s;
    auto args = toolArgs(m_options.smbstatus);
    args.push_back("--json");
    ProcessResult r = run(args);
    s.status = toolStatus(
        r, m_options.smbstatus, "Listing the Samba sessions", m_options.timeLimit, m_options.configFile);
    if (!s.status.ok())
        return s;
    auto parsed = samba::parseSmbStatusJson(r.out);
    if (!parsed.ok()) {
        s.status = { netcode::BadToolOutput,
            "Listing the Samba sessions failed: the output of \"" + m_options.smbstatus
                + "\" could not be read (" + cutUtf8(parsed.error, 300)
                + "). Vantor needs Samba 4.16 or later (smbstatus --json)." };
        return s;
    }
    s.index = std::make_shared<const samba::SmbStatusIndex>(std::move(parsed.value));
    return s;
}

SambaNetManagement::Status SambaNetManagement::status()
{
    // Held over the run: calls of one poll that come together share one run instead of racing.
    std::lock_guard lock(m_mutex);
    const auto t = now();
    if (m_keptAt && m_options.reuseWindow.count() > 0 && t >= *m_keptAt
        && t - *m_keptAt <= m_options.reuseWindow)
        return { NetStatus::success(), m_kept };
    Status s = runSmbStatus();
    if (s.status.ok() && m_options.reuseWindow.count() > 0) {
        m_kept = s.index;
        m_keptAt = t;
    } else {
        m_keptAt.reset();
        m_kept.reset();
    }
    return s;
}

NetStatus SambaNetManagement::checkServerRunning() const
{
    auto args = toolArgs(m_options.smbcontrol);
    args.push_back("smbd");
    args.push_back("ping");
    ProcessResult r = run(args);
    if (r.outcome == ProcessResult::Outcome::Exited && r.exitCode != 0
        && (r.err.find("Can't find pid") != std::string::npos
            || r.out.find("Can't find pid") != std::string::npos)) {
        return { netcode::ServiceNotRunning,
            "The Samba server (smbd) is not running, so no sessions can be listed. Start it with \"systemctl "
            "start smbd\""
                + (m_options.configFile ? " (or the smbd of " + *m_options.configFile + ")" : std::string())
                + " and Vantor will show its sessions at the next poll." };
    }
    return toolStatus(
        r, m_options.smbcontrol, "Checking the Samba server", m_options.timeLimit, m_options.configFile);
}

NetStatus SambaNetManagement::enumSessions(const ServerName& server, std::vector<NetSessionInfo>& out)
{
    out.clear();
    if (server && !server->empty())
        return remoteServerStatus(*server);
    Status s = status();
    if (!s.status.ok())
        return s.status;
    if (s.index->data().sessions.empty()) {
        // smbstatus answers a stopped server with empty lists, exactly as an idle one.
        if (NetStatus running = checkServerRunning(); !running.ok())
            return running;
        return NetStatus::success();
    }
    out = s.index->sessions();
    return NetStatus::success();
}

NetStatus SambaNetManagement::enumFiles(
    const ServerName& server, const std::string& user, std::vector<NetFileInfo>& out)
{
    out.clear();
    if (server && !server->empty())
        return remoteServerStatus(*server);
    Status s = status();
    if (!s.status.ok())
        return s.status;
    out = s.index->filesOf(user);
    return NetStatus::success();
}

NetStatus SambaNetManagement::deleteSession(
    const ServerName& server, const std::string& computer, const std::string& user)
{
    if (server && !server->empty())
        return remoteServerStatus(*server);
    // The service takes the computer as "\\name" as well.
    std::string client = computer;
    while (!client.empty() && client.front() == '\\')
        client.erase(client.begin());

    Status s = status();
    if (!s.status.ok())
        return s.status;
    std::vector<int32_t> pids;
    for (const auto& session : s.index->data().sessions) {
        if (!sameName(session.user, user) || !sameName(session.remoteMachine, client))
            continue;
        if (std::find(pids.begin(), pids.end(), session.pid) == pids.end())
            pids.push_back(session.pid);
    }
    if (pids.empty())
        return { netcode::ClientNameNotFound,
            "No session of user \"" + user + "\" from computer \"" + client
                + "\" was found: it may have ended already." };

    NetStatus result = NetStatus::success();
    for (int32_t pid : pids) {
        auto args = toolArgs(m_options.smbcontrol);
        args.push_back(std::to_string(pid));
        args.push_back("shutdown");
        NetStatus one = toolStatus(run(args), m_options.smbcontrol, "Closing the session of " + user,
            m_options.timeLimit, m_options.configFile);
        if (!one.ok() && result.ok())
            result = one;
    }
    // The sessions have changed: the next enumeration must see that.
    invalidate();
    return result;
}

NetStatus SambaNetManagement::enumUsers(std::vector<std::string>& out)
{
    out.clear();
    auto args = toolArgs(m_options.pdbedit);
    args.push_back("-L");
    ProcessResult r = run(args);
    NetStatus st = toolStatus(
        r, m_options.pdbedit, "Listing the Samba accounts", m_options.timeLimit, m_options.configFile);
    if (!st.ok())
        return st;
    auto parsed = samba::parsePdbeditList(r.out);
    if (!parsed.ok())
        return { netcode::BadToolOutput,
            "Listing the Samba accounts failed: the output of \"" + m_options.pdbedit
                + "\" could not be read (" + parsed.error + ")." };
    out = std::move(parsed.value);
    return NetStatus::success();
}

NetStatus SambaNetManagement::closeFile(const ServerName& server, uint32_t)
{
    if (server && !server->empty())
        return remoteServerStatus(*server);
    return { netcode::NotSupported,
        "Closing a single open file is not available yet with Samba: its tools can only end the whole "
        "session. Use \"Close session\" to release the file." };
}

std::unique_ptr<NetManagement> createPlatformNetManagement(const PlatformNetOptions& options)
{
    SambaOptions samba;
    samba.configFile = options.sambaConfig;
    return std::make_unique<SambaNetManagement>(std::move(samba));
}

} // namespace vantor
