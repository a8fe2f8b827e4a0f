#include "platform/samba/SambaNetManagement.h"

#include "platform/AsciiCase.h"
#include "platform/PlatformNetManagement.h"
#include "platform/Process.h"
#include "platform/SystemError.h"

#include "platform/Paths.h"
#include "platform/samba/TestparmParser.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <limits>
#include <cctype>
#include <set>
#include <cerrno>
#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace vantor {

namespace {

const char* const startAsRoot = "Start Vantor as root: \"sudo vantor\" (or \"pkexec vantor\").";

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

// The name the user typed, without the backslashes of a UNC name.
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
    return { netcode::BadNetPath,
        "\"" + cutUtf8(server, 100)
            + "\" is not a server name Vantor can connect to: give its DNS or NetBIOS name, or its IPv4 "
              "address." };
}

std::string credentialsHelp(const std::optional<std::string>& file)
{
    const std::string path
        = file ? *file : std::string("the file \"credentials\" in Vantor's data directory");
    return "Vantor logs on with your Kerberos ticket when there is one (kinit), otherwise with a Samba "
           "authentication file at "
        + path
        + ": the lines \"username = NAME\" and \"password = PASSWORD\" (and \"domain = DOMAIN\" where "
          "needed), readable only by you (chmod 600"
        + (file ? " " + *file : std::string()) + ").";
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

uint32_t srvsvcFileId(int32_t pid, uint32_t shareFileId)
{
    return (static_cast<uint32_t>(pid) << 16) | shareFileId;
}

uint32_t listedFileId(const SmbOpen& open)
{
    if (open.hasShareFileId)
        return srvsvcFileId(open.pid, open.shareFileId);
    // FNV-1a over the process and the path.
    uint32_t h = 2166136261u;
    auto mix = [&](unsigned char c) { h = (h ^ c) * 16777619u; };
    for (int shift = 0; shift < 32; shift += 8)
        mix(static_cast<unsigned char>(static_cast<uint32_t>(open.pid) >> shift));
    for (char c : open.path)
        mix(static_cast<unsigned char>(c));
    return h | 0x80000000u;
}

SmbStatusIndex::SmbStatusIndex(SmbStatusData data)
    : m_data(std::move(data))
{
    m_owner = sessionOfOpens(m_data);
    collectDetails();
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

void SmbStatusIndex::collectDetails()
{
    m_details.resize(m_data.sessions.size());
    std::unordered_map<std::string, std::size_t> byId;
    std::unordered_map<int32_t, std::vector<std::size_t>> byPid;
    std::vector<std::vector<int64_t>> connectedAt(m_data.sessions.size()); // beside each session's shares
    for (std::size_t i = 0; i < m_data.sessions.size(); ++i) {
        const SmbSession& session = m_data.sessions[i];
        SessionDetails& d = m_details[i];
        d.dialect = session.dialect;
        d.encryption = session.encryption;
        d.signing = session.signing;
        d.processId = session.pid;
        d.uid = session.uid;
        d.channels = session.channels;
        d.connectedAt = session.createdAt;
        if (!session.sessionId.empty())
            byId.emplace(session.sessionId, i);
        byPid[session.pid].push_back(i);
    }
    // A tree connect names its session; one of an older Samba without the id goes to every session
    // of its process. A session carries no time of its own: it began no later than its first tree
    // connect.
    for (const SmbTcon& tcon : m_data.tcons) {
        std::vector<std::size_t> owners;
        if (auto it = byId.find(tcon.sessionId); !tcon.sessionId.empty() && it != byId.end())
            owners.push_back(it->second);
        else if (auto p = byPid.find(tcon.pid); tcon.sessionId.empty() && p != byPid.end())
            owners = p->second;
        for (std::size_t i : owners) {
            SessionDetails& d = m_details[i];
            if (std::find(d.shares.begin(), d.shares.end(), tcon.share) == d.shares.end()) {
                d.shares.push_back(tcon.share);
                connectedAt[i].push_back(tcon.connectedAt ? tcon.connectedAtMicros : std::numeric_limits<int64_t>::max());
            }
            // Samba 4.20 and later tell when the session began; before, its first tree connect
            // is the nearest.
            if (!m_data.sessions[i].createdAt && tcon.connectedAt && (!d.connectedAt || *tcon.connectedAt < *d.connectedAt))
                d.connectedAt = tcon.connectedAt;
        }
    }
    // The document lists the tree connects in no useful order: the shares go in connection order.
    for (std::size_t i = 0; i < m_details.size(); ++i) {
        std::vector<std::string>& shares = m_details[i].shares;
        if (shares.size() < 2)
            continue;
        std::vector<std::size_t> order(shares.size());
        for (std::size_t k = 0; k < order.size(); ++k)
            order[k] = k;
        std::stable_sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return connectedAt[i][a] < connectedAt[i][b]; });
        std::vector<std::string> sorted;
        for (std::size_t k : order)
            sorted.push_back(std::move(shares[k]));
        shares = std::move(sorted);
    }
}

