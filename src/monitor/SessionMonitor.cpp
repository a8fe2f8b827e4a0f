#include "monitor/SessionMonitor.h"

#include "base/MailText.h"

#include <algorithm>
#include <memory>
#include <unordered_set>

namespace vantor {

namespace {

// Counts the nesting of work that may open a modal box; a tick that comes while a box of the poll
// or of the open-files refresh is open must be dropped, not run inside it.
class DepthGuard {
public:
    explicit DepthGuard(int& depth)
        : m_depth(depth)
    {
        ++m_depth;
    }
    ~DepthGuard() { --m_depth; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;

private:
    int& m_depth;
};

// A (user, computer) pair as one key; the user's length keeps ("ab", "c") apart from ("a", "bc")
// whatever bytes the names hold.
std::string pairKey(const std::string& user, const std::string& computer)
{
    return std::to_string(user.size()) + ':' + user + computer;
}

bool validUtf8(const std::string& s)
{
    std::size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<unsigned char>(s[i]);
        std::size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (len == 0 || i + len > s.size())
            return false;
        for (std::size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
                return false;
        i += len;
    }
    return true;
}

}  // namespace

SessionMonitor::SessionMonitor(Context context)
    : m_ctx(std::move(context))
{
    publishSnapshot();
}

const FileInspector& SessionMonitor::inspector() const
{
    return m_ctx.files ? *m_ctx.files : m_localInspector;
}

std::optional<ServerName> SessionMonitor::serverArgument(const std::string& serverName)
{
    if (serverName.empty())
        return ServerName{};
    // The UNC form ("\\" + name) and its terminator must fit 256 bytes, and the name must be text.
    if (serverName.size() + 3 > 256 || !validUtf8(serverName))
        return std::nullopt;
    return ServerName{serverName};
}

// --- the poll ------------------------------------------------------------------------------------

void SessionMonitor::pollSessions()
{
    if (pollInProgress())
        return;
    applySessions(fetchSessions(settings.serverName.get()));
}

SessionsFetch SessionMonitor::fetchSessions(const std::string& serverName) const
{
    SessionsFetch fetch;
    auto server = serverArgument(serverName);
    if (!server) {
        fetch.serverConvertible = false;
        return fetch;
    }
    fetch.server = *server;
    fetch.status = m_ctx.net.enumSessions(fetch.server, fetch.sessions);
    fetch.notes = m_ctx.net.listingNotes();
    if (fetch.status.ok() && m_listAllFiles) {
        fetch.allFilesAsked = true;
        fetch.allFilesStatus = m_ctx.net.enumAllFiles(fetch.server, fetch.allFiles);
        // The folders only complete the shares view: one that cannot be listed stays unknown.
        if (!m_ctx.net.enumShares(fetch.server, fetch.shares).ok())
            fetch.shares.clear();
    }
    return fetch;
}

void SessionMonitor::applySessions(const SessionsFetch& fetch)
{
    if (pollInProgress())
        return;
    DepthGuard guard(m_pollDepth);

    m_current.clear();
    m_openFilesTotal = 0;
    m_allFilesListed = false;
    m_allFiles.clear();
    m_allFilesError.clear();
    m_shares.clear();

    if (!fetch.serverConvertible) {
        publishSnapshot();
        return;
    }

    if (!fetch.status.ok()) {
        m_lastPollError = fetch.status.text.empty() ? "error " + std::to_string(fetch.status.code) : fetch.status.text;
        publishSnapshot();
        if (m_view)
            m_view->captionChanged();
        // A desktop is told at once; the service logs when the polls start and stop failing.
        if (m_desk)
            showSystemError(fetch.status);
        settings.serverName = std::string();
        if (m_view)
            m_view->captionChanged();
        return;
    }

    if (!m_lastPollError.empty()) {
        m_lastPollError.clear();
        if (m_view)
            m_view->captionChanged();
    }

    if (fetch.allFilesAsked) {
        m_allFilesListed = fetch.allFilesStatus.ok();
        if (!m_allFilesListed)
            m_allFilesError = fetch.allFilesStatus.text;
        m_shares = fetch.shares;
    }

    if (fetch.sessions.empty()) {
        m_assumedShown.clear();
        m_rows.clear();
        if (m_desk) {
            m_desk->selectedRow.reset();
            m_desk->clearFiles();
        }
        publishSnapshot();
        if (m_view) {
            m_view->sessionsTableChanged();
            m_view->openFilesTableChanged();
        }
        for (auto* o : m_observers)
            o->sessionsPolled(m_ctx.clock.now(), fetch.server, m_current);
        return;
    }

    std::vector<SessionKey> rejected;
    for (const auto& s : fetch.sessions) {
        std::string user = cutUtf8(s.user);
        std::string computer = cutUtf8(s.computer);
        if (mustCloseSession(user, computer)) {
            // Not kept, but not closed either when it has no user name (a logon still under way,
            // an anonymous request): the service would end every session of its computer.
            if (!user.empty())
                rejected.push_back({std::move(computer), std::move(user)});
            else if (m_events)
                m_events->sessionRejected(user, computer, settings.useBlackList != 0, noUserToClose(computer));
            continue;
        }
        m_openFilesTotal += s.openFiles;
        m_current.push_back({std::move(user), std::move(computer), s.openFiles, s.details});
    }
    // The closes wait on the service: they go together, out of the apply step, to the server that
    // listed them. A close that fails is tried again by the next poll that still sees the session.
    if (!rejected.empty()) {
        auto statuses = std::make_shared<std::vector<NetStatus>>();
        background([this, server = fetch.server, rejected,
                    statuses] { *statuses = m_ctx.net.deleteSessions(server, rejected); },
                   [this, rejected, statuses, blackList = settings.useBlackList != 0] {
                       if (!m_events)
                           return;
                       for (std::size_t i = 0; i < rejected.size() && i < statuses->size(); ++i)
                           m_events->sessionRejected(rejected[i].user, rejected[i].computer, blackList, (*statuses)[i]);
                   });
    }

    m_pollServer = fetch.server;
    raiseNewUserEvents(m_current);
    m_assumedShown.clear();
    if (m_allFilesListed)
        keepShownFiles(fetch.allFiles);
    rebuildSessionsTable();

    for (auto* o : m_observers)
        o->sessionsPolled(m_ctx.clock.now(), fetch.server, m_current);

    // The selection follows the index, not the session.
    if (selectedSessionRow()) {
        if (m_filesRefresher)
            m_filesRefresher();
        else
            refreshOpenFiles();
    }
}

void SessionMonitor::keepShownFiles(const std::vector<NetFileInfo>& files)
{
    std::vector<SessionEntry> shown;
    for (const auto& e : m_current) {
        if (settings.hideLocalUsers == 1 && isLocalComputer(e.computer))
            continue;
        if (settings.hideSystemRequests == 1 && e.user.empty())
            continue;
        shown.push_back(e);
    }
    m_allFiles = filesOfSessions(shown, files);
}

std::vector<NetFileInfo> filesOfSessions(const std::vector<SessionEntry>& sessions,
                                         const std::vector<NetFileInfo>& files)
{
    // A file belongs to a shown session by its user and, where the service tells it, its computer:
    // the files of rejected and hidden sessions are not shown either.
    std::unordered_set<std::string> pairs, users;
    for (const auto& e : sessions) {
        pairs.insert(pairKey(e.user, e.computer));
        users.insert(e.user);
    }
    std::vector<NetFileInfo> kept;
    for (const auto& f : files) {
        NetFileInfo file = f;
        file.path = cutUtf8(file.path);
        file.user = cutUtf8(file.user);
        file.computer = cutUtf8(file.computer);
        if (file.computer.empty() ? users.count(file.user) == 0 : pairs.count(pairKey(file.user, file.computer)) == 0)
            continue;
        kept.push_back(std::move(file));
    }
    return kept;
}

void SessionMonitor::rebuildSessionsTable()
{
    m_rows.clear();
    m_rows.reserve(m_current.size());
    for (const auto& e : m_current) {
        if (settings.hideLocalUsers == 1 && isLocalComputer(e.computer))
            continue;
        if (settings.hideSystemRequests == 1 && e.user.empty())
            continue;
        m_rows.push_back(e);
    }
    // Each row was inserted at the top: the table lists the sessions in reverse order.
    std::reverse(m_rows.begin(), m_rows.end());
    if (m_desk)
        m_desk->keepRowIn(m_rows.size());
    publishSnapshot();
    if (m_view)
        m_view->sessionsTableChanged();
}

void SessionMonitor::publishSnapshot()
{
    auto snap = std::make_shared<SessionsSnapshot>();
    snap->rows = m_rows;
    snap->currentSessionsCount = static_cast<uint32_t>(m_current.size());
    snap->openFilesTotal = m_openFilesTotal;
    snap->openFilesListed = m_allFilesListed;
    snap->openFiles = m_allFiles;
    snap->openFilesError = m_allFilesError;
    snap->shares = m_shares;
    std::lock_guard lock(m_snapshotMutex);
    m_snapshot = std::move(snap);
}

SessionsSnapshotPtr SessionMonitor::snapshot() const
{
    std::lock_guard lock(m_snapshotMutex);
    return m_snapshot;
}

// --- the sessions table --------------------------------------------------------------------------

std::string SessionMonitor::captionText() const
{
    const std::string server = settings.serverName.get();
    // A failed poll sets the server back to this computer: the failure is what the caption tells.
    if (!m_lastPollError.empty() && server.empty())
        return captionPollFailed;
    if (server.empty())
        return captionPlain;
    return std::string("Current sessions: (server:") + server + ")";
}

Outcome SessionMonitor::chooseServer(const std::string& text)
{
    if (!serverArgument(text))
        return Outcome::refused(commandText::notAServerName(text));
    settings.serverName = text;
    if (m_view)
        m_view->captionChanged();
    return Outcome::done();
}

bool SessionMonitor::setRemoteServer(const std::string& text, bool pollNow)
{
    if (!chooseServer(text).showOn(m_ctx.boxes))
        return false;
    if (pollNow)
        pollSessions();
    return true;
}

// --- the open-files table ------------------------------------------------------------------------

void SessionMonitor::refreshOpenFiles()
{
    std::optional<std::string> user;
    if (auto row = selectedSessionRow())
        user = m_rows[static_cast<std::size_t>(*row)].user;
    applyOpenFiles(fetchOpenFiles(settings.serverName.get(), user));
}

FilesFetch SessionMonitor::fetchOpenFiles(const std::string& serverName, const std::optional<std::string>& user) const
{
    FilesFetch fetch;
    if (!user)
        return fetch;
    auto server = serverArgument(serverName);
    if (!server)
        return fetch;
    fetch.attempted = true;
    fetch.server = *server;
    fetch.status = m_ctx.net.enumFiles(fetch.server, *user, fetch.files);
    return fetch;
}

void SessionMonitor::applyOpenFiles(const FilesFetch& fetch)
{
    if (!fetch.attempted)
        return;
    DepthGuard guard(m_pollDepth);
    if (!fetch.status.ok()) {
        showSystemError(fetch.status);
        return;
    }
    if (!m_desk)
        return;
    m_desk->fileRows = openFileRowsOf(fetch.files);
    m_desk->selectedFileRow.reset();
    if (m_view)
        m_view->openFilesTableChanged();
}

std::vector<OpenFileRow> SessionMonitor::openFileRowsOf(const std::vector<NetFileInfo>& files) const
{
    std::vector<OpenFileRow> rows;
    rows.reserve(files.size());
    int i = 0;
    for (const auto& f : files) {
        OpenFileRow row;
        row.path = cutUtf8(f.path);
        row.id = f.id;
        row.details = f.details;
        // Paths that do not exist here (a remote server's) count as folders.
        row.icon = inspector().isDirectoryOrUnreadable(row.path) ? FileIconKind::Folder : FileIconKind::FileType;
        row.imageIndex = i++;
        rows.push_back(std::move(row));
    }
    std::reverse(rows.begin(), rows.end());
    return rows;
}

const std::vector<OpenFileRow>& SessionMonitor::openFileRows() const
{
    static const std::vector<OpenFileRow> none;
    return m_desk ? m_desk->fileRows : none;
}

void SessionMonitor::clearOpenFiles()
{
    if (m_desk)
        m_desk->clearFiles();
    if (m_view)
        m_view->openFilesTableChanged();
}

std::vector<std::string> SessionMonitor::listOpenFiles(const std::string& user) const
{
    std::vector<NetFileInfo> files;
    if (!m_ctx.net.enumFiles(ServerName{}, user, files).ok())
        return {};
    std::vector<std::string> paths;
    paths.reserve(files.size());
    for (const auto& f : files)
        paths.push_back(cutUtf8(f.path));
    return paths;
}

std::vector<std::string> SessionMonitor::listSessionFiles(const ServerName& server, const std::string& user,
                                                          const std::string& computer) const
{
    std::vector<NetFileInfo> files;
    if (!m_ctx.net.enumFiles(server, user, files).ok())
        return {};
    std::vector<std::string> paths;
    paths.reserve(files.size());
    for (const auto& f : files)
        if (f.computer.empty() || cutUtf8(f.computer) == computer)
            paths.push_back(cutUtf8(f.path));
    return paths;
}

// --- the new-user event --------------------------------------------------------------------------

std::string SessionMonitor::newUserSubject(const std::string& user)
{
    return "Vantor: new user - " + user;
}

std::string SessionMonitor::newUserBody(const std::string& user, const std::string& computer,
                                        const std::vector<std::string>& files)
{
    // Names and paths come from the network: each must stay on its own line of the mail.
    std::string body = "New user has logon to your PC!\r\n\r\n Username: " + cleanMailText(user)
                       + "\r\n Computer: " + cleanMailText(computer) + "\r\n\r\n Opened files:\r\n";
    if (files.empty())
        body += "<No opened files>";
    for (const auto& f : files)
        body += cleanMailText(f) + "\r\n";
    return body;
}

void SessionMonitor::raiseNewUserEvents(const std::vector<SessionEntry>& kept)
{
    // Whether each kept session is shown, without walking every row for each of them: with
    // thousands of sessions that walk alone held the GUI thread for most of a second per poll.
    // The rows do not change while the event runs.
    std::unordered_set<std::string> shown;
    shown.reserve(m_rows.size());
    for (const auto& r : m_rows)
        shown.insert(pairKey(r.user, r.computer));
    for (const auto& [user, computer] : m_assumedShown)
        shown.insert(pairKey(user, computer));
    for (const auto& e : kept) {
        if (shown.count(pairKey(e.user, e.computer)))
            continue;
        if (settings.hideLocalUsers == 1 && isLocalComputer(e.computer))
            continue;
        if (settings.hideSystemRequests == 1 && e.user.empty())
            continue;
        if (m_desk && !m_desk->mainVisible && m_view)
            m_view->startFlash();
        if (m_events)
            m_events->newUser(e);
        // The open files are only for the mail; fetching them costs a service call per new user,
        // which a first poll of a busy server would otherwise pay for every session.
        if (settings.mailOnNewUser != 1 || !m_mail)
            continue;
        // Listing the files waits on the service and sending waits on the mail server: neither
        // happens in the poll. The mails keep the order of the events.
        // The files of this session, on the server where it was seen: a remote server's user may
        // share a name with someone on this computer.
        background([this, server = m_pollServer, user = e.user, computer = e.computer, relay = mailRelay(settings),
                    address = settings.mailAddress] {
            const std::vector<std::string> files = listSessionFiles(server, user, computer);
            m_mail->sendMail(relay, address, address, newUserSubject(user), newUserBody(user, computer, files));
        });
    }
}

void SessionMonitor::assumeShown(const std::vector<std::pair<std::string, std::string>>& sessions)
{
    m_assumedShown = sessions;
}

void SessionMonitor::background(std::function<void()> work, std::function<void()> then)
{
    if (m_background) {
        m_background(std::move(work), std::move(then));
        return;
    }
    work();
    if (then)
        then();
}

void SessionMonitor::postToGui(std::function<void()> fn)
{
    if (m_postToGui)
        m_postToGui(std::move(fn));
    else
        fn();
}

}  // namespace vantor
