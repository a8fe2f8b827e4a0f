#pragma once
// The texts of the details a service tells of sessions and open files, for every face that shows
// them: the sessions table's extra columns and its tooltip, the "Open files" view, vantor-poll.
// A detail the service does not tell reads as an empty text.

#include "monitor/SessionTypes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantor {

// The sessions table's columns after its three; their order is the order of these values.
enum class SessionDetailColumn {
    ConnectedSince,
    ConnectedTime,
    IdleTime,
    Shares,
    Protocol,
    Encryption,
    Signing,
    ProcessId,
    Uid,
    Count
};
inline constexpr int sessionDetailColumnCount = static_cast<int>(SessionDetailColumn::Count);

const char* sessionDetailTitle(SessionDetailColumn column);
// `now` is the moment the connected time runs to.
std::string sessionDetailText(const SessionDetails& details, SessionDetailColumn column, int64_t now);
// What sorting by a column compares: seconds for the times, the number for the ids, else none (the
// text sorts).
std::optional<int64_t> sessionDetailNumber(const SessionDetails& details, SessionDetailColumn column, int64_t now);

// The sessions table's columns: user, computer, open files, then the details.
inline constexpr int sessionColumnCount = 3 + sessionDetailColumnCount;
// The order a click on column `column`'s title puts the rows in (indexes into `rows`): the open
// files and the details' numbers as numbers, the rest as text ignoring ASCII case; rows without the
// detail (an empty text) last whichever way; ties keep the monitor's order.
std::vector<std::size_t> sessionRowOrder(const std::vector<SessionEntry>& rows, int column, bool descending,
                                         int64_t now);

// The row's tooltip: its user and computer, then one "Title: text" line per detail the service told.
std::string sessionTooltip(const SessionEntry& entry, int64_t now);

// What the tray icon's tooltip says of the table: "3 sessions, 5 open files" (the rows shown and
// their open files).
std::string countsText(const SessionsSnapshot& snapshot);

// The "Open files" view's columns.
enum class OpenFileColumn { File, Share, User, Computer, Access, DenyMode, Oplock, Locks, OpenedAt, Count };
inline constexpr int openFileColumnCount = static_cast<int>(OpenFileColumn::Count);

const char* openFileTitle(OpenFileColumn column);
std::string openFileText(const NetFileInfo& file, OpenFileColumn column);
// The file as its share shows it: the path inside the share where the service tells it, else the
// whole path.
std::string fileInShare(const NetFileInfo& file);

// Whether a file answers a filter text: any of its path, share, user or computer holds the text,
// ignoring ASCII case. An empty filter takes every file.
bool openFileMatches(const NetFileInfo& file, const std::string& filter);

// The order a click on a column's title puts the "Open files" view's files in (indexes into
// `files`): the moment and the lock count as numbers, the rest as text ignoring ASCII case; ties
// keep the service's order.
std::vector<std::size_t> openFileOrder(const std::vector<NetFileInfo>& files, OpenFileColumn column, bool descending);

// The "Open files" view's status line: why the files could not be listed, that the next poll will
// list them, or how many of them the filter shows ("2 of 4 open files").
std::string openFilesStatus(bool listed, const std::string& error, std::size_t shown, std::size_t total);

// One shared folder as the shares view lists it: its connections and their users and computers.
struct ShareUse {
    std::string share;
    std::string path;  // where the service tells it (its configuration, or the files open on it), else empty
    uint32_t connections = 0;
    std::vector<std::string> clients;  // "user@computer", each once, in the order of the table's rows
    bool operator==(const ShareUse&) const = default;
};
// The shares the sessions use, by name, with the folder `shares` gives for each (else the one its
// open files show).
std::vector<ShareUse> shareUses(const std::vector<SessionEntry>& sessions, const std::vector<NetFileInfo>& files,
                                const std::vector<NetShareInfo>& shares = {});

// The "Shares" view's columns; its clients joined by `separator` (", " in a cell, a line each in
// a tooltip).
enum class ShareColumn { Share, Path, Connections, Clients, Count };
inline constexpr int shareColumnCount = static_cast<int>(ShareColumn::Count);
const char* shareTitle(ShareColumn column);
std::string shareText(const ShareUse& share, ShareColumn column, const char* separator = ", ");

}  // namespace vantor
