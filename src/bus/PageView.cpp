#include "bus/PageView.h"

#include "base/AccessList.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <random>
#include <tuple>
#include <unordered_map>

namespace vantor::bus {

namespace {

std::optional<int64_t> wholeNumber(const std::string& text)
{
    int64_t n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return n;
}

bool holds(std::string_view haystack, const std::string& upperNeedle)
{
    return upperAscii(std::string(haystack)).find(upperNeedle) != std::string::npos;
}

}  // namespace

std::optional<std::string> readHistoryQuery(const std::vector<std::pair<std::string, std::string>>& values,
                                            HistoryQuery& query)
{
    using Column = HistoryQuery::Column;
    for (const auto& [name, value] : values) {
        if (name == "text") {
            query.text = value;
        } else if (name == "from" || name == "to") {
            const auto n = wholeNumber(value);
            if (!n)
                return name + " must be a time in seconds since 1970, not \"" + value + "\"";
            (name == "from" ? query.from : query.to) = n;
        } else if (name == "sort") {
            static const std::pair<const char*, Column> columns[] = {{"user", Column::User},
                                                                     {"computer", Column::Computer},
                                                                     {"files", Column::Files},
                                                                     {"start", Column::Start},
                                                                     {"duration", Column::Duration}};
            const auto it =
                std::find_if(std::begin(columns), std::end(columns), [&](const auto& c) { return value == c.first; });
            if (it == std::end(columns))
                return "sort must be user, computer, files, start or duration, not \"" + value + "\"";
            query.sort = it->second;
        } else if (name == "order") {
            if (value != "asc" && value != "desc")
                return "order must be asc or desc, not \"" + value + "\"";
            query.descending = value == "desc";
        } else {
            return "there is no history filter " + name;
        }
    }
    return std::nullopt;
}

std::vector<std::size_t> historySessions(const HistoryData& data, const HistoryQuery& query)
{
    const auto& sessions = data.sessions();
    const std::string needle = upperAscii(query.text);
    std::vector<std::size_t> kept;
    for (std::size_t i = sessions.size(); i-- > 0;) {
        const SessionRecord& s = sessions[i];
        if ((query.from && s.start < *query.from) || (query.to && s.start > *query.to))
            continue;
        if (!needle.empty() && !holds(s.user, needle) && !holds(s.computer, needle))
            continue;
        kept.push_back(i);
    }
    if (!query.sort)
        return kept;
    using Column = HistoryQuery::Column;
    const Column column = *query.sort;
    auto less = [&](std::size_t a, std::size_t b) {
        const SessionRecord& x = sessions[a];
        const SessionRecord& y = sessions[b];
        switch (column) {
        case Column::User:
            return x.user < y.user;
        case Column::Computer:
            return x.computer < y.computer;
        case Column::Files:
            return x.fileCount < y.fileCount;
        case Column::Start:
            return x.start < y.start;
        case Column::Duration:
            return x.duration < y.duration;
        }
        return false;
    };
    // Stable: sessions that compare equal stay newest first, whichever way the column runs.
    if (query.descending)
        std::stable_sort(kept.begin(), kept.end(), [&](std::size_t a, std::size_t b) { return less(b, a); });
    else
        std::stable_sort(kept.begin(), kept.end(), less);
    return kept;
}

std::vector<std::size_t> historySessionFiles(const HistoryData& data, std::string_view user, std::string_view computer,
                                             int64_t start, uint32_t duration)
{
    return data.filesInWindow(user, computer, start, start + duration);
}

namespace {

using Json = nlohmann::json;

Json rowJson(const SessionEntry& row)
{
    auto number = [](const std::optional<int64_t>& n) { return n ? Json(*n) : Json(nullptr); };
    const SessionDetails& d = row.details;
    return Json::array(
        {row.user, row.computer, row.openFiles,
         Json::array({number(d.connectedAt), number(d.idleSeconds), d.shares, d.dialect, d.encryption, d.signing,
                      number(d.processId), number(d.uid), d.channels ? Json(*d.channels) : Json(nullptr)})});
}

Json allRows(const SessionsSnapshot& snapshot)
{
    Json rows = Json::array();
    for (const SessionEntry& row : snapshot.rows)
        rows.push_back(rowJson(row));
    return rows;
}

std::string dump(const Json& json)
{
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// A row's user and computer, as keys into a table of rows that outlive them.
struct PairKey {
    std::string_view user, computer;
    bool operator==(const PairKey&) const = default;
};
struct PairHash {
    std::size_t operator()(const PairKey& k) const noexcept
    {
        const std::size_t u = std::hash<std::string_view>()(k.user);
        return u ^ (std::hash<std::string_view>()(k.computer) + 0x9e3779b97f4a7c15ULL + (u << 6) + (u >> 2));
    }
};

}  // namespace

std::string sessionsJson(const SessionsSnapshot& snapshot)
{
    return dump(
        {{"rows", allRows(snapshot)}, {"current", snapshot.currentSessionsCount}, {"files", snapshot.openFilesTotal}});
}

std::string sessionsChangeJson(const SessionsSnapshot* base, const SessionsSnapshot& now, const std::string& version)
{
    Json out = {{"version", version}, {"current", now.currentSessionsCount}, {"files", now.openFilesTotal}};
    auto whole = [&] {
        out["full"] = true;
        out["rows"] = allRows(now);
        return dump(out);
    };
    if (!base)
        return whole();
    // The base's rows by pair, each marked when the new table holds it again: one table of rows,
    // not two (at 10,000 sessions building it is most of the work).
    struct Held {
        const SessionEntry* row;
        bool again = false;
    };
    std::unordered_map<PairKey, Held, PairHash> before;
    before.reserve(base->rows.size());
    for (const SessionEntry& row : base->rows)
        if (!before.emplace(PairKey{row.user, row.computer}, Held{&row}).second)
            return whole();
    Json changed = Json::array();
    std::unordered_map<PairKey, bool, PairHash> came;  // the new pairs, few
    for (const SessionEntry& row : now.rows) {
        const PairKey key{row.user, row.computer};
        const auto it = before.find(key);
        if (it == before.end()) {
            if (!came.emplace(key, true).second)
                return whole();
        } else if (it->second.again) {
            return whole();
        } else {
            it->second.again = true;
            if (*it->second.row == row)
                continue;
        }
        changed.push_back(rowJson(row));
    }
    Json removed = Json::array();
    for (const SessionEntry& row : base->rows)
        if (!before.at(PairKey{row.user, row.computer}).again)
            removed.push_back(Json::array({row.user, row.computer}));
    out["full"] = false;
    out["changed"] = std::move(changed);
    out["removed"] = std::move(removed);
    return dump(out);
}

SessionsJournal::SessionsJournal(std::size_t keep)
    : m_keep(std::max<std::size_t>(keep, 1))
{
    std::random_device random;
    const uint64_t run = (uint64_t(random()) << 32) ^ random();
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(run));
    m_run = text;
}

const SessionsJournal::Entry& SessionsJournal::record(SessionsSnapshotPtr snapshot)
{
    if (m_entries.size() == m_keep)
        m_entries.pop_front();
    m_entries.push_back({m_run + "-" + std::to_string(++m_count), std::move(snapshot)});
    return m_entries.back();
}

const SessionsJournal::Entry* SessionsJournal::newest() const
{
    return m_entries.empty() ? nullptr : &m_entries.back();
}

const SessionsJournal::Entry* SessionsJournal::find(std::string_view version) const
{
    for (const Entry& e : m_entries)
        if (e.version == version)
            return &e;
    return nullptr;
}

std::string validUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        bool ok = length > 0 && i + length <= text.size();
        for (std::size_t k = 1; ok && k < length; ++k)
            ok = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        if (ok && length > 1) {
            // Overlong forms, surrogates and code points beyond U+10FFFF are no UTF-8 either.
            uint32_t cp = c & (0xFF >> (length + 1));
            for (std::size_t k = 1; k < length; ++k)
                cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
            static constexpr uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
            ok = cp >= least[length] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
        }
        if (ok && c != 0) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

HistoryCache::Stamp HistoryCache::stampOf(const std::filesystem::path& file)
{
    std::error_code ec;
    Stamp s;
    s.size = std::filesystem::file_size(file, ec);
    if (ec)
        return {};
    s.time = std::filesystem::last_write_time(file, ec);
    return s;
}

HistoryPtr HistoryCache::get(const std::filesystem::path& dataDir)
{
    std::lock_guard lock(m_mutex);
    const Stamp users = stampOf(logFilePath(dataDir, usersLogName));
    const Stamp files = stampOf(logFilePath(dataDir, filesLogName));
    if (!m_data || dataDir != m_dir || !(users == m_users) || !(files == m_files)) {
        m_data = loadHistory(dataDir);
        m_dir = dataDir;
        m_users = users;
        m_files = files;
    }
    return m_data;
}

}  // namespace vantor::bus
