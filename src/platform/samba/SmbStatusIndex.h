#pragma once
// One smbstatus listing read for the backend's questions, and the identifiers its opens are
// listed and closed by.

#include "platform/NetManagement.h"
#include "platform/samba/SmbStatusParser.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace vantor::samba {

// One smbstatus document ready for the service's questions: each session's open count and each
// user's opens, worked out once, so that the open files of every newcomer of a poll cost no more
// than reading them.
class SmbStatusIndex {
public:
    explicit SmbStatusIndex(SmbStatusData data);

    const SmbStatusData& data() const { return m_data; }
    std::vector<NetSessionInfo> sessions() const;
    // Every open of a session of `user` (any case), in the document's order.
    std::vector<NetFileInfo> filesOf(const std::string& user) const;
    // Every open that belongs to a session, with its session's user, in the document's order.
    std::vector<NetFileInfo> allFiles() const;

    const SessionDetails& detailsOf(std::size_t session) const { return m_details[session]; }
    FileDetails fileDetails(std::size_t open) const;

private:
    void collectDetails();

    SmbStatusData m_data;
    std::vector<uint32_t> m_openCounts;
    std::unordered_map<std::string, std::vector<std::size_t>> m_opensByUser;  // lower-case user
    std::vector<int> m_owner;
    std::vector<SessionDetails> m_details;
};

// The identifier Samba's srvsvc service gives an open (and takes back to close it): the smbd
// process id above the open's share_file_id, cut to 32 bits as Samba cuts it.
uint32_t srvsvcFileId(int32_t pid, uint32_t shareFileId);
// The identifier an open is listed with: srvsvcFileId where the listing gave its share_file_id,
// else one made from its process and path (the same at every poll), which closeFile recognises in
// the listing as one it cannot name to the srvsvc service.
uint32_t listedFileId(const SmbOpen& open);

}  // namespace vantor::samba
