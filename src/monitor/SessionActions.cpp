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

Outcome SessionMonitor::addToList(ListKind list, const std::string& user, const std::string& computer)
{
    if (!listNameAcceptable(user) || !listNameAcceptable(computer))
        return Outcome::refused(commandText::listNameHasBlank(user, computer));
    if (!appendAccessListLine(listFilePath(list), user, computer))
        return Outcome::failed(listFilePath(list).string() + " cannot be written.");
    loadAccessLists();
    return Outcome::done(user, commandText::addedToList(user, computer, list));
}

void SessionMonitor::addToBlackList(const std::string& user, const std::string& computer)
{
    showOnDesk(addToList(ListKind::Black, user, computer));
}

void SessionMonitor::addToWhiteList(const std::string& user, const std::string& computer)
{
    showOnDesk(addToList(ListKind::White, user, computer));
}

void SessionMonitor::showOnDesk(const Outcome& outcome)
{
    // A list file that cannot be written was never told in the window: the list stays as it was.
    if (outcome.kind != Outcome::Kind::Failed)
        outcome.showOn(m_ctx.boxes);
}

std::pair<std::string, std::string> listEntryOf(const SessionEntry& session, ListTarget target)
{
    return {target == ListTarget::Computer ? anyName : session.user,
            target == ListTarget::User ? anyName : session.computer};
}

// --- session actions -----------------------------------------------------------------------------

void SessionMonitor::showSystemError(const NetStatus& status, void* owner)
{
    Outcome::failed(status).showOn(m_ctx.boxes, owner);
}

NetStatus SessionMonitor::closeSessionByName(const std::string& user, const std::string& computer)
{
    auto server = serverArgument(settings.serverName.get());
    if (!server)
        return {netcode::NotEnoughMemory, commandText::serverNotConvertible};
    if (user.empty())
        return noUserToClose(computer);
    return m_ctx.net.deleteSession(*server, computer, user);
}

NetStatus SessionMonitor::noUserToClose(const std::string& computer)
{
    return {netcode::InvalidParameter, commandText::noUserToClose(computer)};
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

void SessionMonitor::closeSessionCommand(const std::string& user, const std::string& computer)
{
    auto server = serverArgument(settings.serverName.get());
    if (!server)
        return;
    if (user.empty()) {
        showSystemError(noUserToClose(computer));
        return;
    }
    // The close waits on the service; its answer comes back to the GUI thread.
    auto status = std::make_shared<NetStatus>();
    background(
        [this, status, server = *server, user, computer] { *status = m_ctx.net.deleteSession(server, computer, user); },
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

void SessionMonitor::closeListedFile(const NetFileInfo& file)
{
    // The list a person chose from may be older than the last poll: a file no longer listed is
    // not closed by an identifier that the service may have given to another open since.
    const bool listed = std::any_of(m_allFiles.begin(), m_allFiles.end(),
                                    [&](const NetFileInfo& f) { return f.id == file.id && f.path == file.path; });
    auto server = serverArgument(settings.serverName.get());
    if (!listed || !server) {
        Outcome::noTarget(commandText::selectFile).showOn(m_ctx.boxes);
        return;
    }
    auto status = std::make_shared<NetStatus>();
    background([this, server = *server, id = file.id, status] { *status = m_ctx.net.closeFile(server, id); },
               [this, file, status] {
                   if (!status->ok()) {
                       showSystemError(*status);
                       return;
                   }
                   std::erase_if(m_allFiles,
                                 [&](const NetFileInfo& f) { return f.id == file.id && f.path == file.path; });
                   publishSnapshot();
                   if (m_view)
                       m_view->sessionsTableChanged();
               });
}

void SessionMonitor::closeFileCommand(uint32_t id)
{
    auto server = serverArgument(settings.serverName.get());
    if (!server)
        return;
    // The close waits on the service (a remote server's may take seconds): beside the GUI, like a
    // session's close, with its answer back on the GUI thread.
    auto status = std::make_shared<NetStatus>();
    background([this, status, server = *server, id] { *status = m_ctx.net.closeFile(server, id); },
               [this, status] {
                   if (!status->ok())
                       showSystemError(*status);
                   else
                       refreshOpenFiles();
               });
}

}  // namespace vantor
