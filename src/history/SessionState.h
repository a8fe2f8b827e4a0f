#pragma once
// What the history recorder must remember across a restart of the service: the server it polled,
// the sessions open at its last poll (their start, when they were last seen, the paths already
// logged for them) and when it wrote that down. A service that comes back finds the sessions that
// are still there in it and goes on with them, instead of cutting each in two in users.log, logging
// its files a second time and greeting its user as new.
//
// The file is one record a line; names and paths are percent-encoded (every byte outside the
// printable ASCII range, blanks and '%'), an empty text is a lone '%':
//
//   vantor-sessions 1
//   saved <unix time>
//   server local | server name <text>
//   session <start> <last seen> <user> <computer>
//   file <path>                                   (a path logged for the session above)

#include "platform/NetManagement.h"

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace vantor {

inline constexpr const char* sessionStateName = "sessions.state";

struct KeptSession {
    std::string user;
    std::string computer;
    int64_t start = 0;
    int64_t lastSeen = 0;
    std::set<std::string> loggedPaths;
    bool operator==(const KeptSession&) const = default;
};

struct SessionState {
    int64_t saved = 0;
    std::optional<ServerName> server;  // none: nothing was polled yet
    std::vector<KeptSession> sessions;
    bool operator==(const SessionState&) const = default;
};

std::string formatSessionState(const SessionState& state);

struct SessionStateParse {
    std::optional<SessionState> state;
    std::string error;  // with the line number, when `state` is empty
};
// Never throws; a damaged file gives an error and no state (the service then starts afresh).
SessionStateParse parseSessionState(std::string_view text);

}  // namespace vantor
