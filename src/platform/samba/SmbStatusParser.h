#pragma once
// Readers of the Samba tools' output: `smbstatus --json` and `pdbedit -L`. Free functions, so that
// tests and the fuzzer call them directly; bad input gives an error text, never an exception.

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::samba {

// One entry of "sessions".
struct SmbSession {
    std::string user;  // "username", cut to 255 bytes
    std::string remoteMachine;  // "remote_machine": the client's address, cut to 255 bytes
    int32_t pid = 0;  // server_id.pid: the smbd process serving it
    std::optional<int64_t> uid;
    std::string sessionId;  // "session_id": what its tree connects name it by
    std::string dialect;  // "session_dialect"
    std::string encryption;  // the cipher and its degree, or "none"; empty: not told
    std::string signing;
    std::optional<int64_t> createdAt;  // "creation_time" (Samba 4.20 and later): when it began
    std::optional<uint32_t> channels;  // the entries of "channels" (4.20 and later)
};

// One entry of "tcons": a session's connection to a share.
struct SmbTcon {
    std::string share;  // "service"
    std::string sessionId;
    int32_t pid = 0;
    std::optional<int64_t> connectedAt;  // seconds since 1970
    int64_t connectedAtMicros = 0;  // the same to the microsecond: the order of one session's connects
};

// One open of a file or directory: an entry of "opens" under its path in "open_files".
struct SmbOpen {
    std::string path;  // the key of "open_files": the full path on this computer, cut to 255 bytes
    int32_t pid = 0;  // server_id.pid of the smbd process that holds it
    uint32_t shareFileId = 0;
    // False where the listing gives no share_file_id (the text one): the open cannot be named to
    // the srvsvc service then.
    bool hasShareFileId = true;
    std::optional<int64_t> uid;
    std::string servicePath;  // the file's "service_path": the shared folder it lies in
    std::string filename;  // the file's "filename": its path inside that folder
    bool read = false;  // access_mask READ_DATA
    bool write = false;  // access_mask WRITE_DATA or APPEND_DATA
    bool shareRead = true;  // sharemode: what others may still do
    bool shareWrite = true;
    bool hasShareMode = false;
    // Its access holds WRITE_OWNER, which smbstatus cannot write as JSON (the text listing tells).
    bool writeOwner = false;
    std::string oplock;  // the oplock's "text"; empty: none
    std::string lease;  // the lease's "text" ("RWH"); empty: none
    std::optional<int64_t> openedAt;
    // Byte-range locks its process holds on the file; none: the document does not tell (smbstatus
    // lists them with -B).
    std::optional<uint32_t> locks;
};

// A record of a listing that could not be read and was left out, the rest being read all the same.
struct SkippedRecord {
    std::string cause;  // what was wrong, the same for every record with that fault
    std::string text;  // the same, naming the record
};

struct SmbStatusData {
    std::vector<SmbSession> sessions;  // in the document's order
    std::vector<SmbTcon> tcons;  // in the document's order
    std::vector<SmbOpen> opens;  // in the document's order (path, then its opens)
    std::vector<SkippedRecord> skipped;
};

// Samba's time texts ("2026-12-07T00:26:30.680228+00:00", also "+0000" and "Z") as seconds since
// 1970; none for anything else.
std::optional<int64_t> parseSambaTime(std::string_view text);
// The same to the nearest second, as smbstatus shows when a session or a tree connect began.
std::optional<int64_t> roundedSambaTime(std::string_view text);
// The same in microseconds.
std::optional<int64_t> parseSambaTimeMicros(std::string_view text);

template <typename T> struct ParseResult {
    T value{};
    std::string error;  // empty: value holds the data
    bool ok() const { return error.empty(); }
};

// A session, an open file or an open that cannot be read is left out and named in `skipped`; only a
// document that is not a smbstatus document at all is an error.
// `needSessions` false: a document of the tree connects alone (`smbstatus --json -S`).
ParseResult<SmbStatusData> parseSmbStatusJson(std::string_view json, bool needSessions = true);

// The open files and byte-range locks of the text listing (`smbstatus -L -B`), which smbstatus
// still writes when its JSON listing of them fails. It gives what the JSON gives of each open but
// the share_file_id (hasShareFileId false) and the lease's own text (the oplock column tells it),
// and its times only to the second, in the local time of smbstatus: `localTime` turns such a date
// into seconds since 1970 (empty: the local time zone of this process). Only `opens` (and
// `skipped`, for lines it cannot read) are filled. A share path and a file name are told apart by
// the three spaces smbstatus writes between them.
ParseResult<SmbStatusData>
parseSmbStatusLocksText(std::string_view text,
                        const std::function<std::optional<int64_t>(const std::tm&)>& localTime = {});

// The "byte_range_locks" part of a document: how many locks each smbd process holds on each file
// (the full path, cut as an open's path is). Empty where the document has no such part or it
// cannot be read: the lock counts are a detail, never a reason to refuse the document.
struct SmbLockCount {
    std::string path;
    int32_t pid = 0;
    uint32_t count = 0;
};
std::optional<std::vector<SmbLockCount>> parseByteRangeLocks(std::string_view json);

// Gives each open the locks its process holds on its file (the first open of the file in that
// process takes them: a lock names no open), or none when `locks` is none.
void assignLockCounts(SmbStatusData& data, const std::optional<std::vector<SmbLockCount>>& locks);

// `pdbedit -L`: one "name:uid:full name" line per account; the names in the output's order.
ParseResult<std::vector<std::string>> parsePdbeditList(std::string_view text);

// For every open, the index in `data.sessions` of the session that holds it, or -1 when no session
// is served by its smbd process. An open carries no session id: the process ties it to a session,
// and where one process serves several sessions the open's uid picks among them (the first in
// order when that does not decide), so that each open is counted once.
std::vector<int> sessionOfOpens(const SmbStatusData& data);

}  // namespace vantor::samba
