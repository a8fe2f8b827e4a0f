#include "platform/NetManagement.h"

namespace vantor {

std::string cutUtf8(std::string text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text;
    std::size_t end = maxBytes;
    // Step back over continuation bytes (10xxxxxx) to the lead byte of the cut sequence, then drop
    // that sequence when it would not fit whole.
    // A sequence is at most four bytes: more continuation bytes than three in a row are no UTF-8,
    // and stepping back over all of them would cut a name down to nothing.
    std::size_t lead = end;
    while (lead > 0 && end - lead < 3 && (static_cast<unsigned char>(text[lead]) & 0xC0) == 0x80)
        --lead;
    if ((static_cast<unsigned char>(text[lead]) & 0xC0) != 0x80)
        end = lead;
    text.resize(end);
    return text;
}

std::string accessText(const FileDetails& details)
{
    if (details.read && details.write)
        return "read/write";
    return details.read ? "read" : details.write ? "write" : "";
}

NetStatus NetManagement::enumAllFiles(const ServerName&, std::vector<NetFileInfo>& out)
{
    out.clear();
    return {netcode::NotSupported, "The service cannot list the open files of every user at once."};
}

NetStatus NetManagement::enumShares(const ServerName&, std::vector<NetShareInfo>& out)
{
    out.clear();
    return {netcode::NotSupported, "The service cannot list its shares."};
}

std::vector<NetStatus> NetManagement::deleteSessions(const ServerName& server, const std::vector<SessionKey>& sessions)
{
    std::vector<NetStatus> statuses;
    statuses.reserve(sessions.size());
    for (const auto& s : sessions)
        statuses.push_back(deleteSession(server, s.computer, s.user));
    return statuses;
}

}  // namespace vantor
