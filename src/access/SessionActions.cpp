// The actions on sessions and open files, and the access lists of the monitor.

#include "monitor/SessionMonitor.h"
#include "platform/Paths.h"

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

void SessionMonitor::addSelectedToList(ListKind list, ListTarget target)
{
    if (!m_selectedRow) {
        m_ctx.boxes.show({"Error", "Select a user!", BoxIcon::Error, BoxButtons::Ok, nullptr});
        return;
    }
    const SessionEntry row = m_rows[static_cast<std::size_t>(*m_selectedRow)];
    const std::string user = target == ListTarget::Computer ? anyName : row.user;
    const std::string computer = target == ListTarget::User ? anyName : row.computer;
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
    return m_ctx.net.deleteSession(*server, computer, user);
}

void SessionMonitor::closeAllSessions()
{
    const SessionsSnapshotPtr snap = snapshot();
    bool closedAny = false;
    for (const auto& row : snap->rows) {
        auto server = serverArgument(settings.serverName.get());
        if (!server)
            break;
        if (m_ctx.net.deleteSession(*server, row.computer, row.user).ok())
            closedAny = true;
    }
    if (closedAny)
        postToGui([this] { clearOpenFiles(); });
}

void SessionMonitor::closeSelectedSession()
{
    if (!m_selectedRow)
        return;
    const SessionEntry row = m_rows[static_cast<std::size_t>(*m_selectedRow)];
    auto server = serverArgument(settings.serverName.get());
    if (!server)
        return;
    NetStatus status = m_ctx.net.deleteSession(*server, row.computer, row.user);
    if (!status.ok()) {
        showSystemError(status);
        return;
    }
    clearOpenFiles();
}

std::optional<OpenTarget> SessionMonitor::connectToUserTarget()
{
    if (!m_selectedRow) {
        m_ctx.boxes.show({"Error", "Select a user!", BoxIcon::Error, BoxButtons::Ok, nullptr});
        return std::nullopt;
    }
    return OpenTarget{OpenTarget::Kind::Computer, m_rows[static_cast<std::size_t>(*m_selectedRow)].computer};
}

std::optional<OpenTarget> SessionMonitor::openFolderTarget()
{
    if (!m_selectedFileRow) {
        m_ctx.boxes.show({"Error", "Select a file!", BoxIcon::Error, BoxButtons::Ok, nullptr});
        return std::nullopt;
    }
    const std::string& path = m_fileRows[static_cast<std::size_t>(*m_selectedFileRow)].path;
    const auto sep = path.rfind(pathSeparator);
    if (sep == std::string::npos || sep == 0)
        return std::nullopt;
    return OpenTarget{OpenTarget::Kind::Folder, cutUtf8(path.substr(0, sep))};
}

void SessionMonitor::closeSelectedResource()
{
    if (!m_selectedFileRow) {
        m_ctx.boxes.show({"Error", "Select a file!", BoxIcon::Error, BoxButtons::Ok, nullptr});
        return;
    }
    auto server = serverArgument(settings.serverName.get());
    if (!server)
        return;
    const uint32_t id = m_fileRows[static_cast<std::size_t>(*m_selectedFileRow)].id;
    NetStatus status = m_ctx.net.closeFile(*server, id);
    if (!status.ok()) {
        showSystemError(status);
        return;
    }
    refreshOpenFiles();
}

}  // namespace vantor
