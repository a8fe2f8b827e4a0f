#pragma once
// The answer of vantor-srvsvc.py, the helper that makes a server's srvsvc calls through Samba's
// Python bindings: one JSON document on its standard output. A free function, so that tests and
// the fuzzer call it directly; bad input gives an error text, never an exception.

#include "platform/NetManagement.h"
#include "platform/samba/SmbStatusParser.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::samba {

struct SrvsvcError {
    // werror, ntstatus (the server's or Samba's status), unreachable, credentials (none found, or
    // the file is unreadable), bindings (python3-samba missing), usage, internal.
    std::string kind;
    uint64_t code = 0;  // the WERROR or NTSTATUS value, where there is one
    std::string name;  // "WERR_ACCESS_DENIED", "NT_STATUS_LOGON_FAILURE", ...
    std::string message;  // the helper's or Samba's own words
    std::string account;  // the account that was logged on with, when known
    std::string path;  // the authentication file concerned, for credentials errors
};

struct SrvsvcReply {
    bool ok = false;
    SrvsvcError error;  // when !ok
    std::vector<NetSessionInfo> sessions;  // a "sessions" answer
    std::vector<NetFileInfo> files;  // a "files" answer (computer is empty: level 3 has none)
    std::vector<NetShareInfo> shares;  // a "shares" answer: the disk shares and their folders
};

ParseResult<SrvsvcReply> parseSrvsvcReply(std::string_view json);

}  // namespace vantor::samba