FileDetails SmbStatusIndex::fileDetails(std::size_t k) const
{
    const SmbOpen& open = m_data.opens[k];
    FileDetails d;
    d.relativePath = open.filename;
    d.read = open.read;
    d.write = open.write;
    if (open.hasShareMode) {
        if (!open.shareRead && !open.shareWrite)
            d.denyMode = "read/write";
        else
            d.denyMode = !open.shareRead ? "read" : !open.shareWrite ? "write" : "none";
    }
    if (!open.lease.empty())
        d.oplock = "lease " + open.lease;
    else if (open.oplock.empty() || open.oplock == "NONE")
        d.oplock = "none";
    else if (open.oplock.find("BATCH") != std::string::npos)
        d.oplock = "batch";
    else if (open.oplock.find("EXCLUSIVE") != std::string::npos)
        d.oplock = "exclusive";
    else if (open.oplock.find("LEVEL_II") != std::string::npos)
        d.oplock = "level II";
    else
        d.oplock = lowerAscii(open.oplock);
    d.openedAt = open.openedAt;
    d.locks = open.locks;

    // An open names the folder it lies in, not its share: the share is the one of the holding
    // process's tree connects that is named like that folder, else its only one.
    const std::string folder = std::filesystem::path(open.servicePath).filename().string();
    static const std::vector<std::string> none;
    const std::vector<std::string>& shares
        = m_owner[k] >= 0 ? m_details[static_cast<std::size_t>(m_owner[k])].shares : none;
    for (const std::string& share : shares)
        if (sameName(share, folder))
            d.share = share;
    if (d.share.empty())
        d.share = shares.size() == 1 ? shares.front() : folder;
    return d;
}

std::vector<NetSessionInfo> SmbStatusIndex::sessions() const
{
    std::vector<NetSessionInfo> out;
    out.reserve(m_data.sessions.size());
    for (std::size_t i = 0; i < m_data.sessions.size(); ++i)
        out.push_back({ m_data.sessions[i].user, m_data.sessions[i].remoteMachine, m_openCounts[i], m_details[i] });
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
        out.push_back({ listedFileId(open), open.path,
            m_data.sessions[static_cast<std::size_t>(m_owner[k])].remoteMachine, {}, fileDetails(k) });
    }
    return out;
}

std::vector<NetFileInfo> SmbStatusIndex::allFiles() const
{
    std::vector<NetFileInfo> out;
    out.reserve(m_data.opens.size());
    for (std::size_t k = 0; k < m_owner.size(); ++k) {
        if (m_owner[k] < 0)
            continue;
        const SmbOpen& open = m_data.opens[k];
        const SmbSession& session = m_data.sessions[static_cast<std::size_t>(m_owner[k])];
        out.push_back(
            { listedFileId(open), open.path, session.remoteMachine, session.user, fileDetails(k) });
    }
    return out;
}

} // namespace samba

