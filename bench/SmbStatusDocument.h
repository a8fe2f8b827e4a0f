#pragma once
// Large `smbstatus --json` documents in exactly the shape of a recorded one: the recorded
// document's first session, tree connect and open file are the templates; each generated session
// gets its own pid, address and user, one tree connect and `opensPerSession` open files.

#include <string>

namespace vantor::bench {

// Empty on failure (the recorded document could not be read), with `error` set.
std::string generateSmbStatusDocument(const std::string& recorded, int sessions, int opensPerSession,
                                      std::string& error);

}  // namespace vantor::bench
