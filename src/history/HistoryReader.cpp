#include "history/HistoryReader.h"

#include <algorithm>
#include <numeric>

namespace vantor {

namespace {

// Names may hold any byte, so the key says where the user ends.
std::string pairKey(std::string_view user, std::string_view computer)
{
    std::string key = std::to_string(user.size());
    key.reserve(key.size() + 1 + user.size() + computer.size());
    key += ':';
    key += user;
    key += computer;
    return key;
}

void forEachTextLine(std::string_view text, const std::function<void(std::string_view)>& fn)
{
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        const std::size_t len = nl == std::string_view::npos ? text.size() : nl + 1;
        fn(text.substr(0, len));
        text.remove_prefix(len);
    }
}

}  // namespace

HistoryData HistoryData::load(const std::filesystem::path& dataDir)
{
    HistoryData data;
    forEachLogLine(logFilePath(dataDir, filesLogName), [&](std::string_view line, bool tooLong) {
        if (!tooLong)
            if (auto f = parseFileLine(line))
                data.addFile(std::move(*f));
    });
    data.indexFiles();
    forEachLogLine(logFilePath(dataDir, usersLogName), [&](std::string_view line, bool tooLong) {
        if (!tooLong)
            if (auto s = parseSessionLine(line))
                data.addSession(std::move(*s));
    });
    data.indexSessions();
    return data;
}

HistoryData HistoryData::fromText(std::string_view filesLog, std::string_view usersLog)
{
    HistoryData data;
    forEachTextLine(filesLog, [&](std::string_view line) {
        if (auto f = parseFileLine(line))
            data.addFile(std::move(*f));
    });
    data.indexFiles();
    forEachTextLine(usersLog, [&](std::string_view line) {
        if (auto s = parseSessionLine(line))
            data.addSession(std::move(*s));
    });
    data.indexSessions();
    return data;
}

uint32_t HistoryData::pairId(std::string_view user, std::string_view computer)
{
    // Log lines of one pair tend to come together; most lookups end here.
    if (m_lastPair != UINT32_MAX && m_pairs[m_lastPair].user == user && m_pairs[m_lastPair].computer == computer)
        return m_lastPair;
    auto [it, added] = m_pairIds.try_emplace(pairKey(user, computer), static_cast<uint32_t>(m_pairs.size()));
    if (added)
        m_pairs.push_back(Pair{std::string(user), std::string(computer), {}, {}, {}});
    m_lastPair = it->second;
    return m_lastPair;
}

const HistoryData::Pair* HistoryData::findPair(std::string_view user, std::string_view computer) const
{
    auto it = m_pairIds.find(pairKey(user, computer));
    return it == m_pairIds.end() ? nullptr : &m_pairs[it->second];
}

void HistoryData::addFile(FileRecord file)
{
    Pair& pair = m_pairs[pairId(file.user, file.computer)];
    pair.files.push_back(static_cast<uint32_t>(m_files.size()));
    pair.times.push_back(file.time);
    m_files.push_back(std::move(file));
}

void HistoryData::indexFiles()
{
    for (Pair& pair : m_pairs) {
        if (std::is_sorted(pair.times.begin(), pair.times.end()))
            continue;
        std::stable_sort(pair.files.begin(), pair.files.end(),
                         [&](uint32_t a, uint32_t b) { return m_files[a].time < m_files[b].time; });
        for (std::size_t i = 0; i < pair.files.size(); ++i)
            pair.times[i] = m_files[pair.files[i]].time;
    }
}

void HistoryData::addSession(SessionRecord session)
{
    const uint32_t id = pairId(session.user, session.computer);
    const auto [lo, hi] = fileRun(id, session.start, session.end());
    session.fileCount = static_cast<uint32_t>(hi - lo);
    m_pairs[id].starts.emplace_back(session.start, session.end());
    m_sessionPair.push_back(id);
    m_sessions.push_back(std::move(session));
}

void HistoryData::indexSessions()
{
    for (Pair& pair : m_pairs) {
        auto& s = pair.starts;
        std::sort(s.begin(), s.end());
        // Sorted by (start, end): the last of each start carries the latest end.
        std::vector<std::pair<int32_t, int64_t>> merged;
        for (const auto& e : s) {
            if (!merged.empty() && merged.back().first == e.first)
                merged.back().second = e.second;
            else
                merged.push_back(e);
        }
        s = std::move(merged);
    }
}

std::pair<std::size_t, std::size_t> HistoryData::fileRun(uint32_t pair, int64_t from, int64_t to) const
{
    const auto& times = m_pairs[pair].times;
    if (from > to)
        return {0, 0};
    const auto lo = std::lower_bound(times.begin(), times.end(), from,
                                     [](int32_t t, int64_t v) { return int64_t{t} < v; });
    const auto hi = std::upper_bound(lo, times.end(), to, [](int64_t v, int32_t t) { return v < int64_t{t}; });
    return {static_cast<std::size_t>(lo - times.begin()), static_cast<std::size_t>(hi - times.begin())};
}

uint32_t HistoryData::countFilesInSession(std::string_view user, std::string_view computer, int64_t from,
                                          int64_t to) const
{
    const Pair* pair = findPair(user, computer);
    if (!pair)
        return 0;
    const auto [lo, hi] = fileRun(static_cast<uint32_t>(pair - m_pairs.data()), from, to);
    return static_cast<uint32_t>(hi - lo);
}

bool HistoryData::sessionCoversFile(std::string_view user, std::string_view computer, int64_t fileTime,
                                    int64_t start) const
{
    const Pair* pair = findPair(user, computer);
    if (!pair)
        return false;
    const auto& s = pair->starts;
    const auto it = std::lower_bound(s.begin(), s.end(), start,
                                     [](const std::pair<int32_t, int64_t>& e, int64_t v) { return e.first < v; });
    if (it == s.end() || it->first != start)
        return false;
    return start <= fileTime && fileTime <= it->second;
}

std::vector<std::size_t> HistoryData::filesInWindow(std::string_view user, std::string_view computer,
                                                    int64_t from, int64_t to) const
{
    std::vector<std::size_t> out;
    const Pair* pair = findPair(user, computer);
    if (!pair)
        return out;
    const auto [lo, hi] = fileRun(static_cast<uint32_t>(pair - m_pairs.data()), from, to);
    out.assign(pair->files.begin() + static_cast<std::ptrdiff_t>(lo),
               pair->files.begin() + static_cast<std::ptrdiff_t>(hi));
    std::sort(out.begin(), out.end());
    return out;
}

HistoryStore& HistoryStore::instance()
{
    static HistoryStore store;
    return store;
}

HistoryPtr loadHistory(const std::filesystem::path& dataDir)
{
    return HistoryStore::instance().withLoaded(dataDir, [](const HistoryPtr& data) { return data; });
}

}  // namespace vantor
