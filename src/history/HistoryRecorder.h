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
// was off and ends after it is turned on is written with its real start.
//
// The service keeps the open sessions in its data folder (keepStateIn), rewritten whenever they
// change and at least once a minute, so that after a restart, planned or not, a session that is
// still there goes on with its start and its logged files instead of being cut in two.
//
// A line that cannot be written (a full disk) is kept and written before the next ones, so the logs
// lose nothing and keep their order; onWriteFailed and onWriteRecovered tell of it.
//
// The open files of every user come from one enumeration per poll, grouped by user here (one call
// per user only where the service cannot list them all at once). That enumeration waits on the
// service and the lines on the disk, so the program calls record() on a worker of its own, in the
// order of the polls, with the options as they stood at the poll; one thread at a time.

#include "monitor/MonitorSettings.h"
#include "monitor/SessionMonitor.h"
#include "platform/NetManagement.h"
#include "history/SessionState.h"
#include "platform/OrderedWorker.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace vantor {

class HistoryRecorder final : public PollObserver {
public:
    HistoryRecorder(NetManagement& net, const MonitorSettings& settings, std::filesystem::path dataDir);

    // The options that decide what is written, as they stood at one poll.
    struct Flags {
        int32_t noHistory = 0;
        int32_t logOpenedFiles = 1;
    };
    static Flags flagsOf(const MonitorSettings& settings) { return {settings.noHistory, settings.logOpenedFiles}; }

    // One poll, with the options as they are now.
    void sessionsPolled(int64_t now, const ServerName& server, const std::vector<SessionEntry>& kept) override;
    void record(int64_t now, const ServerName& server, const std::vector<SessionEntry>& kept, Flags flags);

    // Writes every session still open as ending at `now` and forgets them (at "Exit").
    void finish(int64_t now);

    using OpenSession = KeptSession;

    // Where the open sessions are kept across a restart (the service's way); none: they live only
    // in memory and finish() ends them (the window program's "Exit").
    void keepStateIn(std::filesystem::path file) { m_stateFile = std::move(file); }
    // At start, before the first poll: takes up the sessions a previous run kept. When that run was
    // last heard of longer than `gap` ago, its sessions are written as ended where they were last
    // seen, and none goes on. The (user, computer) of every session that goes on; `error` says why
    // the kept file could not be used (then nothing goes on).
    struct Restored {
        std::vector<std::pair<std::string, std::string>> sessions;
        std::string error;
    };
    Restored restore(int64_t now, int64_t gap = 15 * 60);
    // Writes the kept state now (and any lines still waiting): at a stop that means to come back.
    void saveState(int64_t now);

    // Every failed write of the history (a log or the kept state), `first` when the ones before
    // worked; and the first write that works after failures. On the recorder's thread.
    std::function<void(const std::string& error, bool first)> onWriteFailed;
    std::function<void()> onWriteRecovered;
    // Grows each time lines are added to the logs: whoever keeps a copy of the history (the report)
    // compares it to know whether that copy is out of date.
    // Read on the loop's thread while the recorder may work on its own.
    uint64_t writes() const { return m_writes.load(); }

    // In the order they began.
    const std::vector<OpenSession>& openSessions() const { return m_open; }

private:
    void endSession(const OpenSession& s, int64_t end, std::string& usersLines) const;
    void recordFiles(int64_t now, const ServerName& server, const std::vector<SessionEntry>& kept,
                     std::string& filesLines);
    void write(const std::string& usersLines, const std::string& filesLines, const Flags& flags);
    void writeState(int64_t now);
    void noteWrite(const std::optional<std::string>& error);
    // The open files of each of `users`, as their own enumerations would give them; a user whose
    // files could not be listed is left out (seen again at the next poll).
    std::map<std::string, std::vector<NetFileInfo>> filesOf(const ServerName& server,
                                                            const std::vector<std::string>& users);

    NetManagement& m_net;
    const MonitorSettings& m_settings;
    std::filesystem::path m_dataDir;
    std::vector<OpenSession> m_open;
    std::optional<ServerName> m_server;  // the server of the last poll
    int64_t m_lastNow = 0;  // time never runs backwards within the history
    mutable std::atomic<uint64_t> m_writes{0};

    std::optional<std::filesystem::path> m_stateFile;
    bool m_stateChanged = false;
    std::optional<int64_t> m_stateSavedAt;
    // Lines a failed write left, written before the next ones.
    std::string m_pendingUsers;
    std::string m_pendingFiles;
    bool m_writeFailing = false;
};

// The recorder as the program runs it: each poll is handed to a worker of its own with the options
// as they stood at the poll, and recorded there, poll after poll, in order.
class RecorderFeed final : public PollObserver {
public:
    RecorderFeed(HistoryRecorder& recorder, const MonitorSettings& settings)
        : m_recorder(recorder)
        , m_settings(settings)
    {
    }
    void sessionsPolled(int64_t now, const ServerName& server, const std::vector<SessionEntry>& kept) override
    {
        m_worker.post([&recorder = m_recorder, now, server, kept, flags = HistoryRecorder::flagsOf(m_settings)] {
            recorder.record(now, server, kept, flags);
        });
    }
    // Waits for every poll handed over.
    void waitIdle() { m_worker.waitIdle(); }
    // At "Exit": the polls handed over are recorded, then the sessions still open are written.
    void finish(int64_t now)
    {
        m_worker.waitIdle();
        m_recorder.finish(now);
    }

private:
    HistoryRecorder& m_recorder;
    const MonitorSettings& m_settings;
    OrderedWorker m_worker;
};

}  // namespace vantor
