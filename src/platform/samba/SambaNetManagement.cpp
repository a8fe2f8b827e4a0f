#include "platform/samba/SambaNetManagement.h"

#include "platform/PlatformNetManagement.h"
#include "platform/Process.h"
#include "platform/samba/SambaTools.h"
#include "platform/samba/TestparmParser.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <set>
#include <sys/stat.h>
#include <thread>

namespace vantor {

using samba::badServerName;
using samba::bareServer;
using samba::firstLine;
using samba::sameName;
using samba::toolStatus;
using samba::usableServerName;

namespace {

// One request line for the helper.
std::string srvsvcRequest(const std::string& command, nlohmann::json arguments = nlohmann::json::object())
{
    arguments["command"] = command;
    return arguments.dump(-1, ' ', true, nlohmann::json::error_handler_t::replace);
}

}  // namespace

SambaNetManagement::SambaNetManagement(SambaOptions options)
    : m_options(std::move(options))
{
    m_options.smbstatus = findProgram(m_options.smbstatus);
    m_options.smbcontrol = findProgram(m_options.smbcontrol);
    m_options.pdbedit = findProgram(m_options.pdbedit);
    m_options.testparm = findProgram(m_options.testparm);
    if (m_options.srvsvcHelper.empty())
        m_options.srvsvcHelper = samba::defaultSrvsvcHelper();
    m_options.python = m_options.python.empty() ? samba::defaultPython() : findProgram(m_options.python);
}

std::chrono::steady_clock::time_point SambaNetManagement::now() const
{
    return m_options.now ? m_options.now() : std::chrono::steady_clock::now();
}

std::vector<std::string> SambaNetManagement::toolArgs(const std::string& tool) const
{
    std::vector<std::string> args{tool};
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
    for (const std::string* text : {&r.err, &r.out})
        if (text->find("PANIC") != std::string::npos || text->find("INTERNAL ERROR") != std::string::npos)
            return true;
    return false;
}

std::string panicLine(const ProcessResult& r)
{
    for (const std::string* text : {&r.err, &r.out}) {
        const std::size_t at = text->find("PANIC");
        if (at != std::string::npos)
            return firstLine(text->substr(at));
    }
    return r.outcome == ProcessResult::Outcome::Signalled ? "ended by signal " + std::to_string(r.signal)
                                                          : firstLine(r.err.empty() ? r.out : r.err);
}

}  // namespace

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
    for (auto [part, result] : {std::pair{"-b", &sessionsRun}, std::pair{"-S", &tconsRun}}) {
        s.status = toolStatus(*result, m_options.smbstatus, what, m_options.timeLimit, m_options.configFile);
        if (!s.status.ok())
            return s;
        const bool sessions = part == std::string("-b");
        auto parsed = samba::parseSmbStatusJson(result->out, sessions);
        if (!parsed.ok()) {
            s.status = {netcode::BadToolOutput, what + " failed: the output of \"" + m_options.smbstatus + " --json "
                                                    + part + "\" could not be read (" + cutUtf8(parsed.error, 300)
                                                    + ")."};
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
        s.notes.skipped.push_back({std::move(k.cause), std::move(k.text)});
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
        if (!s.status.ok()
            || std::none_of(s.index->data().opens.begin(), s.index->data().opens.end(),
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
        if (fallback.status.ok()
            && std::any_of(fallback.index->data().opens.begin(), fallback.index->data().opens.end(),
                           [](const samba::SmbOpen& o) { return o.writeOwner; }))
            m_jsonBroke = r;
        return fallback;
    }
    s.status =
        toolStatus(r, m_options.smbstatus, "Listing the Samba sessions", m_options.timeLimit, m_options.configFile);
    if (!s.status.ok())
        return s;
    auto parsed = samba::parseSmbStatusJson(r.out);
    if (!parsed.ok()) {
        s.status = {netcode::BadToolOutput, "Listing the Samba sessions failed: the output of \"" + m_options.smbstatus
                                                + "\" could not be read (" + cutUtf8(parsed.error, 300)
                                                + "). Vantor needs Samba 4.16 or later (smbstatus --json)."};
        return s;
    }
    for (auto& k : parsed.value.skipped)
        s.notes.skipped.push_back({std::move(k.cause), std::move(k.text)});
    parsed.value.skipped.clear();
    s.index = std::make_shared<const samba::SmbStatusIndex>(std::move(parsed.value));
    return s;
}

SambaNetManagement::Status SambaNetManagement::status()
{
    // Held over the run: calls of one poll that come together share one run instead of racing.
    std::lock_guard lock(m_mutex);
    const auto t = now();
    if (m_keptAt && m_options.reuseWindow.count() > 0 && t >= *m_keptAt && t - *m_keptAt <= m_options.reuseWindow)
        return {NetStatus::success(), m_kept, m_keptNotes};
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
        && (r.err.find("Can't find pid") != std::string::npos || r.out.find("Can't find pid") != std::string::npos)) {
        return {netcode::ServiceNotRunning,
                "The Samba server (smbd) is not running, so no sessions can be listed. Start it with \"systemctl "
                "start smbd\""
                    + (m_options.configFile ? " (or the smbd of " + *m_options.configFile + ")" : std::string())
                    + " and Vantor will show its sessions at the next poll."};
    }
    return toolStatus(r, m_options.smbcontrol, "Checking the Samba server", m_options.timeLimit, m_options.configFile);
}

template <class Row>
std::optional<NetStatus>
SambaNetManagement::listFromServer(const ServerName& server, const std::string& request, const std::string& what,
                                   std::vector<Row> samba::SrvsvcReply::*rows, std::vector<Row>& out)
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

NetStatus SambaNetManagement::enumFiles(const ServerName& server, const std::string& user,
                                        std::vector<NetFileInfo>& out)
{
    out.clear();
    if (auto st = listFromServer(server, srvsvcRequest("files", {{"user", user}}),
                                 "Listing the open files of " + user + " on server", &samba::SrvsvcReply::files, out))
        return *st;
    Status s = status();
    if (!s.status.ok())
        return s.status;
    out = s.index->filesOf(user);
    return NetStatus::success();
}

NetStatus SambaNetManagement::deleteSession(const ServerName& server, const std::string& computer,
                                            const std::string& user)
{
    return deleteSessions(server, {{computer, user}}).front();
}

std::vector<NetStatus> SambaNetManagement::deleteSessions(const ServerName& server,
                                                          const std::vector<SessionKey>& sessions)
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
            statuses.push_back(callSrvsvc(
                name, name, srvsvcRequest("close-session", {{"client", bareServer(key.computer)}, {"user", key.user}}),
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
            statuses.push_back({netcode::ClientNameNotFound, "No session of user \"" + key.user + "\" from computer \""
                                                                 + client
                                                                 + "\" was found: it may have ended already."});
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
        struct stat st { };
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
        std::vector<std::string> args{m_options.testparm, "--suppress-prompt"};
        if (m_options.configFile)
            args.push_back(*m_options.configFile);
        ProcessResult r = run(args);
        m_sharesStatus =
            toolStatus(r, m_options.testparm, "Listing the Samba shares", m_options.timeLimit, m_options.configFile);
        m_shares = m_sharesStatus.ok() ? samba::parseTestparmShares(r.out) : std::vector<NetShareInfo>{};
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
    NetStatus st =
        toolStatus(r, m_options.pdbedit, "Listing the Samba accounts", m_options.timeLimit, m_options.configFile);
    if (!st.ok())
        return st;
    auto parsed = samba::parsePdbeditList(r.out);
    if (!parsed.ok())
        return {netcode::BadToolOutput, "Listing the Samba accounts failed: the output of \"" + m_options.pdbedit
                                            + "\" could not be read (" + parsed.error + ")."};
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
        NetStatus st = callSrvsvc(name, name, srvsvcRequest("close-file", {{"id", fileId}}),
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
                    return {netcode::NotSupported,
                            "Closing the open file failed: smbstatus cannot list the open files with their "
                            "identifiers while one is open with full access (WRITE_OWNER), so this file cannot be "
                            "closed alone now. Close the session that holds it instead."};
    }
    // smbcontrol has no message that closes one file; the srvsvc service of this computer's smbd
    // does, reached over loopback on the configuration's "smb ports".
    NetStatus st =
        callSrvsvc("127.0.0.1", "", srvsvcRequest("close-file", {{"id", fileId}}), "Closing the open file", reply);
    invalidate();
    if (st.code == netcode::FileIdNotFound && stillOpen(server, fileId) == false)
        return NetStatus::success();
    return st;
}

std::optional<bool> SambaNetManagement::stillOpen(const ServerName& server, uint32_t fileId)
{
    // The smbd that holds the file closes it when the message of the srvsvc call reaches it, which
    // may be after the answer (and 4.22 answers WERR_FILE_NOT_FOUND even when it works): what
    // counts is whether the file is still listed once that smbd has had a moment.
    auto wait = std::chrono::milliseconds(50);
    std::chrono::milliseconds waited{0};
    for (;;) {
        std::vector<NetFileInfo> files;
        if (!enumAllFiles(server, files).ok())
            return std::nullopt;
        if (std::none_of(files.begin(), files.end(), [&](const NetFileInfo& f) { return f.id == fileId; }))
            return false;
        if (waited + wait > m_options.closeSettle)
            return true;
        std::this_thread::sleep_for(wait);
        waited += wait;
        wait *= 2;
        invalidate();  // this computer's listing is otherwise the kept smbstatus run
    }
}

std::unique_ptr<NetManagement> createPlatformNetManagement(const PlatformNetOptions& options)
{
    SambaOptions samba;
    samba.configFile = options.sambaConfig;
    if (options.dataDir)
        samba.credentialsFile = (*options.dataDir / "credentials").string();
    return std::make_unique<SambaNetManagement>(std::move(samba));
}

}  // namespace vantor
