#pragma once
// The network-management service of Linux: Samba's tools. `smbstatus --json` lists the sessions and
// open files, `smbcontrol <pid> shutdown` ends a session, `pdbedit -L` lists the accounts.

#include "platform/NetManagement.h"
#include "platform/Process.h"
#include "platform/samba/SmbStatusParser.h"

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

namespace vantor {

namespace samba {

// One smbstatus document ready for the service's questions: each session's open count and each
// user's opens, worked out once, so that the open files of every newcomer of a poll cost no more
// than reading them.
class SmbStatusIndex {
public:
    explicit SmbStatusIndex(SmbStatusData data);

    const SmbStatusData& data() const { return m_data; }
    std::vector<NetSessionInfo> sessions() const;
    // Every open of a session of `user` (any case), in the document's order.
    std::vector<NetFileInfo> filesOf(const std::string& user) const;

private:
    SmbStatusData m_data;
    std::vector<uint32_t> m_openCounts;
    std::unordered_map<std::string, std::vector<std::size_t>> m_opensByUser; // lower-case user
    std::vector<int> m_owner;
};

} // namespace samba

struct SambaOptions {
    // Passed to every tool as "-s FILE"; none: Samba's default configuration.
    std::optional<std::string> configFile;
    // A name is looked up on PATH and in the usual folders; tests point these at scripts.
    std::string smbstatus = "smbstatus";
    std::string smbcontrol = "smbcontrol";
    std::string pdbedit = "pdbedit";
    std::chrono::milliseconds timeLimit { 10'000 };
    // One poll enumerates the sessions and, right after, the open files of the selected row and of
    // every newcomer: within this window they all read one smbstatus run. Zero: every call runs it.
    std::chrono::milliseconds reuseWindow { 1'000 };
    // "Now" for the reuse window; empty: the steady clock.
    std::function<std::chrono::steady_clock::time_point()> now;
    // Runs a tool; empty: runProcess. The bench replaces it to time everything but the tool.
    std::function<ProcessResult(const std::vector<std::string>&, const ProcessOptions&)> run;
};

class SambaNetManagement final : public NetManagement {
public:
    explicit SambaNetManagement(SambaOptions options = {});

    NetStatus enumSessions(const ServerName& server, std::vector<NetSessionInfo>& out) override;
    NetStatus enumFiles(
        const ServerName& server, const std::string& user, std::vector<NetFileInfo>& out) override;
    NetStatus deleteSession(
        const ServerName& server, const std::string& computer, const std::string& user) override;
    NetStatus enumUsers(std::vector<std::string>& out) override;
    NetStatus closeFile(const ServerName& server, uint32_t fileId) override;

    // Forgets a kept smbstatus result (after anything that changes the sessions).
    void invalidate();

    const SambaOptions& options() const { return m_options; }

private:
    struct Status {
        NetStatus status;
        std::shared_ptr<const samba::SmbStatusIndex> index;
    };
    // The parsed smbstatus document, run now or reused from within the window.
    Status status();
    Status runSmbStatus() const;
    NetStatus checkServerRunning() const;
    std::vector<std::string> toolArgs(const std::string& tool) const;
    ProcessResult run(const std::vector<std::string>& argv) const;
    std::chrono::steady_clock::time_point now() const;

    SambaOptions m_options;
    std::mutex m_mutex;
    std::optional<std::chrono::steady_clock::time_point> m_keptAt;
    std::shared_ptr<const samba::SmbStatusIndex> m_kept;
};

} // namespace vantor
