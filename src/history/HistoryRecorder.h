#pragma once
// Writes the history as the monitor sees it. After every successful poll it notes the sessions that
// appeared (their start is that poll's time), writes the users.log line of each session that is gone
// (its end is the last poll that saw it), and writes a files.log line the first time a session is
// seen holding a file open. At "Exit", finish() writes the sessions still open.
//
// Sessions are known only by user and computer, so two sessions of one pair are told apart by
// count: when a pair has more sessions than before, the new ones start now; when it has fewer, the
// newest end, so a long session outlives the short ones beside it. A file line of a pair lies in
// the window of every session of the pair open at that moment, which the reader counts for each, so
// a path already logged for an open session of the pair is not logged again for the pair.
//
// The service names the computer holding each file where it can (Samba does). Where it cannot
// (NetApi32), or names one that no session shows, a file goes to the user's sessions that report
// open files, or to all the user's sessions if none does: a file line too many is better than a file
// lost from the history. A file at the computer of another user's session (the service matches
// user names without regard to case) is left to that user's own enumeration.
//
// `noHistory` stops every line and `logOpenedFiles` 0 stops file lines (the files are then not
// enumerated at all); the sessions are followed all the same, so a session that began while history
// was off and ends after it is turned on is written with its real start. GUI thread only.

#include "monitor/MonitorSettings.h"
#include "monitor/SessionMonitor.h"
#include "platform/NetManagement.h"

#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace vantor {

class HistoryRecorder final : public PollObserver {
public:
    HistoryRecorder(NetManagement& net, const MonitorSettings& settings, std::filesystem::path dataDir);

    void sessionsPolled(int64_t now, const ServerName& server, const std::vector<SessionEntry>& kept) override;

    // Writes every session still open as ending at `now` and forgets them (at "Exit").
    void finish(int64_t now);

    struct OpenSession {
        std::string user;
        std::string computer;
        int64_t start = 0;
        int64_t lastSeen = 0;
        std::set<std::string> loggedPaths;
    };
    // Grows each time lines are added to the logs: whoever keeps a copy of the history (the report)
    // compares it to know whether that copy is out of date.
    uint64_t writes() const { return m_writes; }

    // In the order they began.
    const std::vector<OpenSession>& openSessions() const { return m_open; }

private:
    void endSession(const OpenSession& s, int64_t end, std::string& usersLines) const;
    void recordFiles(int64_t now, const ServerName& server, const std::vector<SessionEntry>& kept,
                     std::string& filesLines);
    void write(const std::string& usersLines, const std::string& filesLines) const;

    NetManagement& m_net;
    const MonitorSettings& m_settings;
    std::filesystem::path m_dataDir;
    std::vector<OpenSession> m_open;
    std::optional<ServerName> m_server;  // the server of the last poll
    int64_t m_lastNow = 0;               // time never runs backwards within the history
    mutable uint64_t m_writes = 0;
};

}  // namespace vantor
