#pragma once
// The monitor's core: the three-second poll of the sessions, the sessions table and the open-files
// table as data, the new-user event, the access decision and the actions on sessions. The main
// window shows this state and forwards clicks to it; the console agent reads its published snapshot.
//
// Everything here runs on the GUI thread unless a member says it is thread-safe.

#include "base/AccessList.h"
#include "monitor/Desk.h"
#include "monitor/FileInspector.h"
#include "monitor/MonitorSettings.h"
#include "monitor/Outcome.h"
#include "monitor/SessionTypes.h"
#include "platform/Clock.h"
#include "platform/MessageBoxes.h"
#include "platform/NetManagement.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace vantor {

// Sends one mail and reports nothing (the new-user notification).
class MailSender {
public:
    virtual ~MailSender() = default;
    virtual void sendMail(const MailRelay& relay, const std::string& to, const std::string& from,
                          const std::string& subject, const std::string& body) = 0;
};

// Told after every poll whose enumeration succeeded (the history recorder listens here).
class PollObserver {
public:
    virtual ~PollObserver() = default;
    virtual void sessionsPolled(int64_t now, const ServerName& server, const std::vector<SessionEntry>& kept) = 0;
};

// What the window layer wants to hear about. Every call comes on the GUI thread.
class MonitorView {
public:
    virtual ~MonitorView() = default;
    virtual void sessionsTableChanged() { }
    virtual void openFilesTableChanged() { }
    virtual void captionChanged() { }
    // The new-user event wants the tray icon flashing (only asked while the desk's window is hidden).
    virtual void startFlash() { }
};

// What happened, for a log: the service writes one line per event to the journal.
class MonitorEvents {
public:
    virtual ~MonitorEvents() = default;
    virtual void newUser(const SessionEntry& /*session*/) { }
    // A session the lists condemned; `status` tells whether the close worked.
    virtual void sessionRejected(const std::string& /*user*/, const std::string& /*computer*/,
                                 bool /*blackListInForce*/, const NetStatus& /*status*/)
    {
    }
    // Sessions closed by a command of the window ("Close session", "Close all sessions").
    virtual void sessionsClosedByUser(std::size_t /*count*/) { }
};

// The result of a session enumeration, made on any thread and applied on the GUI thread.
struct SessionsFetch {
    bool serverConvertible = true;  // false: the poll ends without touching anything
    ServerName server;
    NetStatus status;
    std::vector<NetSessionInfo> sessions;
    ListingNotes notes;  // how the service came by them
    bool allFilesAsked = false;
    NetStatus allFilesStatus;
    std::vector<NetFileInfo> allFiles;
    std::vector<NetShareInfo> shares;  // asked with the files; empty when the service cannot tell
};

struct FilesFetch {
    bool attempted = false;  // false: nothing selected, or the server could not be converted
    ServerName server;
    NetStatus status;
    std::vector<NetFileInfo> files;
};

// The files of `files` that belong to one of `sessions` (the shown rows), their names cut as the
// tables cut them: what the list of every user's files shows.
std::vector<NetFileInfo> filesOfSessions(const std::vector<SessionEntry>& sessions,
                                         const std::vector<NetFileInfo>& files);

// What one of the six "Add to the ... list" entries adds for a session: its user, its computer, or both.
std::pair<std::string, std::string> listEntryOf(const SessionEntry& session, ListTarget target);

inline constexpr const char* captionPlain = "Current sessions:";
// The caption while the polls fail: the table then shows nothing, and must not look like a quiet server.
inline constexpr const char* captionPollFailed = "Current sessions: (the poll failed)";
inline constexpr const char* noActiveUsersText = "<No active users>";

class SessionMonitor {
public:
    struct Context {
        NetManagement& net;
        MessageBoxes& boxes;
        const Clock& clock;
        std::filesystem::path dataDir;
        const FileInspector* files = nullptr;  // null: the real file system
    };

    explicit SessionMonitor(Context context);

    MonitorSettings settings;

    // --- the desktop ------------------------------------------------------------------------
    // What the desktop that shows this monitor has chosen (selection, open files, visibility).
    // A monitor has one of its own until told of another, or of none: the service's has none,
    // and then nothing is selected and no open files are kept.
    Desk* desk() { return m_desk; }
    const Desk* desk() const { return m_desk; }
    void setDesk(Desk* desk) { m_desk = desk; }

