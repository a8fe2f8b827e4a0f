#include "monitor/DeskCommands.h"

namespace vantor {

// --- the selection -------------------------------------------------------------------------------

void DeskCommands::selectSessionRow(std::optional<int> row)
{
    if (Desk* desk = m_monitor.desk())
        desk->selectRow(row, m_monitor.sessionRows().size());
}

void DeskCommands::clickSessionRow(std::optional<int> row)
{
    selectSessionRow(row);
    m_monitor.refreshOpenFiles();
}

void DeskCommands::selectFileRow(std::optional<int> row)
{
    if (Desk* desk = m_monitor.desk())
        desk->selectFileRow(row);
}

MenuTarget DeskCommands::menuTarget() const
{
    const Desk* desk = m_monitor.desk();
    return desk ? desk->menuTarget(m_monitor.sessionRows()) : MenuTarget{};
}

std::optional<SessionEntry> DeskCommands::commandSession(const MenuTarget* menu, bool& gone) const
{
    gone = false;
    const Desk* desk = m_monitor.desk();
    return desk ? desk->commandSession(m_monitor.sessionRows(), menu, gone) : std::nullopt;
}

std::optional<OpenFileRow> DeskCommands::commandFile(const MenuTarget* menu, bool& gone) const
{
    gone = false;
    const Desk* desk = m_monitor.desk();
    return desk ? desk->commandFile(menu, gone) : std::nullopt;
}

void DeskCommands::noTarget(const char* text)
{
    Outcome::noTarget(text).showOn(m_monitor.boxes());
}

// --- the commands --------------------------------------------------------------------------------

void DeskCommands::closeSession(const MenuTarget* menu)
{
    bool gone = false;
    const std::optional<SessionEntry> row = commandSession(menu, gone);
    if (!row) {
        // No selection says nothing; a session that has gone since the menu opened is said so.
        if (gone)
            noTarget(commandText::selectUser);
        return;
    }
    m_monitor.closeSessionCommand(row->user, row->computer);
}

void DeskCommands::closeResource(const MenuTarget* menu)
{
    bool gone = false;
    const std::optional<OpenFileRow> file = commandFile(menu, gone);
    if (!file) {
        noTarget(commandText::selectFile);
        return;
    }
    m_monitor.closeFileCommand(file->id);
}

std::optional<OpenTarget> DeskCommands::connectToUserTarget(const MenuTarget* menu)
{
    bool gone = false;
    const std::optional<SessionEntry> row = commandSession(menu, gone);
    if (!row) {
        noTarget(commandText::selectUser);
        return std::nullopt;
    }
    return OpenTarget{OpenTarget::Kind::Computer, row->computer};
}

std::optional<OpenTarget> DeskCommands::openFolderTarget(const MenuTarget* menu)
{
    bool gone = false;
    const std::optional<OpenFileRow> file = commandFile(menu, gone);
    if (!file) {
        noTarget(commandText::selectFile);
        return std::nullopt;
    }
    return folderOf(*file);
}

void DeskCommands::addToList(ListKind list, ListTarget target, const MenuTarget* menu)
{
    bool gone = false;
    const std::optional<SessionEntry> row = commandSession(menu, gone);
    if (!row) {
        noTarget(commandText::selectUser);
        return;
    }
    const auto [user, computer] = listEntryOf(*row, target);
    if (list == ListKind::Black)
        m_monitor.addToBlackList(user, computer);
    else
        m_monitor.addToWhiteList(user, computer);
}

}  // namespace vantor
