#include "monitor/Desk.h"

#include "platform/Paths.h"

#include <algorithm>

namespace vantor {

void Desk::selectRow(std::optional<int> row, std::size_t rowCount)
{
    if (row && (*row < 0 || *row >= static_cast<int>(rowCount)))
        row.reset();
    selectedRow = row;
}

void Desk::selectFileRow(std::optional<int> row)
{
    if (row && (*row < 0 || *row >= static_cast<int>(fileRows.size())))
        row.reset();
    selectedFileRow = row;
}

void Desk::clearFiles()
{
    fileRows.clear();
    selectedFileRow.reset();
}

void Desk::keepRowIn(std::size_t rowCount)
{
    if (selectedRow && (*selectedRow < 0 || *selectedRow >= static_cast<int>(rowCount)))
        selectedRow.reset();
}

MenuTarget Desk::menuTarget(const std::vector<SessionEntry>& rows) const
{
    return menuTargetOf(rows, selectedRow, fileRows, selectedFileRow);
}

std::optional<SessionEntry> Desk::commandSession(const std::vector<SessionEntry>& rows, const MenuTarget* menu,
                                                 bool& gone) const
{
    return commandSessionOf(rows, selectedRow, menu, gone);
}

std::optional<OpenFileRow> Desk::commandFile(const MenuTarget* menu, bool& gone) const
{
    return commandFileOf(fileRows, selectedFileRow, menu, gone);
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

std::optional<OpenTarget> folderOf(const OpenFileRow& file)
{
    const std::string& path = file.path;
    const auto sep = path.rfind(pathSeparator);
    if (sep == std::string::npos || sep == 0)
        return std::nullopt;
    return OpenTarget{OpenTarget::Kind::Folder, cutUtf8(path.substr(0, sep))};
}

}  // namespace vantor
