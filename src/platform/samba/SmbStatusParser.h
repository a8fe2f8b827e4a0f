#pragma once
// Readers of the Samba tools' output: `smbstatus --json` and `pdbedit -L`. Free functions, so that
// tests and the fuzzer call them directly; bad input gives an error text, never an exception.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::samba {

// One entry of "sessions".
struct SmbSession {
    std::string user; // "username", cut to 255 bytes
    std::string remoteMachine; // "remote_machine": the client's address, cut to 255 bytes
    int32_t pid = 0; // server_id.pid: the smbd process serving it
    std::optional<int64_t> uid;
};

// One open of a file or directory: an entry of "opens" under its path in "open_files".
struct SmbOpen {
    std::string path; // the key of "open_files": the full path on this computer, cut to 255 bytes
    int32_t pid = 0; // server_id.pid of the smbd process that holds it
    uint32_t shareFileId = 0;
    std::optional<int64_t> uid;
};

struct SmbStatusData {
    std::vector<SmbSession> sessions; // in the document's order
    std::vector<SmbOpen> opens; // in the document's order (path, then its opens)
};

template <typename T> struct ParseResult {
    T value {};
    std::string error; // empty: value holds the data
    bool ok() const { return error.empty(); }
};

ParseResult<SmbStatusData> parseSmbStatusJson(std::string_view json);

// `pdbedit -L`: one "name:uid:full name" line per account; the names in the output's order.
ParseResult<std::vector<std::string>> parsePdbeditList(std::string_view text);

// For every open, the index in `data.sessions` of the session that holds it, or -1 when no session
// is served by its smbd process. An open carries no session id: the process ties it to a session,
// and where one process serves several sessions the open's uid picks among them (the first in
// order when that does not decide), so that each open is counted once.
std::vector<int> sessionOfOpens(const SmbStatusData& data);

} // namespace vantor::samba
