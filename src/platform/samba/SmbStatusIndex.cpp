#include "platform/samba/SmbStatusIndex.h"

#include "platform/AsciiCase.h"
#include "platform/samba/SambaTools.h"

#include <algorithm>
#include <filesystem>
#include <limits>

namespace vantor::samba {

uint32_t srvsvcFileId(int32_t pid, uint32_t shareFileId)
{
    return (static_cast<uint32_t>(pid) << 16) | shareFileId;
}

uint32_t listedFileId(const SmbOpen& open)
{
    if (open.hasShareFileId)
        return srvsvcFileId(open.pid, open.shareFileId);
    // FNV-1a over the process and the path.
    uint32_t h = 2166136261u;
    auto mix = [&](unsigned char c) { h = (h ^ c) * 16777619u; };
    for (int shift = 0; shift < 32; shift += 8)
        mix(static_cast<unsigned char>(static_cast<uint32_t>(open.pid) >> shift));
    for (char c : open.path)
        mix(static_cast<unsigned char>(c));
    return h | 0x80000000u;
}

SmbStatusIndex::SmbStatusIndex(SmbStatusData data)
    : m_data(std::move(data))
{
    m_owner = sessionOfOpens(m_data);
    collectDetails();
    m_openCounts.assign(m_data.sessions.size(), 0);
    m_opensByUser.reserve(m_data.sessions.size());
    for (std::size_t k = 0; k < m_owner.size(); ++k) {
        if (m_owner[k] < 0)
            continue;
        const auto s = static_cast<std::size_t>(m_owner[k]);
        ++m_openCounts[s];
        m_opensByUser[lowerAscii(m_data.sessions[s].user)].push_back(k);
    }
}

void SmbStatusIndex::collectDetails()
{
    m_details.resize(m_data.sessions.size());
    std::unordered_map<std::string, std::size_t> byId;
    std::unordered_map<int32_t, std::vector<std::size_t>> byPid;
    std::vector<std::vector<int64_t>> connectedAt(m_data.sessions.size());  // beside each session's shares
    for (std::size_t i = 0; i < m_data.sessions.size(); ++i) {
        const SmbSession& session = m_data.sessions[i];
        SessionDetails& d = m_details[i];
        d.dialect = session.dialect;
        d.encryption = session.encryption;
        d.signing = session.signing;
        d.processId = session.pid;
        d.uid = session.uid;
        d.channels = session.channels;
        d.connectedAt = session.createdAt;
        if (!session.sessionId.empty())
            byId.emplace(session.sessionId, i);
        byPid[session.pid].push_back(i);
    }
    // A tree connect names its session; one of an older Samba without the id goes to every session
    // of its process. A session carries no time of its own: it began no later than its first tree
    // connect.
    for (const SmbTcon& tcon : m_data.tcons) {
        std::vector<std::size_t> owners;
        if (auto it = byId.find(tcon.sessionId); !tcon.sessionId.empty() && it != byId.end())
            owners.push_back(it->second);
        else if (auto p = byPid.find(tcon.pid); tcon.sessionId.empty() && p != byPid.end())
            owners = p->second;
        for (std::size_t i : owners) {
            SessionDetails& d = m_details[i];
            if (std::find(d.shares.begin(), d.shares.end(), tcon.share) == d.shares.end()) {
                d.shares.push_back(tcon.share);
                connectedAt[i].push_back(tcon.connectedAt ? tcon.connectedAtMicros
                                                          : std::numeric_limits<int64_t>::max());
            }
            // Samba 4.20 and later tell when the session began; before, its first tree connect
            // is the nearest.
            if (!m_data.sessions[i].createdAt && tcon.connectedAt
                && (!d.connectedAt || *tcon.connectedAt < *d.connectedAt))
                d.connectedAt = tcon.connectedAt;
        }
    }
    // The document lists the tree connects in no useful order: the shares go in connection order.
    for (std::size_t i = 0; i < m_details.size(); ++i) {
        std::vector<std::string>& shares = m_details[i].shares;
        if (shares.size() < 2)
            continue;
        std::vector<std::size_t> order(shares.size());
        for (std::size_t k = 0; k < order.size(); ++k)
            order[k] = k;
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return connectedAt[i][a] < connectedAt[i][b]; });
        std::vector<std::string> sorted;
        for (std::size_t k : order)
            sorted.push_back(std::move(shares[k]));
        shares = std::move(sorted);
    }
}

FileDetails SmbStatusIndex::fileDetails(std::size_t k) const
{
    const SmbOpen& open = m_data.opens[k];
    FileDetails d;
    d.relativePath = open.filename;
    d.read = open.read;
    d.write = open.write;
    if (open.hasShareMode) {
        if (!open.shareRead && !open.shareWrite)
            d.denyMode = "read/write";
        else
            d.denyMode = !open.shareRead ? "read" : !open.shareWrite ? "write" : "none";
    }
    if (!open.lease.empty())
        d.oplock = "lease " + open.lease;
    else if (open.oplock.empty() || open.oplock == "NONE")
        d.oplock = "none";
    else if (open.oplock.find("BATCH") != std::string::npos)
        d.oplock = "batch";
    else if (open.oplock.find("EXCLUSIVE") != std::string::npos)
        d.oplock = "exclusive";
    else if (open.oplock.find("LEVEL_II") != std::string::npos)
        d.oplock = "level II";
    else
        d.oplock = lowerAscii(open.oplock);
    d.openedAt = open.openedAt;
    d.locks = open.locks;

    // An open names the folder it lies in, not its share: the share is the one of the holding
    // process's tree connects that is named like that folder, else its only one.
    const std::string folder = std::filesystem::path(open.servicePath).filename().string();
    static const std::vector<std::string> none;
    const std::vector<std::string>& shares =
        m_owner[k] >= 0 ? m_details[static_cast<std::size_t>(m_owner[k])].shares : none;
    for (const std::string& share : shares)
        if (sameName(share, folder))
            d.share = share;
    if (d.share.empty())
        d.share = shares.size() == 1 ? shares.front() : folder;
    return d;
}

std::vector<NetSessionInfo> SmbStatusIndex::sessions() const
{
    std::vector<NetSessionInfo> out;
    out.reserve(m_data.sessions.size());
    for (std::size_t i = 0; i < m_data.sessions.size(); ++i)
        out.push_back({m_data.sessions[i].user, m_data.sessions[i].remoteMachine, m_openCounts[i], m_details[i]});
    return out;
}

std::vector<NetFileInfo> SmbStatusIndex::filesOf(const std::string& user) const
{
    std::vector<NetFileInfo> out;
    auto it = m_opensByUser.find(lowerAscii(user));
    if (it == m_opensByUser.end())
        return out;
    out.reserve(it->second.size());
    for (std::size_t k : it->second) {
        const SmbOpen& open = m_data.opens[k];
        out.push_back({listedFileId(open),
                       open.path,
                       m_data.sessions[static_cast<std::size_t>(m_owner[k])].remoteMachine,
                       {},
                       fileDetails(k)});
    }
    return out;
}

std::vector<NetFileInfo> SmbStatusIndex::allFiles() const
{
    std::vector<NetFileInfo> out;
    out.reserve(m_data.opens.size());
    for (std::size_t k = 0; k < m_owner.size(); ++k) {
        if (m_owner[k] < 0)
            continue;
        const SmbOpen& open = m_data.opens[k];
        const SmbSession& session = m_data.sessions[static_cast<std::size_t>(m_owner[k])];
        out.push_back({listedFileId(open), open.path, session.remoteMachine, session.user, fileDetails(k)});
    }
    return out;
}

}  // namespace vantor::samba
