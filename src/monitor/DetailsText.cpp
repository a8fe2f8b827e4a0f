#include "monitor/DetailsText.h"

#include "base/TimeText.h"

#include <algorithm>
#include <map>

namespace vantor {

namespace {

std::string lowerAscii(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
    return s;
}

std::string joined(const std::vector<std::string>& items, const char* separator)
{
    std::string text;
    for (const auto& item : items)
        text += (text.empty() ? "" : separator) + item;
    return text;
}

std::string durationText(int64_t seconds)
{
    return formatDuration(static_cast<uint32_t>(std::clamp<int64_t>(seconds, 0, UINT32_MAX)));
}

// A sort key: a number, or a text (empty: the detail is not told).
struct SortKey {
    std::optional<int64_t> number;
    std::string text;
};

// Indexes 0..n-1 in the order of their keys, the empty texts last; stable.
std::vector<std::size_t> orderByKeys(const std::vector<SortKey>& keys, bool descending, bool emptyLast)
{
    std::vector<std::size_t> order(keys.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const SortKey& ka = keys[a];
        const SortKey& kb = keys[b];
        if (emptyLast) {
            const bool emptyA = !ka.number && ka.text.empty();
            const bool emptyB = !kb.number && kb.text.empty();
            if (emptyA != emptyB)
                return emptyB;
        }
        if (ka.number && kb.number)
            return descending ? *ka.number > *kb.number : *ka.number < *kb.number;
        return descending ? ka.text > kb.text : ka.text < kb.text;
    });
    return order;
}

}  // namespace

std::vector<std::size_t> sessionRowOrder(const std::vector<SessionEntry>& rows, int column, bool descending,
                                         int64_t now)
{
    std::vector<SortKey> keys;
    keys.reserve(rows.size());
    for (const SessionEntry& r : rows) {
        SortKey k;
        if (column == 0)
            k.text = lowerAscii(r.user);
        else if (column == 1)
            k.text = lowerAscii(r.computer);
        else if (column == 2)
            k.number = r.openFiles;
        else if (column > 2 && column < sessionColumnCount) {
            const auto detail = static_cast<SessionDetailColumn>(column - 3);
            k.number = sessionDetailNumber(r.details, detail, now);
            if (!k.number)
                k.text = lowerAscii(sessionDetailText(r.details, detail, now));
        }
        keys.push_back(std::move(k));
    }
    return orderByKeys(keys, descending, true);
}

std::vector<std::size_t> openFileOrder(const std::vector<NetFileInfo>& files, OpenFileColumn column, bool descending)
{
    std::vector<SortKey> keys;
    keys.reserve(files.size());
    for (const NetFileInfo& f : files) {
        SortKey k;
        if (column == OpenFileColumn::OpenedAt)
            k.number = f.details.openedAt.value_or(-1);
        else if (column == OpenFileColumn::Locks)
            k.number = f.details.locks.value_or(0);
        else
            k.text = lowerAscii(openFileText(f, column));
        keys.push_back(std::move(k));
    }
    return orderByKeys(keys, descending, false);
}

std::string openFilesStatus(bool listed, const std::string& error, std::size_t shown, std::size_t total)
{
    if (!error.empty())
        return error;
    if (!listed)
        return "Waiting for the next poll...";
    return std::to_string(shown) + " of " + std::to_string(total) + " open files";
}

const char* shareTitle(ShareColumn column)
{
    switch (column) {
    case ShareColumn::Share:
        return "Share";
    case ShareColumn::Path:
        return "Path";
    case ShareColumn::Connections:
        return "Connections";
    case ShareColumn::Clients:
        return "Connected from";
    case ShareColumn::Count:
        break;
    }
    return "";
}

std::string shareText(const ShareUse& share, ShareColumn column, const char* separator)
{
    switch (column) {
    case ShareColumn::Share:
        return share.share;
    case ShareColumn::Path:
        return share.path;
    case ShareColumn::Connections:
        return std::to_string(share.connections);
    case ShareColumn::Clients:
        return joined(share.clients, separator);
    case ShareColumn::Count:
        break;
    }
    return {};
}

const char* sessionDetailTitle(SessionDetailColumn column)
{
    switch (column) {
    case SessionDetailColumn::ConnectedSince:
        return "Connected since";
    case SessionDetailColumn::ConnectedTime:
        return "Connected time";
    case SessionDetailColumn::IdleTime:
        return "Idle time";
    case SessionDetailColumn::Shares:
        return "Shares";
    case SessionDetailColumn::Protocol:
        return "Protocol";
    case SessionDetailColumn::Encryption:
        return "Encryption";
    case SessionDetailColumn::Signing:
        return "Signing";
    case SessionDetailColumn::ProcessId:
        return "Process";
    case SessionDetailColumn::Uid:
        return "UID";
    case SessionDetailColumn::Count:
        break;
    }
    return "";
}

std::optional<int64_t> sessionDetailNumber(const SessionDetails& d, SessionDetailColumn column, int64_t now)
{
    switch (column) {
    case SessionDetailColumn::ConnectedSince:
        return d.connectedAt;
    // A clock set back must not show a session connected for a negative time.
    case SessionDetailColumn::ConnectedTime:
        return d.connectedAt ? std::optional<int64_t>(std::max<int64_t>(0, now - *d.connectedAt)) : std::nullopt;
    case SessionDetailColumn::IdleTime:
        return d.idleSeconds;
    case SessionDetailColumn::ProcessId:
        return d.processId;
    case SessionDetailColumn::Uid:
        return d.uid;
    default:
        return std::nullopt;
    }
}

