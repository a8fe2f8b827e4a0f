#pragma once
// The desktop's commands: what the user picks in the tables and the context menus, turned into the
// monitor's commands on a session or a file given as a value. Which row a command acts on (the
// selection, or what a menu was opened on and whether a poll has taken it away since) is decided
// here, from the monitor's desk; the monitor itself is told the session or the file. Both desktop
// faces that run a monitor in this process use it; it holds nothing but the monitor, so one can
// be made for each call.

#include "monitor/SessionMonitor.h"

#include <optional>

namespace vantor {

class DeskCommands {
public:
    explicit DeskCommands(SessionMonitor& monitor)
        : m_monitor(monitor)
    {
    }

    // --- the selection ----------------------------------------------------------------------
    // Selects a row (or none) without refreshing the open files: the keyboard's way.
    void selectSessionRow(std::optional<int> row);
    // A left click: select and refresh the open files.
    void clickSessionRow(std::optional<int> row);
    void selectFileRow(std::optional<int> row);
    // The selection as a menu opened now would take it.
    MenuTarget menuTarget() const;

    // --- the commands of the two menus --------------------------------------------------------
    // Without a menu target they act on the selected rows; with one, on the session or file it
    // names, and a target that no row shows any more is answered with "Select a user!" or
    // "Select a file!".
    void closeSession(const MenuTarget* menu = nullptr);
    void closeResource(const MenuTarget* menu = nullptr);
    std::optional<OpenTarget> connectToUserTarget(const MenuTarget* menu = nullptr);
    std::optional<OpenTarget> openFolderTarget(const MenuTarget* menu = nullptr);
    // The six "Add to the ... list" commands.
    void addToList(ListKind list, ListTarget target, const MenuTarget* menu = nullptr);

private:
    // The row a command acts on, or none; `gone` when the menu's target is no longer shown.
    std::optional<SessionEntry> commandSession(const MenuTarget* menu, bool& gone) const;
    std::optional<OpenFileRow> commandFile(const MenuTarget* menu, bool& gone) const;
    void noTarget(const char* text);

    SessionMonitor& m_monitor;
};

}  // namespace vantor
