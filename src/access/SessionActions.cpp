// The actions on sessions and open files, and the access lists of the monitor.

#include "monitor/SessionMonitor.h"
#include "platform/Paths.h"

#include <algorithm>
#include <memory>

namespace vantor {

// --- access lists --------------------------------------------------------------------------------

std::filesystem::path SessionMonitor::listFilePath(ListKind list) const
{
    return m_ctx.dataDir / (list == ListKind::Black ? blackListFileName : whiteListFileName);
}

void SessionMonitor::loadAccessLists()
{
    m_blackList = loadAccessListFile(listFilePath(ListKind::Black));
    m_whiteList = loadAccessListFile(listFilePath(ListKind::White));
}

bool SessionMonitor::mustCloseSession(const std::string& user, const std::string& computer) const
{
    return vantor::mustCloseSession(m_blackList, m_whiteList, settings.useBlackList != 0, user, computer);
}

namespace {

void addToList(SessionMonitor& monitor, ListKind list, const std::string& user, const std::string& computer)
{
    if (!listNameAcceptable(user) || !listNameAcceptable(computer)) {
        // Written as it is, "John Smith" would read back as user John on computer Smith.
        monitor.boxes().show({"Error",
                              "User " + user + " and computer " + computer
                                  + " cannot be added to a list: a name in a list cannot hold a blank.",
                              BoxIcon::Error, BoxButtons::Ok, nullptr});
        return;
    }
    if (!appendAccessListLine(monitor.listFilePath(list), user, computer))
        return;
    const char* name = list == ListKind::Black ? "Black" : "White";
    monitor.boxes().show({user,
                          "User " + user + " and computer " + computer + " has been added to the "
                              + name + " list!",
                          BoxIcon::Information, BoxButtons::Ok, nullptr});
    monitor.loadAccessLists();
}

}  // namespace

void SessionMonitor::addToBlackList(const std::string& user, const std::string& computer)
{
    addToList(*this, ListKind::Black, user, computer);
}

void SessionMonitor::addToWhiteList(const std::string& user, const std::string& computer)
{
    addToList(*this, ListKind::White, user, computer);
}

void SessionMonitor::addSelectedToList(ListKind list, ListTarget target, const MenuTarget* menu)
{
    bool gone = false;
    const std::optional<SessionEntry> row = commandSession(menu, gone);
    if (!row) {
        m_ctx.boxes.show({"Error", "Select a user!", BoxIcon::Error, BoxButtons::Ok, nullptr});
        return;
    }
    const std::string user = target == ListTarget::Computer ? anyName : row->user;
    const std::string computer = target == ListTarget::User ? anyName : row->computer;
    if (list == ListKind::Black)
        addToBlackList(user, computer);
    else
        addToWhiteList(user, computer);
}

// --- session actions -----------------------------------------------------------------------------

void SessionMonitor::showSystemError(const NetStatus& status, void* owner)
{
    std::string text = status.text.empty() ? "Error " + std::to_string(status.code) : status.text;
    m_ctx.boxes.show({"Error", std::move(text), BoxIcon::Information, BoxButtons::Ok, owner});
}

NetStatus SessionMonitor::closeSessionByName(const std::string& user, const std::string& computer)
{
    auto server = serverArgument(settings.serverName.get());
    if (!server)
        return {netcode::NotEnoughMemory, "The server name cannot be converted."};
    if (user.empty())
        return noUserToClose(computer);
    return m_ctx.net.deleteSession(*server, computer, user);
}

NetStatus SessionMonitor::noUserToClose(const std::string& computer)
{
    // The service takes an empty user name as "every user": the close would end every session of
    // that computer, those of people on the white list and Vantor's own logon among them.
    return {netcode::InvalidParameter,
            "A session without a user name cannot be closed by itself: closing it would end every session of "
            "computer " + computer + "."};
}

std::size_t SessionMonitor::closeAllSessions()
{
    const SessionsSnapshotPtr snap = snapshot();
    auto server = serverArgument(settings.serverName.get());
    if (!server || snap->rows.empty())
        return 0;
    std::vector<SessionKey> keys;
    keys.reserve(snap->rows.size());
    for (const auto& row : snap->rows)
        if (!row.user.empty())  // see noUserToClose
            keys.push_back({row.computer, row.user});
    if (keys.empty())
        return 0;
    // Together, so that the service's work is shared between them (one smbstatus run on Samba).
    const std::vector<NetStatus> statuses = m_ctx.net.deleteSessions(*server, keys);
    const auto closed = static_cast<std::size_t>(
        std::count_if(statuses.begin(), statuses.end(), [](const NetStatus& st) { return st.ok(); }));
    if (closed > 0)
        postToGui([this] { clearOpenFiles(); });
    return closed;
}

void SessionMonitor::closeAllSessionsCommand()
{
    // The command of the window: the closes wait on the service, so they run beside the GUI.
    auto closed = std::make_shared<std::size_t>(0);
    background([this, closed] { *closed = closeAllSessions(); },
               [this, closed] {
                   if (*closed > 0 && m_events)
                       m_events->sessionsClosedByUser(*closed);
               });
}

MenuTarget menuTargetOf(const std::vector<SessionEntry>& rows, std::optional<int> row,
                        const std::vector<OpenFileRow>& files, std::optional<int> fileRow)
{
    MenuTarget target;
    if (row)
        target.session = rows[static_cast<std::size_t>(*row)];
    if (fileRow)
        target.file = files[static_cast<std::size_t>(*fileRow)];
    return target;
}

std::optional<SessionEntry> commandSessionOf(const std::vector<SessionEntry>& rows, std::optional<int> selected,
                                             const MenuTarget* menu, bool& gone)
{
    gone = false;
    if (!menu)
        return selected ? std::optional<SessionEntry>(rows[static_cast<std::size_t>(*selected)]) : std::nullopt;
    if (!menu->session)
        return std::nullopt;
    const bool shown = std::any_of(rows.begin(), rows.end(), [&](const SessionEntry& r) {
        return r.user == menu->session->user && r.computer == menu->session->computer;
    });
    gone = !shown;
    return shown ? menu->session : std::nullopt;
}

std::optional<OpenFileRow> commandFileOf(const std::vector<OpenFileRow>& files, std::optional<int> selected,
                                         const MenuTarget* menu, bool& gone)
{
    gone = false;
    if (!menu)
        return selected ? std::optional<OpenFileRow>(files[static_cast<std::size_t>(*selected)]) : std::nullopt;
    if (!menu->file)
        return std::nullopt;
    const bool shown = std::any_of(files.begin(), files.end(), [&](const OpenFileRow& r) {
        return r.path == menu->file->path && r.id == menu->file->id;
    });
    gone = !shown;
    return shown ? menu->file : std::nullopt;
}

MenuTarget SessionMonitor::menuTarget() const
{
    return menuTargetOf(m_rows, m_selectedRow, m_fileRows, m_selectedFileRow);
}

std::optional<SessionEntry> SessionMonitor::commandSession(const MenuTarget* menu, bool& gone) const
{
    return commandSessionOf(m_rows, m_selectedRow, menu, gone);
}

std::optional<OpenFileRow> SessionMonitor::commandFile(const MenuTarget* menu, bool& gone) const
{
    return commandFileOf(m_fileRows, m_selectedFileRow, menu, gone);
}

void SessionMonitor::closeSelectedSession(const MenuTarget* menu)
{
    bool gone = false;
    const std::optional<SessionEntry> row = commandSession(menu, gone);
    if (!row) {
        // No selection says nothing; a session that has gone since the menu opened is said so.
        if (gone)
            m_ctx.boxes.show({"Error", "Select a user!", BoxIcon::Error, BoxButtons::Ok, nullptr});
        return;
    }
    auto server = serverArgument(settings.serverName.get());
    if (!server)
        return;
    if (row->user.empty()) {
        showSystemError(noUserToClose(row->computer));
        return;
    }
    // The close waits on the service; its answer comes back to the GUI thread.
    auto status = std::make_shared<NetStatus>();
    background([this, status, server = *server, row = *row] { *status = m_ctx.net.deleteSession(server, row.computer, row.user); },
               [this, status] {
                   if (!status->ok()) {
                       showSystemError(*status);
                       return;
                   }
                   clearOpenFiles();
                   if (m_events)
                       m_events->sessionsClosedByUser(1);
               });
}

std::optional<OpenTarget> SessionMonitor::connectToUserTarget(const MenuTarget* menu)
{
    bool gone = false;
    const std::optional<SessionEntry> row = commandSession(menu, gone);
    if (!row) {
        m_ctx.boxes.show({"Error", "Select a user!", BoxIcon::Error, BoxButtons::Ok, nullptr});
        return std::nullopt;
    }
    return OpenTarget{OpenTarget::Kind::Computer, row->computer};
}

std::optional<OpenTarget> SessionMonitor::openFolderTarget(const MenuTarget* menu)
{
    bool gone = false;
    const std::optional<OpenFileRow> file = commandFile(menu, gone);
    if (!file) {
        m_ctx.boxes.show({"Error", "Select a file!", BoxIcon::Error, BoxButtons::Ok, nullptr});
        return std::nullopt;
    }
    const std::string& path = file->path;
    const auto sep = path.rfind(pathSeparator);
    if (sep == std::string::npos || sep == 0)
        return std::nullopt;
    return OpenTarget{OpenTarget::Kind::Folder, cutUtf8(path.substr(0, sep))};
}

void SessionMonitor::closeListedFile(const NetFileInfo& file)
{
    // The list a person chose from may be older than the last poll: a file no longer listed is
    // not closed by an identifier that the service may have given to another open since.
    const bool listed = std::any_of(m_allFiles.begin(), m_allFiles.end(),
                                    [&](const NetFileInfo& f) { return f.id == file.id && f.path == file.path; });
    auto server = serverArgument(settings.serverName.get());
    if (!listed || !server) {
        m_ctx.boxes.show({"Error", "Select a file!", BoxIcon::Error, BoxButtons::Ok, nullptr});
        return;
    }
    auto status = std::make_shared<NetStatus>();
    background([this, server = *server, id = file.id, status] { *status = m_ctx.net.closeFile(server, id); },
               [this, file, status] {
                   if (!status->ok()) {
                       showSystemError(*status);
                       return;
                   }
                   std::erase_if(m_allFiles, [&](const NetFileInfo& f) { return f.id == file.id && f.path == file.path; });
                   publishSnapshot();
                   if (m_view)
                       m_view->sessionsTableChanged();
               });
}

void SessionMonitor::closeSelectedResource(const MenuTarget* menu)
{
    bool gone = false;
    const std::optional<OpenFileRow> file = commandFile(menu, gone);
    if (!file) {
        m_ctx.boxes.show({"Error", "Select a file!", BoxIcon::Error, BoxButtons::Ok, nullptr});
        return;
    }
    auto server = serverArgument(settings.serverName.get());
    if (!server)
        return;
    // The close waits on the service (a remote server's may take seconds): beside the GUI, like a
    // session's close, with its answer back on the GUI thread.
    auto status = std::make_shared<NetStatus>();
    background([this, status, server = *server, id = file->id] { *status = m_ctx.net.closeFile(server, id); },
               [this, status] {
                   if (!status->ok())
                       showSystemError(*status);
                   else
                       refreshOpenFiles();
               });
}

}  // namespace vantor