NetStatus srvsvcFailure(const samba::SrvsvcError& e, const std::string& server, const std::string& what,
    const std::optional<std::string>& credentialsFile)
{
    const std::string shown = server.empty() ? std::string("this computer") : "server \"" + server + "\"";
    const std::string account = e.account.empty() ? std::string() : " \"" + e.account + "\"";
    const std::string detail = e.name.empty() ? e.message : e.name;
    if (e.kind == "unreachable")
        return { netcode::BadNetPath,
            what + " failed: " + shown + " cannot be reached (" + cutUtf8(e.message, 200)
                + "). Check its name, and that it runs and shares files over SMB." };
    if (e.kind == "credentials") {
        const std::string problem = e.message == "no Kerberos ticket and no authentication file"
            ? "Vantor has no account to log on to " + shown + " with."
            : "Vantor cannot use its authentication file (" + cutUtf8(e.message, 200) + ").";
        const std::string root = server.empty()
            ? " Even as root, closing one open file goes through Samba's RPC service, which needs an account "
              "of the Samba server in its Administrators group."
            : std::string();
        return { netcode::LogonFailure,
            what + " failed: " + problem + root + " " + credentialsHelp(credentialsFile) };
    }
    if (e.kind == "bindings")
        return { netcode::ToolFailed,
            what + " failed: Samba's Python bindings are missing (" + e.message
                + "). Install them (apt install python3-samba) and try again." };
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
        return { netcode::AccessDenied,
            what + " failed: access was denied to the account" + account + " on " + shown + ": " + needs
                + ". Give Vantor such an account: " + credentialsHelp(credentialsFile) };
    }
    if (e.kind == "werror" && e.name == "WERR_FILE_NOT_FOUND")
        return { netcode::FileIdNotFound,
            what + " failed: the file is no longer open (it may have been closed already)." };
    if (e.kind == "ntstatus"
        && (e.name == "NT_STATUS_LOGON_FAILURE" || e.name == "NT_STATUS_WRONG_PASSWORD"
            || e.name == "NT_STATUS_NO_SUCH_USER" || e.name.starts_with("NT_STATUS_ACCOUNT_")
            || e.name == "NT_STATUS_PASSWORD_EXPIRED"))
        return { netcode::LogonFailure,
            what + " failed: logging on to " + shown + " as" + account + " was refused (" + e.name + "). "
                + credentialsHelp(credentialsFile) };
    if (e.kind == "werror" || e.kind == "ntstatus") {
        // Windows' own number where the server gave one, so that both backends read alike.
        const uint32_t code = e.kind == "werror" && e.code > 0 && e.code < netcode::ToolFailed
            ? static_cast<uint32_t>(e.code)
            : netcode::ToolFailed;
        return { code,
            what + " failed: " + shown + " answered " + cutUtf8(detail, 200)
                + (e.message.empty() || e.message == detail ? std::string()
                                                            : " (" + cutUtf8(e.message, 200) + ")")
                + "." };
    }
    return { netcode::ToolFailed, what + " failed: " + cutUtf8(e.kind + ": " + e.message, 300) };
}

namespace {

std::string defaultSrvsvcHelper()
{
    const std::filesystem::path dir = executableDirectory();
    for (const auto& candidate :
        { dir / "vantor-srvsvc.py", dir / ".." / "share" / "vantor" / "vantor-srvsvc.py" }) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(candidate, ec))
            return candidate.lexically_normal().string();
    }
    return (dir / "vantor-srvsvc.py").string();
}

std::string defaultPython()
{
    std::error_code ec;
    return std::filesystem::exists("/usr/bin/python3", ec) ? std::string("/usr/bin/python3")
                                                           : findProgram("python3");
}

// One request line for the helper.
std::string srvsvcRequest(const std::string& command, nlohmann::json arguments = nlohmann::json::object())
{
    arguments["command"] = command;
    return arguments.dump(-1, ' ', true, nlohmann::json::error_handler_t::replace);
}

} // namespace

SambaNetManagement::SambaNetManagement(SambaOptions options)
    : m_options(std::move(options))
{
    m_options.smbstatus = findProgram(m_options.smbstatus);
    m_options.smbcontrol = findProgram(m_options.smbcontrol);
    m_options.pdbedit = findProgram(m_options.pdbedit);
    m_options.testparm = findProgram(m_options.testparm);
    if (m_options.srvsvcHelper.empty())
        m_options.srvsvcHelper = defaultSrvsvcHelper();
    m_options.python = m_options.python.empty() ? defaultPython() : findProgram(m_options.python);
}