std::string sessionDetailText(const SessionDetails& d, SessionDetailColumn column, int64_t now)
{
    switch (column) {
    case SessionDetailColumn::ConnectedSince:
        return d.connectedAt ? formatTimestamp(*d.connectedAt) : std::string();
    case SessionDetailColumn::ConnectedTime:
    case SessionDetailColumn::IdleTime: {
        auto n = sessionDetailNumber(d, column, now);
        return n ? durationText(*n) : std::string();
    }
    case SessionDetailColumn::Shares:
        return joined(d.shares, ", ");
    // SMB3 multichannel: a session may run over several connections.
    case SessionDetailColumn::Protocol:
        if (!d.channels || d.dialect.empty())
            return d.dialect;
        return d.dialect + ", " + std::to_string(*d.channels) + (*d.channels == 1 ? " channel" : " channels");
    case SessionDetailColumn::Encryption:
        return d.encryption;
    case SessionDetailColumn::Signing:
        return d.signing;
    case SessionDetailColumn::ProcessId:
    case SessionDetailColumn::Uid: {
        auto n = sessionDetailNumber(d, column, now);
        return n ? std::to_string(*n) : std::string();
    }
    case SessionDetailColumn::Count:
        break;
    }
    return {};
}

std::string sessionTooltip(const SessionEntry& entry, int64_t now)
{
    std::string text = (entry.user.empty() ? std::string("<no user>") : entry.user) + " on " + entry.computer;
    for (int c = 0; c < sessionDetailColumnCount; ++c) {
        const auto column = static_cast<SessionDetailColumn>(c);
        const std::string value = sessionDetailText(entry.details, column, now);
        if (!value.empty())
            text += std::string("\n") + sessionDetailTitle(column) + ": " + value;
    }
    return text;
}

std::string countsText(const SessionsSnapshot& snapshot)
{
    uint64_t files = 0;
    for (const auto& r : snapshot.rows)
        files += r.openFiles;
    const std::size_t sessions = snapshot.rows.size();
    return std::to_string(sessions) + (sessions == 1 ? " session, " : " sessions, ") + std::to_string(files)
           + (files == 1 ? " open file" : " open files");
}

const char* openFileTitle(OpenFileColumn column)
{
    switch (column) {
    case OpenFileColumn::File:
        return "File";
    case OpenFileColumn::Share:
        return "Share";
    case OpenFileColumn::User:
        return "User";
    case OpenFileColumn::Computer:
        return "Computer";
    case OpenFileColumn::Access:
        return "Access";
    case OpenFileColumn::DenyMode:
        return "Deny mode";
    case OpenFileColumn::Oplock:
        return "Oplock";
    case OpenFileColumn::Locks:
        return "Locks";
    case OpenFileColumn::OpenedAt:
        return "Opened at";
    case OpenFileColumn::Count:
        break;
    }
    return "";
}

std::string fileInShare(const NetFileInfo& file)
{
    return file.details.relativePath.empty() ? file.path : file.details.relativePath;
}

std::string openFileText(const NetFileInfo& file, OpenFileColumn column)
{
    const FileDetails& d = file.details;
    switch (column) {
    case OpenFileColumn::File:
        return fileInShare(file);
    case OpenFileColumn::Share:
        return d.share;
    case OpenFileColumn::User:
        return file.user;
    case OpenFileColumn::Computer:
        return file.computer;
    case OpenFileColumn::Access:
        return accessText(d);
    case OpenFileColumn::DenyMode:
        return d.denyMode;
    case OpenFileColumn::Oplock:
        return d.oplock;
    case OpenFileColumn::Locks:
        return d.locks ? std::to_string(*d.locks) : std::string();
    case OpenFileColumn::OpenedAt:
        return d.openedAt ? formatTimestamp(*d.openedAt) : std::string();
    case OpenFileColumn::Count:
        break;
    }
    return {};
}

bool openFileMatches(const NetFileInfo& file, const std::string& filter)
{
    if (filter.empty())
        return true;
    const std::string wanted = lowerAscii(filter);
    for (const std::string* field : {&file.path, &file.details.share, &file.user, &file.computer})
        if (lowerAscii(*field).find(wanted) != std::string::npos)
            return true;
    return false;
}

std::vector<ShareUse> shareUses(const std::vector<SessionEntry>& sessions, const std::vector<NetFileInfo>& files,
                                const std::vector<NetShareInfo>& shares)
{
    std::map<std::string, ShareUse> byName;
    for (const auto& s : sessions) {
        for (const auto& name : s.details.shares) {
            ShareUse& use = byName[name];
            use.share = name;
            ++use.connections;
            const std::string client = s.user + "@" + s.computer;
            if (std::find(use.clients.begin(), use.clients.end(), client) == use.clients.end())
                use.clients.push_back(client);
        }
    }
    // Share names are case-insensitive on the wire: a client may connect "DOCS" to [docs].
    for (auto& [name, use] : byName)
        for (const auto& share : shares)
            if (!share.path.empty() && lowerAscii(share.name) == lowerAscii(name)) {
                use.path = share.path;
                break;
            }
    // Otherwise the folder of a share shows in each file open on it: the full path less the path inside.
    for (const auto& f : files) {
        auto it = byName.find(f.details.share);
        const std::string& inside = f.details.relativePath;
        if (it == byName.end() || !it->second.path.empty() || inside.empty() || f.path.size() <= inside.size()
            || !f.path.ends_with(inside) || f.path[f.path.size() - inside.size() - 1] != '/')
            continue;
        it->second.path = f.path.substr(0, f.path.size() - inside.size() - 1);
    }
    std::vector<ShareUse> out;
    out.reserve(byName.size());
    for (auto& [name, use] : byName)
        out.push_back(std::move(use));
    return out;
}

}  // namespace vantor
