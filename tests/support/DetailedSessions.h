#pragma once
// Sessions and open files with the details a service tells, for the tests of the detail texts and
// of the windows that show them.

#include "demo/FakeNetManagement.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vantor::test {

// A session with its shares and the moment it connected, over SMB3_11, served by a process of
// its own (1000 + the length of the user's name).
inline FakeSession detailedSession(const std::string& user, const std::string& computer,
                                   std::vector<std::string> shares, int64_t connectedAt,
                                   std::vector<NetFileInfo> files = {})
{
    FakeSession s{user, computer, std::move(files), std::nullopt, {}};
    s.details.shares = std::move(shares);
    s.details.connectedAt = connectedAt;
    s.details.dialect = "SMB3_11";
    s.details.processId = static_cast<int64_t>(1000 + user.size());
    return s;
}

// A file open through `share` (in /srv/SHARE) at `inside`, to read, and to write denying others
// the writing when `write`.
inline NetFileInfo sharedFile(uint32_t id, const std::string& share, const std::string& inside, bool write)
{
    NetFileInfo f;
    f.id = id;
    f.path = "/srv/" + share + "/" + inside;
    f.details.share = share;
    f.details.relativePath = inside;
    f.details.read = true;
    f.details.write = write;
    f.details.denyMode = write ? "write" : "none";
    return f;
}

}  // namespace vantor::test