NetStatus SambaNetManagement::callSrvsvc(const std::string& server, const std::string& shownServer,
    const std::string& request, const std::string& what, samba::SrvsvcReply& reply)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(m_options.srvsvcHelper, ec))
        return { netcode::ToolFailed,
            what + " failed: Vantor's helper for the srvsvc service (" + m_options.srvsvcHelper
                + ") is missing. Reinstall Vantor." };

    std::lock_guard lock(m_helperMutex);
    if (m_helper && m_helperServer != server) {
        m_helper->stop();
        m_helper.reset();
    }
    LineHelper::Reply r;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!m_helper || !m_helper->running()) {
            std::vector<std::string> argv { m_options.python, m_options.srvsvcHelper };
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
                    return { netcode::ToolFailed,
                        what + " failed: Python 3 (" + m_options.python
                            + ") was not found. Install it with Samba's bindings (apt install python3-samba)." };
                return { netcode::ToolFailed,
                    what + " failed: Vantor's srvsvc helper could not be started (" + systemErrorText(startError)
                        + ")." };
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
        return { netcode::ToolTimedOut,
            what + " failed: "
                + (shownServer.empty() ? std::string("this computer") : "server \"" + shownServer + "\"")
                + " did not answer within " + seconds(m_options.timeLimit) + "." };
    if (r.outcome == O::TooLong)
        return { netcode::BadToolOutput,
            what + " failed: Vantor's srvsvc helper wrote far more than expected and was stopped." };
    const std::string said = m_helper ? firstLine(m_helper->errorOutput()) : std::string();
    auto parsed = r.outcome == O::Line ? samba::parseSrvsvcReply(r.line) : samba::parseSrvsvcReply("");
    if (!parsed.ok())
        return { netcode::BadToolOutput,
            what + " failed: the answer of Vantor's srvsvc helper could not be read ("
                + cutUtf8(parsed.error, 200) + (said.empty() ? std::string() : "; it said: " + said) + ")." };
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

namespace {

// smbstatus 4.17 to 4.23 asserts while it writes an open whose access mask holds WRITE_OWNER as
// JSON ("PANIC: assert failed ... tomap == 0"), exits 1 and writes nothing; a clear failure of
// another kind (no root, no configuration, no tool) would fail the other listings as well.
bool jsonListingBroke(const ProcessResult& r)
{
    if (r.outcome == ProcessResult::Outcome::Signalled)
        return true;
    if (r.outcome != ProcessResult::Outcome::Exited || r.exitCode == 0)
        return false;
    for (const std::string* text : { &r.err, &r.out })
        if (text->find("PANIC") != std::string::npos || text->find("INTERNAL ERROR") != std::string::npos)
            return true;
    return false;
}

std::string panicLine(const ProcessResult& r)
{
    for (const std::string* text : { &r.err, &r.out }) {
        const std::size_t at = text->find("PANIC");
        if (at != std::string::npos)
            return firstLine(text->substr(at));
    }
    return r.outcome == ProcessResult::Outcome::Signalled ? "ended by signal " + std::to_string(r.signal)
                                                          : firstLine(r.err.empty() ? r.out : r.err);
}

} // namespace

ListingNotes SambaNetManagement::listingNotes() const
{
    std::lock_guard lock(m_notesMutex);
    return m_notes;
}

SambaNetManagement::Status SambaNetManagement::runSmbStatusWithoutJsonOpens(const ProcessResult& failed) const
{
    Status s;
    s.notes.route = "text-opens";
    s.notes.routeReason = "\"" + m_options.smbstatus + " --json\" failed (" + panicLine(failed) + ")";
    s.notes.routeMissing = "the open files' share_file_id, so that one of them cannot be closed alone";
    const std::string what = "Listing the Samba sessions";
    samba::SmbStatusData data;
    // The sessions and the tree connects as JSON, which they always can be; the opens and their
    // byte-range locks as text. The three runs go at once: each costs a process start, and one
    // after another they took three times the JSON run.
    auto jsonArgs = [&](const char* part) {
        auto args = toolArgs(m_options.smbstatus);
        args.push_back("--json");
        args.push_back(part);
        return args;
    };
    auto textArgs = toolArgs(m_options.smbstatus);
    textArgs.push_back("-L");
    textArgs.push_back("-B");
    ProcessResult sessionsRun, tconsRun;
    std::thread sessionsThread([&] { sessionsRun = run(jsonArgs("-b")); });
    std::thread tconsThread([&] { tconsRun = run(jsonArgs("-S")); });
    ProcessResult r = run(textArgs);
    sessionsThread.join();
    tconsThread.join();
    for (auto [part, result] : { std::pair { "-b", &sessionsRun }, std::pair { "-S", &tconsRun } }) {
        s.status = toolStatus(*result, m_options.smbstatus, what, m_options.timeLimit, m_options.configFile);
        if (!s.status.ok())
            return s;
        const bool sessions = part == std::string("-b");
        auto parsed = samba::parseSmbStatusJson(result->out, sessions);
        if (!parsed.ok()) {
            s.status = { netcode::BadToolOutput,
                what + " failed: the output of \"" + m_options.smbstatus + " --json " + part
                    + "\" could not be read (" + cutUtf8(parsed.error, 300) + ")." };
            return s;
        }
        if (sessions)
            data.sessions = std::move(parsed.value.sessions);
        else
            data.tcons = std::move(parsed.value.tcons);
        for (auto& k : parsed.value.skipped)
            data.skipped.push_back(std::move(k));
    }
    s.status = toolStatus(r, m_options.smbstatus, what, m_options.timeLimit, m_options.configFile);
    if (!s.status.ok())
        return s;
    auto opens = samba::parseSmbStatusLocksText(r.out);
    data.opens = std::move(opens.value.opens);
    for (auto& k : opens.value.skipped)
        data.skipped.push_back(std::move(k));
    for (auto& k : data.skipped)
        s.notes.skipped.push_back({ std::move(k.cause), std::move(k.text) });
    data.skipped.clear();
    s.index = std::make_shared<const samba::SmbStatusIndex>(std::move(data));
    return s;
}

SambaNetManagement::Status SambaNetManagement::runSmbStatus()
{
    // While the text listing shows an open that breaks the JSON one, asking for the JSON first
    // would only add a failing run to every poll.
    if (m_jsonBroke) {
        Status s = runSmbStatusWithoutJsonOpens(*m_jsonBroke);
        if (!s.status.ok() || std::none_of(s.index->data().opens.begin(), s.index->data().opens.end(),
                [](const samba::SmbOpen& o) { return o.writeOwner; }))
            m_jsonBroke.reset();
        return s;
    }
    Status s;
    auto args = toolArgs(m_options.smbstatus);
    args.push_back("--json");
    // The whole document and its byte-range locks: the lock count of each open file.
    args.push_back("-B");
    ProcessResult r = run(args);
    if (jsonListingBroke(r)) {
        Status fallback = runSmbStatusWithoutJsonOpens(r);
        if (fallback.status.ok() && std::any_of(fallback.index->data().opens.begin(), fallback.index->data().opens.end(),
                [](const samba::SmbOpen& o) { return o.writeOwner; }))
            m_jsonBroke = r;
        return fallback;
    }
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
    for (auto& k : parsed.value.skipped)
        s.notes.skipped.push_back({ std::move(k.cause), std::move(k.text) });
    parsed.value.skipped.clear();
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
        return { NetStatus::success(), m_kept, m_keptNotes };
    Status s = runSmbStatus();
    if (s.status.ok() && m_options.reuseWindow.count() > 0) {
        m_kept = s.index;
        m_keptNotes = s.notes;
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

template <class Row>
std::optional<NetStatus> SambaNetManagement::listFromServer(const ServerName& server, const std::string& request,
    const std::string& what, std::vector<Row> samba::SrvsvcReply::*rows, std::vector<Row>& out)
{
    if (!server || server->empty())
        return std::nullopt;
    const std::string name = bareServer(*server);
    if (!usableServerName(name))
        return badServerName(*server);
    samba::SrvsvcReply reply;
    NetStatus st = callSrvsvc(name, name, request, what + " \"" + name + "\"", reply);
    if (st.ok())
        out = std::move(reply.*rows);
    return st;
}

NetStatus SambaNetManagement::enumSessions(const ServerName& server, std::vector<NetSessionInfo>& out)
{
    out.clear();
    {
        std::lock_guard lock(m_notesMutex);
        m_notes = {};
    }
    if (auto st = listFromServer(server, srvsvcRequest("sessions"), "Listing the sessions of server",
                                 &samba::SrvsvcReply::sessions, out))
        return *st;
    // This computer is monitored now: the helper of a server monitored before has no more use.
    stopRemoteHelper();
    Status s = status();
    {
        std::lock_guard lock(m_notesMutex);
        m_notes = s.notes;
    }
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
    if (auto st = listFromServer(server, srvsvcRequest("files", { { "user", user } }),
                                 "Listing the open files of " + user + " on server", &samba::SrvsvcReply::files, out))
        return *st;
    Status s = status();
    if (!s.status.ok())
        return s.status;
    out = s.index->filesOf(user);
    return NetStatus::success();
}

NetStatus SambaNetManagement::deleteSession(
    const ServerName& server, const std::string& computer, const std::string& user)
{
    return deleteSessions(server, { { computer, user } }).front();
}

std::vector<NetStatus> SambaNetManagement::deleteSessions(
    const ServerName& server, const std::vector<SessionKey>& sessions)
{
    std::vector<NetStatus> statuses;
    statuses.reserve(sessions.size());
    if (server && !server->empty()) {
        const std::string name = bareServer(*server);
        for (const auto& key : sessions) {
            if (!usableServerName(name)) {
                statuses.push_back(badServerName(*server));
                continue;
            }
            // The service takes the computer as "\\name" as well.
            samba::SrvsvcReply reply;
            statuses.push_back(callSrvsvc(name, name,
                srvsvcRequest("close-session", { { "client", bareServer(key.computer) }, { "user", key.user } }),
                "Closing the session of " + key.user + " on server \"" + name + "\"", reply));
        }
        return statuses;
    }
    if (sessions.empty())
        return statuses;

    // One smbstatus run for every close: the poll's own when it is recent enough.
    Status s = status();
    if (!s.status.ok()) {
        statuses.assign(sessions.size(), s.status);
        return statuses;
    }
    std::set<int32_t> ended;
    for (const auto& key : sessions) {
        const std::string client = bareServer(key.computer);
        std::vector<int32_t> pids;
        for (const auto& session : s.index->data().sessions) {
            if (!sameName(session.user, key.user) || !sameName(session.remoteMachine, client))
                continue;
            if (std::find(pids.begin(), pids.end(), session.pid) == pids.end())
                pids.push_back(session.pid);
        }
        if (pids.empty()) {
            statuses.push_back({ netcode::ClientNameNotFound,
                "No session of user \"" + key.user + "\" from computer \"" + client
                    + "\" was found: it may have ended already." });
            continue;
        }
        NetStatus result = NetStatus::success();
        for (int32_t pid : pids) {
            // A process that served two of the pairs is ended once.
            if (!ended.insert(pid).second)
                continue;
            auto args = toolArgs(m_options.smbcontrol);
            args.push_back(std::to_string(pid));
            args.push_back("shutdown");
            NetStatus one = toolStatus(run(args), m_options.smbcontrol, "Closing the session of " + key.user,
                m_options.timeLimit, m_options.configFile);
            if (!one.ok() && result.ok())
                result = one;
        }
        statuses.push_back(std::move(result));
    }
    // The sessions have changed: the next enumeration must see that.
    invalidate();
    return statuses;
}

NetStatus SambaNetManagement::enumAllFiles(const ServerName& server, std::vector<NetFileInfo>& out)
{
    out.clear();
    if (auto st = listFromServer(server, srvsvcRequest("files"), "Listing the open files on server",
                                 &samba::SrvsvcReply::files, out))
        return *st;
    Status s = status();
    if (!s.status.ok())
        return s.status;
    out = s.index->allFiles();
    return NetStatus::success();
}

NetStatus SambaNetManagement::enumShares(const ServerName& server, std::vector<NetShareInfo>& out)
{
    out.clear();
    if (auto st = listFromServer(server, srvsvcRequest("shares"), "Listing the shares of server",
                                 &samba::SrvsvcReply::shares, out))
        return *st;

    // The configuration rarely changes, and testparm reads all of it (includes too): read it again
    // only when the file changed, or a while after it could not be read. A change in an included
    // file alone shows once smbd's own file is touched, as for "smbcontrol reload-config".
    std::optional<std::tuple<int64_t, uintmax_t, uintmax_t>> state;
    {
        const std::string file = m_options.configFile ? *m_options.configFile : std::string("/etc/samba/smb.conf");
        struct stat st {};
        if (::stat(file.c_str(), &st) == 0)
            state = std::tuple<int64_t, uintmax_t, uintmax_t>(
                static_cast<int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec,
                static_cast<uintmax_t>(st.st_size), static_cast<uintmax_t>(st.st_ino));
    }
    std::lock_guard lock(m_sharesMutex);
    const auto t = now();
    const bool fresh = m_sharesReadAt && m_sharesFileState == state
        && (m_sharesStatus.ok() || t - *m_sharesReadAt < std::chrono::minutes(1));
    if (!fresh) {
        std::vector<std::string> args { m_options.testparm, "--suppress-prompt" };
        if (m_options.configFile)
            args.push_back(*m_options.configFile);
        ProcessResult r = run(args);
        m_sharesStatus = toolStatus(r, m_options.testparm, "Listing the Samba shares", m_options.timeLimit,
            m_options.configFile);
        m_shares = m_sharesStatus.ok() ? samba::parseTestparmShares(r.out) : std::vector<NetShareInfo> {};
        m_sharesFileState = state;
        m_sharesReadAt = t;
    }
    out = m_shares;
    return m_sharesStatus;
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

NetStatus SambaNetManagement::closeFile(const ServerName& server, uint32_t fileId)
{
    samba::SrvsvcReply reply;
    if (server && !server->empty()) {
        const std::string name = bareServer(*server);
        if (!usableServerName(name))
            return badServerName(*server);
        NetStatus st = callSrvsvc(name, name, srvsvcRequest("close-file", { { "id", fileId } }),
            "Closing the open file on server \"" + name + "\"", reply);
        if (st.code == netcode::FileIdNotFound && stillOpen(server, fileId) == false)
            return NetStatus::success();
        return st;
    }
    // An open listed without its share_file_id has no name the srvsvc service knows.
    if (fileId & 0x80000000u) {
        Status s = status();
        if (s.status.ok())
            for (const samba::SmbOpen& open : s.index->data().opens)
                if (!open.hasShareFileId && samba::listedFileId(open) == fileId)
                    return { netcode::NotSupported,
                        "Closing the open file failed: smbstatus cannot list the open files with their "
                        "identifiers while one is open with full access (WRITE_OWNER), so this file cannot be "
                        "closed alone now. Close the session that holds it instead." };
    }
    // smbcontrol has no message that closes one file; the srvsvc service of this computer's smbd
    // does, reached over loopback on the configuration's "smb ports".
    NetStatus st = callSrvsvc(
        "127.0.0.1", "", srvsvcRequest("close-file", { { "id", fileId } }), "Closing the open file", reply);
    invalidate();
    if (st.code == netcode::FileIdNotFound && stillOpen(server, fileId) == false)
        return NetStatus::success();
    return st;
}

std::optional<bool> SambaNetManagement::stillOpen(const ServerName& server, uint32_t fileId)
{
    // Samba 4.22 closes the file and answers WERR_FILE_NOT_FOUND: what counts is whether it is
    // still listed.
    std::vector<NetFileInfo> files;
    if (!enumAllFiles(server, files).ok())
        return std::nullopt;
    return std::any_of(files.begin(), files.end(), [&](const NetFileInfo& f) { return f.id == fileId; });
}

std::unique_ptr<NetManagement> createPlatformNetManagement(const PlatformNetOptions& options)
{
    SambaOptions samba;
    samba.configFile = options.sambaConfig;
    if (options.dataDir)
        samba.credentialsFile = (*options.dataDir / "credentials").string();
    return std::make_unique<SambaNetManagement>(std::move(samba));
}

} // namespace vantor