    // --- the poll --------------------------------------------------------------------------
    void pollSessions();
    // Thread-safe: the enumeration only.
    SessionsFetch fetchSessions(const std::string& serverName) const;
    // GUI thread: everything after the enumeration, in order.
    void applySessions(const SessionsFetch& fetch);
    bool pollInProgress() const { return m_pollDepth > 0; }
    // Thread-safe. Whether each poll lists every user's open files too (for the snapshot's
    // openFiles): a second enumeration per poll on some services, so only while someone looks.
    void setListAllFiles(bool on) { m_listAllFiles = on; }
    bool listAllFiles() const { return m_listAllFiles; }

    // The text of the last poll's failure; empty when it worked.
    const std::string& lastPollError() const { return m_lastPollError; }
    const std::vector<SessionEntry>& currentSessions() const { return m_current; }
    uint32_t openFilesTotal() const { return m_openFilesTotal; }

    // --- the sessions table ---------------------------------------------------------------
    const std::vector<SessionEntry>& sessionRows() const { return m_rows; }
    // The desk's selection; what selects a row is the desk's (DeskCommands).
    std::optional<int> selectedSessionRow() const { return m_desk ? m_desk->selectedRow : std::nullopt; }
    std::string captionText() const;
    // Thread-safe.
    SessionsSnapshotPtr snapshot() const;

    // --- the remote-server command ----------------------------------------------------------
    // The text of the "Input" dialog accepted with OK: becomes serverName, the caption follows,
    // and a poll runs at once (unless the caller runs it: `pollNow` false). A name that cannot be a
    // server name is refused with a box; returns whether the name was taken.
    bool setRemoteServer(const std::string& text, bool pollNow = true);
    // The same without the box or the poll: the outcome tells it.
    Outcome chooseServer(const std::string& text);
    static inline const char* remoteServerDefault = "127.0.0.1";

    // --- the open-files table ----------------------------------------------------------------
    // The files of the selected row's user fetched again, at once.
    void refreshOpenFiles();
    FilesFetch fetchOpenFiles(const std::string& serverName, const std::optional<std::string>& user) const;
    void applyOpenFiles(const FilesFetch& fetch);
    // The rows of the open-files table for an enumeration's files. Thread-safe.
    std::vector<OpenFileRow> openFileRowsOf(const std::vector<NetFileInfo>& files) const;
    const std::vector<OpenFileRow>& openFileRows() const;
    std::optional<int> selectedFileRow() const { return m_desk ? m_desk->selectedFileRow : std::nullopt; }
    void clearOpenFiles();
    // The user's open resources on this computer, whatever server is monitored. Never fails.
    std::vector<std::string> listOpenFiles(const std::string& user) const;
    // What one session holds open on `server`: the user's files there, less those the service
    // places at another computer (another session of the same user). Never fails. Thread-safe.
    std::vector<std::string> listSessionFiles(const ServerName& server, const std::string& user,
                                              const std::string& computer) const;

    // --- the new-user event ------------------------------------------------------------------
    void raiseNewUserEvents(const std::vector<SessionEntry>& kept);
    // The (user, computer) of sessions a run before this one showed, which go on now: the next
    // successful poll takes them as shown and greets none of them as a new user.
    void assumeShown(const std::vector<std::pair<std::string, std::string>>& sessions);
    static std::string newUserSubject(const std::string& user);
    static std::string newUserBody(const std::string& user, const std::string& computer,
                                   const std::vector<std::string>& files);

    // --- access lists -----------------------------------------------------------------------
    void loadAccessLists();
    bool mustCloseSession(const std::string& user, const std::string& computer) const;
    const AccessList& blackList() const { return m_blackList; }
    const AccessList& whiteList() const { return m_whiteList; }
    // The line appended and the lists read again; the outcome tells it (no box).
    Outcome addToList(ListKind list, const std::string& user, const std::string& computer);
    // The same, its box shown.
    void addToBlackList(const std::string& user, const std::string& computer);
    void addToWhiteList(const std::string& user, const std::string& computer);
    std::filesystem::path listFilePath(ListKind list) const;

