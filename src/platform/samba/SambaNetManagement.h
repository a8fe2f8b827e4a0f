#pragma once
// The network-management service of Linux: Samba's tools. On this computer `smbstatus --json` lists
// the sessions and open files, `smbcontrol <pid> shutdown` ends a session, `pdbedit -L` lists the
// accounts. A named server, and closing one open file anywhere, go through the server's srvsvc
// service (the calls NetApi32 makes on Windows), spoken by vantor-srvsvc.py over Samba's Python
// bindings. The helper stays running for the server in use (a Python start and a logon cost more
// than a poll may), takes one request at a time over its standard input, is started again when it
// has died, and is stopped when another server is asked.

#include "platform/NetManagement.h"
#include "platform/Process.h"
#include "platform/samba/SmbStatusIndex.h"
#include "platform/samba/SrvsvcReply.h"

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <tuple>

namespace vantor {

// The status a caller shows for a failed srvsvc call. `server` is the name the user gave ("" for
// this computer), `what` names the work ("Listing the sessions of server X").
NetStatus srvsvcFailure(const samba::SrvsvcError& error, const std::string& server, const std::string& what,
                        const std::optional<std::string>& credentialsFile);

struct SambaOptions {
    // Passed to every tool as "-s FILE"; none: Samba's default configuration.
    std::optional<std::string> configFile;
    // A name is looked up on PATH and in the usual folders; tests point these at scripts.
    std::string smbstatus = "smbstatus";
    std::string smbcontrol = "smbcontrol";
    std::string pdbedit = "pdbedit";
    std::string testparm = "testparm";
    // The srvsvc helper and the Python with Samba's bindings that runs it. Empty helper: the
    // vantor-srvsvc.py installed beside the program. Empty python: Debian's /usr/bin/python3 (an
    // interpreter of pyenv or a venv first on PATH has no python3-samba).
    std::string srvsvcHelper;
    std::string python;
    // The Samba authentication file (the format of -A) used when there is no Kerberos ticket.
    std::optional<std::string> credentialsFile;
    bool useKerberos = true;
    std::chrono::milliseconds timeLimit{10'000};
    // One poll enumerates the sessions and, right after, the open files of the selected row and of
    // every newcomer: within this window they all read one smbstatus run. Zero: every call runs it.
    std::chrono::milliseconds reuseWindow{1'000};
    // How long a file that the server answered "not found" for may stay listed after its close
    // before the close counts as failed.
    std::chrono::milliseconds closeSettle{1'600};
    // "Now" for the reuse window; empty: the steady clock.
    std::function<std::chrono::steady_clock::time_point()> now;
    // Runs a tool; empty: runProcess. The bench replaces it to time everything but the tool.
    std::function<ProcessResult(const std::vector<std::string>&, const ProcessOptions&)> run;
};

class SambaNetManagement final : public NetManagement {
public:
    explicit SambaNetManagement(SambaOptions options = {});

    NetStatus enumSessions(const ServerName& server, std::vector<NetSessionInfo>& out) override;
    NetStatus enumFiles(const ServerName& server, const std::string& user, std::vector<NetFileInfo>& out) override;
    NetStatus deleteSession(const ServerName& server, const std::string& computer, const std::string& user) override;
    NetStatus enumUsers(std::vector<std::string>& out) override;
    NetStatus closeFile(const ServerName& server, uint32_t fileId) override;
    NetStatus enumAllFiles(const ServerName& server, std::vector<NetFileInfo>& out) override;
    // On this computer the shares of the configuration (testparm), read again when the file changes.
    NetStatus enumShares(const ServerName& server, std::vector<NetShareInfo>& out) override;
    // On this computer one smbstatus run (the poll's own, when it is recent) serves them all.
    std::vector<NetStatus> deleteSessions(const ServerName& server, const std::vector<SessionKey>& sessions) override;

    // Forgets a kept smbstatus result (after anything that changes the sessions).
    void invalidate();

    // The srvsvc helper's process, while one runs (tests end it to see it started again).
    std::optional<pid_t> srvsvcHelperPid();
    // The server the running helper talks to; empty when none runs.
    std::string srvsvcHelperServer();

    const SambaOptions& options() const { return m_options; }
    ListingNotes listingNotes() const override;

private:
    struct Status {
        NetStatus status;
        std::shared_ptr<const samba::SmbStatusIndex> index;
        ListingNotes notes;
    };
    // The parsed smbstatus document, run now or reused from within the window.
    Status status();
    Status runSmbStatus();
    // The listing without the JSON one of the open files, which smbstatus cannot always write.
    Status runSmbStatusWithoutJsonOpens(const ProcessResult& failed) const;
    // Whether an open the enumeration listed (by its id) is still open within closeSettle: closes
    // that the server answers with "not found" may have worked.
    std::optional<bool> stillOpen(const ServerName& server, uint32_t fileId);
    NetStatus checkServerRunning() const;
    NetStatus closeLocalSessions(const samba::SmbStatusIndex& index, const std::string& computer,
                                 const std::string& user);
    void stopRemoteHelper();
    std::vector<std::string> toolArgs(const std::string& tool) const;
    ProcessResult run(const std::vector<std::string>& argv) const;
    // One srvsvc call on `server` (a name, or 127.0.0.1 for this computer): its reply, or the
    // status a person can act on.
    NetStatus callSrvsvc(const std::string& server, const std::string& shownServer, const std::string& request,
                         const std::string& what, samba::SrvsvcReply& reply);
    // A listing of a named server through srvsvc into `out` (`what` is said before the server's
    // name); nothing when `server` names this computer, which is listed locally instead.
    template <class Row>
    std::optional<NetStatus> listFromServer(const ServerName& server, const std::string& request,
                                            const std::string& what, std::vector<Row> samba::SrvsvcReply::*rows,
                                            std::vector<Row>& out);
    std::chrono::steady_clock::time_point now() const;

    SambaOptions m_options;
    std::mutex m_mutex;
    std::optional<std::chrono::steady_clock::time_point> m_keptAt;
    std::shared_ptr<const samba::SmbStatusIndex> m_kept;
    ListingNotes m_keptNotes;
    // The JSON listing failed and an open that breaks it was listed since: the poll goes straight
    // to the other listings until none is (under m_mutex).
    std::optional<ProcessResult> m_jsonBroke;
    mutable std::mutex m_notesMutex;
    ListingNotes m_notes;  // of the last enumSessions of this computer

    // The shares of the configuration, and what the configuration file looked like when they were
    // read: its modification time, size and inode (none: it could not be seen).
    std::mutex m_sharesMutex;
    std::optional<std::tuple<int64_t, uintmax_t, uintmax_t>> m_sharesFileState;
    std::optional<std::chrono::steady_clock::time_point> m_sharesReadAt;
    NetStatus m_sharesStatus;
    std::vector<NetShareInfo> m_shares;

    // Held over a whole request: the helper answers one at a time.
    std::mutex m_helperMutex;
    std::unique_ptr<LineHelper> m_helper;
    std::string m_helperServer;
};

}  // namespace vantor
