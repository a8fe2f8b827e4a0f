#pragma once
// The two history logs in the data directory: users.log, one line per finished session, and
// files.log, one line per file seen open. This file owns their line formats (reading and writing),
// the trimming to the report limit and the two ways of deleting them.
//
//   users.log   "<start> <user> <computer> <duration>"   blanks in names written as '_'
//   files.log   "<time> <user> <computer> <path>"        blanks in every field written as '?'
//
// Fields are separated by blanks or tabs; a line shorter than 10 characters (its line end counted
// as one) is no record, so the empty lines a trim leaves are harmless. Times are unsigned 32-bit
// on disk and compared as signed 32-bit values.

#include "platform/MessageBoxes.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace vantor {

inline constexpr const char* usersLogName = "users.log";
inline constexpr const char* filesLogName = "files.log";
inline constexpr std::size_t maxLogLine = 1023;  // characters, its line end included
inline constexpr std::size_t maxLogField = 255;  // bytes of one text field
inline constexpr std::size_t minRecordLine = 10;  // characters, its line end included
inline constexpr char usersLogBlank = '_';
inline constexpr char filesLogBlank = '?';

inline constexpr const char* historyClearedText = "History has been cleared!";
inline constexpr const char* historyClearedCaption = "Vantor";

struct SessionRecord {
    int32_t start = 0;  // as the comparisons read it: the field's 32 bits taken as signed
    std::string user;
    std::string computer;
    uint32_t duration = 0;
    uint32_t fileCount = 0;  // filled by the reader

    // The last second of the session's window; beyond 32 bits when start + duration is.
    int64_t end() const { return int64_t{start} + duration; }
    bool operator==(const SessionRecord&) const = default;
};

struct FileRecord {
    int32_t time = 0;
    std::string path;
    std::string user;
    std::string computer;
    bool operator==(const FileRecord&) const = default;
};

std::filesystem::path logFilePath(const std::filesystem::path& dataDir, const std::string& name);

// --- reading ---------------------------------------------------------------------------------------
// `line` is one line as read, with its line end ("\n" or "\r\n") when it had one. Nothing for a line
// that is no record: shorter than 10 characters, longer than 1023, a field missing or over 255
// bytes, or a number that is not all digits or does not fit 32 bits.
std::optional<SessionRecord> parseSessionLine(std::string_view line);
std::optional<FileRecord> parseFileLine(std::string_view line);

// Calls `fn` with every line of the file, its line end included; a line over 1023 characters comes
// whole with `tooLong` set. False when the file cannot be opened or a read fails (the lines after
// the failure are never seen).
bool forEachLogLine(const std::filesystem::path& file,
                    const std::function<void(std::string_view line, bool tooLong)>& fn);
bool forEachLogLine(std::istream& in, const std::function<void(std::string_view line, bool tooLong)>& fn);

// --- writing -----------------------------------------------------------------------------------------
// A name as a log field. The reader ties a file line to its session by the decoded names, and the two
// logs decode differently ('_' is a blank only in users.log, '?' only in files.log). So every blank,
// '_', '?', tab or control character of a name becomes the log's substitute, and both logs decode
// the name the same way. An empty name, which the format cannot hold, is written as one substitute
// (it reads back as a single blank in both logs). Cut to 255 bytes, never inside a UTF-8 sequence.
std::string encodeLogName(std::string_view name, char blank);
// A path as a files.log field: blanks, '?', tabs and control characters become '?'; '_' stays.
std::string encodeLogPath(std::string_view path);

void writeSessionLine(std::ostream& out, int64_t start, std::string_view user, std::string_view computer,
                      uint32_t duration);
void writeFileLine(std::ostream& out, int64_t time, std::string_view user, std::string_view computer,
                   std::string_view path);

// Appends text (whole lines) to a log, creating the data directory and the log when missing.
// Appends from every thread are serialised. False when the log cannot be written (then nothing of
// `lines` is in it, and `why`, when given, names the file and the reason).
bool appendToLog(const std::filesystem::path& dataDir, const std::string& name, const std::string& lines,
                 std::string* why = nullptr);

// --- trimming and deleting ---------------------------------------------------------------------------
// The report limit of each choice of "Limit report to"; the separators (3 and 7) have none.
inline constexpr std::array<std::optional<int32_t>, 10> reportLimitSeconds = {
    3600, 7200, 10800, std::nullopt, 86400, 172800, 259200, std::nullopt, 604800, 2592000};
std::optional<int32_t> reportLimitFor(int32_t reportLimitIndex);

// Keeps in both logs the records whose first field t satisfies t + limit >= now, each followed by an
// empty line, through a fresh temporary file moved onto the log (see AtomicFile). An index without
// a limit trims nothing (false). A log that cannot be read whole or written stays as it was; then
// the result is false and `why` (when given) names the file and the reason, one line per log.
bool trimLogs(const std::filesystem::path& dataDir, int32_t reportLimitIndex, int64_t now, std::string* why = nullptr);

// What a window tells when trimLogs failed for `why`.
std::string trimFailedText(const std::string& why);

// The same with a limit of its own (the service's historyDays), in seconds.
bool trimLogsTo(const std::filesystem::path& dataDir, int64_t limitSeconds, int64_t now, std::string* why = nullptr);

// The console's deletion: both logs, each tried whatever became of the other; nothing reported.
void deleteLogs(const std::filesystem::path& dataDir);

// The menu's "Clear history": users.log, then files.log only if that worked, and the confirmation
// when both are gone. A log that was not there counts as deleted (with "Log opened files" off there
// is no files.log); a log that cannot be deleted ends it with an error box. True when both are gone.
bool clearHistory(const std::filesystem::path& dataDir, MessageBoxes& boxes, void* owner = nullptr);

}  // namespace vantor
