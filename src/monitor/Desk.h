#pragma once
// What one desktop has chosen: which row of the sessions table is selected, the open files of that
// row's user and which of them is selected, what a context menu was opened on, and whether the window
// is meant to be on screen. The rows themselves are the monitor's (the console agent reads them
// too); this is the desktop's alone, and the service holds none of it. Both desktop faces keep one:
// the local face's is the monitor's desk, the bus face's its own beside the rows it fetched.

#include "monitor/SessionTypes.h"

#include <optional>
#include <string>
#include <vector>

namespace vantor {

// Where a "Connect to user" or "Open folder" command wants the desktop to go.
struct OpenTarget {
    enum class Kind { Computer, Folder } kind;
    std::string location;  // the computer name, or the folder path
};

// What a context menu was opened on: the selected session and open file at that moment. The menu's
// commands act on these, whatever a poll has done to the tables since (the selection follows the
// row index, so by then it may point at another session).
struct MenuTarget {
    std::optional<SessionEntry> session;
    std::optional<OpenFileRow> file;
};

struct Desk {
    std::optional<int> selectedRow;
    std::vector<OpenFileRow> fileRows;
    std::optional<int> selectedFileRow;
    // 1 while the window is meant to be on screen; the tray icon flashes only while it is 0.
    bool mainVisible = true;

    // A row outside the table selects nothing.
    void selectRow(std::optional<int> row, std::size_t rowCount);
    void selectFileRow(std::optional<int> row);
    void clearFiles();
    // After the table was made again: the selection follows the index while it is in the table.
    void keepRowIn(std::size_t rowCount);

    // The selection as a menu opened now would take it.
    MenuTarget menuTarget(const std::vector<SessionEntry>& rows) const;
    // What a command acts on: the selected row when no menu is given, else the row the menu was
    // opened on while the table still shows it; `gone` is set when it no longer does.
    std::optional<SessionEntry> commandSession(const std::vector<SessionEntry>& rows, const MenuTarget* menu,
                                               bool& gone) const;
    std::optional<OpenFileRow> commandFile(const MenuTarget* menu, bool& gone) const;
};

// The rows a context menu opened now would act on.
MenuTarget menuTargetOf(const std::vector<SessionEntry>& rows, std::optional<int> row,
                        const std::vector<OpenFileRow>& files, std::optional<int> fileRow);
std::optional<SessionEntry> commandSessionOf(const std::vector<SessionEntry>& rows, std::optional<int> selected,
                                             const MenuTarget* menu, bool& gone);
std::optional<OpenFileRow> commandFileOf(const std::vector<OpenFileRow>& files, std::optional<int> selected,
                                         const MenuTarget* menu, bool& gone);
// "Open folder" on a file: its folder, or none when the path has no folder part.
std::optional<OpenTarget> folderOf(const OpenFileRow& file);

}  // namespace vantor
