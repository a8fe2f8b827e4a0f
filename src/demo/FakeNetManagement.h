#pragma once
// An in-memory network-management service. Tests script it (sessions, open files, accounts and
// the statuses to answer); the demo replays a scenario of clients that come and go over time.

#include "platform/Clock.h"
#include "platform/NetManagement.h"

#include <map>
#include <mutex>
#include <optional>

namespace vantor {

struct FakeSession {
    std::string user;
    std::string computer;
    std::vector<NetFileInfo> files;
    // When set, reported as the session's open count instead of files.size().
    std::optional<uint32_t> openCountOverride;
    SessionDetails details;
};

struct FakeDeleteCall {
    ServerName server;
    std::string computer;
    std::string user;
};

// One step of a demo scenario, `at` seconds after the scenario starts.
struct ScenarioEvent {
    enum class Kind { Connect, Disconnect, Open, Close };
    int64_t at = 0;
    Kind kind = Kind::Connect;
    std::string user;
    std::string computer;
    std::string path;  // Open / Close: "/srv/SHARE/PATH IN THE SHARE"
    bool write = false;  // Open: for reading and writing, else for reading
    uint32_t locks = 0;  // Open: byte-range locks it holds
};

class FakeNetManagement final : public NetManagement {
public:
    enum class Op { EnumSessions, EnumFiles, DeleteSession, EnumUsers, CloseFile, EnumAllFiles, EnumShares };

    NetStatus enumSessions(const ServerName& server, std::vector<NetSessionInfo>& out) override;
    NetStatus enumFiles(const ServerName& server, const std::string& user, std::vector<NetFileInfo>& out) override;
    NetStatus deleteSession(const ServerName& server, const std::string& computer, const std::string& user) override;
    NetStatus enumUsers(std::vector<std::string>& out) override;
    NetStatus closeFile(const ServerName& server, uint32_t fileId) override;
    NetStatus enumAllFiles(const ServerName& server, std::vector<NetFileInfo>& out) override;
    NetStatus enumShares(const ServerName& server, std::vector<NetShareInfo>& out) override;

    // Scripting. All of these are thread-safe.
    void setSessions(std::vector<FakeSession> sessions);
    // Appends a session; returns its index.
    std::size_t addSession(const std::string& user, const std::string& computer, std::vector<std::string> paths = {});
    void setUsers(std::vector<std::string> users);
    // The shares of this computer that enumShares lists.
    void setShares(std::vector<NetShareInfo> shares);
    // Every call of `op` answers `status` until cleared with NetStatus::success().
    void setStatus(Op op, NetStatus status);
    // Only the next call of `op` answers `status`.
    void failNext(Op op, NetStatus status);
    // What listingNotes answers (the route a listing took, the records it left out).
    void setListingNotes(ListingNotes notes);
    ListingNotes listingNotes() const override;
    // Sessions on a named server; a server name with no entry here is unreachable.
    void setServerSessions(const std::string& server, std::vector<FakeSession> sessions);

    std::vector<FakeDeleteCall> deleteCalls() const;
    std::vector<uint32_t> closedFileIds() const;
    int callCount(Op op) const;
    std::vector<FakeSession> sessions() const;

    // Replays `events` against `clock`, starting now; with `loop`, starts over after the last one.
    void playScenario(std::vector<ScenarioEvent> events, const Clock& clock, bool loop);

    static NetStatus unreachable(const std::string& server);

private:
    std::optional<NetStatus> takeStatus(Op op);
    std::vector<FakeSession>* sessionsFor(const ServerName& server);
    void advanceScenario();
    uint32_t nextFileId() { return m_nextFileId++; }

    mutable std::mutex m_mutex;
    ListingNotes m_notes;
    std::vector<FakeSession> m_local;
    std::map<std::string, std::vector<FakeSession>> m_servers;
    std::vector<std::string> m_users;
    std::vector<NetShareInfo> m_shares;
    std::map<Op, NetStatus> m_sticky;
    std::map<Op, NetStatus> m_once;
    std::map<Op, int> m_calls;
    std::vector<FakeDeleteCall> m_deleteCalls;
    std::vector<uint32_t> m_closedFiles;
    uint32_t m_nextFileId = 1;

    std::vector<ScenarioEvent> m_scenario;
    const Clock* m_scenarioClock = nullptr;
    int64_t m_scenarioStart = 0;
    std::size_t m_scenarioNext = 0;
    bool m_scenarioLoop = false;
};

// The demo's scenario: a few clients that connect, hold files and folders open, and leave.
std::vector<ScenarioEvent> demoScenario();

}  // namespace vantor
