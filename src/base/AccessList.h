#pragma once
// The black and white lists of (user, computer) pairs and the decision whether a session must be
// closed. List files hold one "user computer" line per entry; names are matched in upper case and
// "<Any>" (in any case) matches every name.

#include "platform/AsciiCase.h"

#include <filesystem>
#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace vantor {

struct AccessEntry {
    std::string user;  // upper case in memory
    std::string computer;  // upper case in memory
    bool operator==(const AccessEntry&) const = default;
};

using AccessList = std::vector<AccessEntry>;

inline constexpr const char* blackListFileName = "blist.dat";
inline constexpr const char* whiteListFileName = "wlist.dat";
inline constexpr const char* anyName = "<Any>";

// One line of a list file: its first two blank-separated tokens. A line with fewer than two tokens
// (left by an empty name) is not an entry. Tokens are cut at 255 bytes.
std::optional<AccessEntry> parseAccessLine(std::string_view line);

// A pair as written in a list file, case kept: what the Options window's list pages show.
struct AccessRow {
    std::string user;
    std::string computer;
    bool operator==(const AccessRow&) const = default;
};

// One line of a list file as a list page reads it: the first two blank-separated tokens, case kept.
// A line with a single token keeps it (the other name was empty when the line was written): after
// a leading blank it is the computer, otherwise the user. A blank line is no row.
std::optional<AccessRow> parseAccessRow(std::string_view line);

// The rows of a whole list file in file order, read in the same 1,023-byte pieces as the lists.
std::vector<AccessRow> readAccessRows(std::istream& in);
std::vector<AccessRow> loadAccessRowsFile(const std::filesystem::path& file);

// Reads a whole list (entries upper-cased, in file order). Lines are read 1,023 bytes at a time,
// as the list files have always been read, so an over-long line continues as further lines.
AccessList readAccessList(std::istream& in);

// A missing or unreadable file is an empty list.
AccessList loadAccessListFile(const std::filesystem::path& file);

// A name that goes into a list file as one blank-separated token of one line (1 to 255 bytes, no
// blank or control character): a blank or a line break in it would make another entry of the file
// than the one asked for.
bool listNameAcceptable(const std::string& name);

// Appends "user computer\n"; false when the file cannot be opened for appending.
bool appendAccessListLine(const std::filesystem::path& file, const std::string& user, const std::string& computer);

// Rewrites the file with the given pairs, in order (as written, case kept).
bool writeAccessListFile(const std::filesystem::path& file,
                         const std::vector<std::pair<std::string, std::string>>& pairs);

bool accessEntryMatches(const AccessEntry& entry, const std::string& upperUser, const std::string& upperComputer);

// True when the session of (user, computer) must be closed: on the black list while the black list
// is in force, or not on the white list (an empty white list condemns every session) otherwise.
bool mustCloseSession(const AccessList& blackList, const AccessList& whiteList, bool useBlackList,
                      const std::string& user, const std::string& computer);

}  // namespace vantor