    // --- session actions --------------------------------------------------------------------
    // Thread-safe; shows nothing. A session without a user name is never closed by name: the
    // service would take the empty name as every user of that computer.
    NetStatus closeSessionByName(const std::string& user, const std::string& computer);
    // Thread-safe: works on the published rows; empties the open files on the GUI thread.
    // Returns how many sessions were closed.
    std::size_t closeAllSessions();
    // "Close all sessions" chosen in the window: the same, through the background runner.
    void closeAllSessionsCommand();
    // "Close session" chosen in the window for one session: the close through the background
    // runner, its failure shown, the open files emptied once it went.
    void closeSessionCommand(const std::string& user, const std::string& computer);
    // "Close resource" chosen in the window for one open file: the close through the background
    // runner, its failure shown, the open files listed again once it went.
    void closeFileCommand(uint32_t id);
    // "Close resource" on a file of the every-user list (the snapshot's openFiles), through the
    // background runner; the list drops it once closed. A file the list no longer holds is
    // answered with "Select a file!".
    void closeListedFile(const NetFileInfo& file);
    void showSystemError(const NetStatus& status, void* owner = nullptr);

    // --- wiring -----------------------------------------------------------------------------
    void setView(MonitorView* view) { m_view = view; }
    void setMailSender(MailSender* mail) { m_mail = mail; }
    void setEvents(MonitorEvents* events) { m_events = events; }
    void addPollObserver(PollObserver* observer) { m_observers.push_back(observer); }
    // How work of another thread reaches the GUI thread (default: run at once).
    void setGuiPoster(std::function<void(std::function<void()>)> poster) { m_postToGui = std::move(poster); }
    // Replaces the open-files refresh that a poll runs for the selected row, so the window can
    // fetch the files off the GUI thread and apply them with applyOpenFiles (default: at once).
    void setOpenFilesRefresher(std::function<void()> refresher) { m_filesRefresher = std::move(refresher); }
    // Where the work that waits on the service or the network goes: the closes of a poll and of
    // the commands, and the file lists of new-user mails. `work` runs there, in the order given,
    // and `then` afterwards back on the GUI thread, in the same order. Default: both at once.
    using BackgroundRunner = std::function<void(std::function<void()> work, std::function<void()> then)>;
    void setBackgroundRunner(BackgroundRunner runner) { m_background = std::move(runner); }

    NetManagement& net() { return m_ctx.net; }
    MessageBoxes& boxes() { return m_ctx.boxes; }
    const Clock& clock() const { return m_ctx.clock; }
    const std::filesystem::path& dataDir() const { return m_ctx.dataDir; }

    // The server argument for a serverName: empty = this computer; nullopt = cannot be converted.
    static std::optional<ServerName> serverArgument(const std::string& serverName);

private:
    void publishSnapshot();
    void rebuildSessionsTable();
    void keepShownFiles(const std::vector<NetFileInfo>& files);
    void postToGui(std::function<void()> fn);
    void showOnDesk(const Outcome& outcome);
    void background(std::function<void()> work, std::function<void()> then = {});
    static NetStatus noUserToClose(const std::string& computer);
    const FileInspector& inspector() const;

    Context m_ctx;
    LocalFileInspector m_localInspector;
    MonitorView* m_view = nullptr;
    MailSender* m_mail = nullptr;
    MonitorEvents* m_events = nullptr;
    std::vector<PollObserver*> m_observers;
    std::function<void(std::function<void()>)> m_postToGui;
    std::function<void()> m_filesRefresher;
    BackgroundRunner m_background;

    std::vector<SessionEntry> m_current;
    uint32_t m_openFilesTotal = 0;
    std::vector<SessionEntry> m_rows;
    std::vector<std::pair<std::string, std::string>> m_assumedShown;  // until the next successful poll
    ServerName m_pollServer;  // the server of the poll being applied
    Desk m_ownDesk;
    Desk* m_desk = &m_ownDesk;
    int m_pollDepth = 0;
    std::string m_lastPollError;

    AccessList m_blackList;
    AccessList m_whiteList;

    std::atomic<bool> m_listAllFiles{false};
    bool m_allFilesListed = false;
    std::vector<NetFileInfo> m_allFiles;
    std::string m_allFilesError;
    std::vector<NetShareInfo> m_shares;

    mutable std::mutex m_snapshotMutex;
    SessionsSnapshotPtr m_snapshot;
};

}  // namespace vantor
