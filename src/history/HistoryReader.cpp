#include "history/HistoryReader.h"

#include <algorithm>
#include <fstream>
#include <numeric>

namespace vantor {

namespace {

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
    // A missing log gives no records of its kind: a stream that cannot be read gives no lines.
    std::ifstream files(logFilePath(dataDir, filesLogName), std::ios::binary);
    std::ifstream users(logFilePath(dataDir, usersLogName), std::ios::binary);
    return load(files, users);
}

HistoryData HistoryData::load(std::istream& filesLog, std::istream& usersLog)
{
    HistoryData data;
    // No room is set aside from the file's size: a big file need not hold many records, and the
    // vector's own growth costs little next to parsing.
    forEachLogLine(filesLog, [&](std::string_view line, bool tooLong) {
        if (!tooLong)
            if (auto f = parseFileLine(line))
                data.addFile(std::move(*f));
    });
    data.indexFiles();
    forEachLogLine(usersLog, [&](std::string_view line, bool tooLong) {
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

namespace {

uint64_t mix(uint64_t x)
{
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ULL;
    return x ^ (x >> 33);
}

template <class Slot>
void insertSlot(std::vector<Slot>& slots, std::size_t used, uint64_t key, uint64_t hash, uint32_t id)
{
    if ((used + 1) * 2 > slots.size()) {
        std::vector<Slot> bigger(std::max<std::size_t>(256, slots.size() * 2));
        const std::size_t mask = bigger.size() - 1;
        for (const Slot& slot : slots) {
            if (slot.id == UINT32_MAX)
                continue;
            std::size_t i = mix(slot.key) & mask;
            while (bigger[i].id != UINT32_MAX)
                i = (i + 1) & mask;
            bigger[i] = slot;
        }
        slots = std::move(bigger);
    }
    const std::size_t mask = slots.size() - 1;
    std::size_t i = hash & mask;
    while (slots[i].id != UINT32_MAX)
        i = (i + 1) & mask;
    slots[i] = {key, id};
}

}  // namespace

std::optional<uint32_t> HistoryData::findName(std::string_view name, uint64_t hash) const
{
    if (m_nameSlots.empty())
        return std::nullopt;
    const std::size_t mask = m_nameSlots.size() - 1;
    for (std::size_t i = mix(hash) & mask; m_nameSlots[i].id != UINT32_MAX; i = (i + 1) & mask)
        if (m_nameSlots[i].key == hash && m_names[m_nameSlots[i].id] == name)
            return m_nameSlots[i].id;
    return std::nullopt;
}

uint32_t HistoryData::nameNumber(std::string_view name)
{
    const uint64_t hash = std::hash<std::string_view>{}(name);
    if (auto id = findName(name, hash))
        return *id;
    const auto id = static_cast<uint32_t>(m_names.size());
    insertSlot(m_nameSlots, m_names.size(), hash, mix(hash), id);
    m_names.emplace_back(name);
    return id;
}

std::optional<uint32_t> HistoryData::findPairId(uint64_t key) const
{
    if (m_pairSlots.empty())
        return std::nullopt;
    const std::size_t mask = m_pairSlots.size() - 1;
    for (std::size_t i = mix(key) & mask; m_pairSlots[i].id != UINT32_MAX; i = (i + 1) & mask)
        if (m_pairSlots[i].key == key)
            return m_pairSlots[i].id;
    return std::nullopt;
}

uint32_t HistoryData::pairId(std::string_view user, std::string_view computer)
{
    // Log lines of one pair tend to come together; many lookups end here.
    if (m_lastPair != UINT32_MAX && m_pairs[m_lastPair].user == user && m_pairs[m_lastPair].computer == computer)
        return m_lastPair;
    const uint64_t key = uint64_t{nameNumber(user)} << 32 | nameNumber(computer);
    if (auto id = findPairId(key))
        return m_lastPair = *id;
    m_lastPair = static_cast<uint32_t>(m_pairs.size());
    insertSlot(m_pairSlots, m_pairs.size(), key, mix(key), m_lastPair);
    m_pairs.push_back(Pair{std::string(user), std::string(computer)});
    return m_lastPair;
}

const HistoryData::Pair* HistoryData::findPair(std::string_view user, std::string_view computer) const
{
    const auto u = findName(user, std::hash<std::string_view>{}(user));
    const auto c = findName(computer, std::hash<std::string_view>{}(computer));
    if (!u || !c)
        return nullptr;
    const auto id = findPairId(uint64_t{*u} << 32 | *c);
    return id ? &m_pairs[*id] : nullptr;
}

void HistoryData::addFile(FileRecord file)
{
    m_filePair.push_back(pairId(file.user, file.computer));
    m_files.push_back(std::move(file));
}

void HistoryData::indexFiles()
{
    // Grouped by pair in store order (a counting sort), then by time where the log was not in order.
    std::vector<uint32_t> count(m_pairs.size() + 1, 0);
    for (uint32_t p : m_filePair)
        ++count[p + 1];
    for (std::size_t p = 0; p < m_pairs.size(); ++p) {
        count[p + 1] += count[p];
        m_pairs[p].filesBegin = count[p];
        m_pairs[p].filesEnd = count[p];
    }
    m_pairFiles.resize(m_files.size());
    for (std::size_t i = 0; i < m_files.size(); ++i)
        m_pairFiles[m_pairs[m_filePair[i]].filesEnd++] = static_cast<uint32_t>(i);
    m_filePair = {};

    m_pairTimes.resize(m_files.size());
    for (std::size_t i = 0; i < m_pairFiles.size(); ++i)
        m_pairTimes[i] = m_files[m_pairFiles[i]].time;
    for (const Pair& pair : m_pairs) {
        const auto b = m_pairTimes.begin() + pair.filesBegin, e = m_pairTimes.begin() + pair.filesEnd;
        if (std::is_sorted(b, e))
            continue;
        std::stable_sort(m_pairFiles.begin() + pair.filesBegin, m_pairFiles.begin() + pair.filesEnd,
                         [&](uint32_t x, uint32_t y) { return m_files[x].time < m_files[y].time; });
        for (uint32_t i = pair.filesBegin; i < pair.filesEnd; ++i)
            m_pairTimes[i] = m_files[m_pairFiles[i]].time;
    }
}

void HistoryData::addSession(SessionRecord session)
{
    const uint32_t id = pairId(session.user, session.computer);
    const auto [lo, hi] = fileRun(id, session.start, session.end());
    session.fileCount = static_cast<uint32_t>(hi - lo);
    m_sessionPair.push_back(id);
    m_sessions.push_back(std::move(session));
}

void HistoryData::indexSessions()
{
    std::vector<uint32_t> count(m_pairs.size() + 1, 0);
    for (uint32_t p : m_sessionPair)
        ++count[p + 1];
    for (std::size_t p = 0; p < m_pairs.size(); ++p) {
        count[p + 1] += count[p];
        m_pairs[p].startsBegin = count[p];
        m_pairs[p].startsEnd = count[p];
    }
    m_pairStarts.resize(m_sessions.size());
    for (std::size_t i = 0; i < m_sessions.size(); ++i)
        m_pairStarts[m_pairs[m_sessionPair[i]].startsEnd++] = {m_sessions[i].start, m_sessions[i].end()};
    for (Pair& pair : m_pairs) {
        const auto b = m_pairStarts.begin() + pair.startsBegin, e = m_pairStarts.begin() + pair.startsEnd;
        std::sort(b, e);
        // Sorted by (start, end): the last of each start carries the latest end.
        auto out = b;
        for (auto it = b; it != e; ++it) {
            if (out != b && (out - 1)->first == it->first)
                (out - 1)->second = it->second;
            else
                *out++ = *it;
        }
        pair.startsEnd = static_cast<uint32_t>(out - m_pairStarts.begin());
    }
}

std::span<const uint32_t> HistoryData::pairFiles(uint32_t pair) const
{
    const Pair& p = m_pairs[pair];
    return {m_pairFiles.data() + p.filesBegin, p.filesEnd - p.filesBegin};
}

std::span<const std::pair<int32_t, int64_t>> HistoryData::pairStarts(uint32_t pair) const
{
    const Pair& p = m_pairs[pair];
    return {m_pairStarts.data() + p.startsBegin, p.startsEnd - p.startsBegin};
}

std::pair<std::size_t, std::size_t> HistoryData::fileRun(uint32_t pair, int64_t from, int64_t to) const
{
    const Pair& p = m_pairs[pair];
    if (from > to || p.filesBegin == p.filesEnd)
        return {0, 0};
    const auto b = m_pairTimes.begin() + p.filesBegin, e = m_pairTimes.begin() + p.filesEnd;
    const auto lo = std::lower_bound(b, e, from, [](int32_t t, int64_t v) { return int64_t{t} < v; });
    const auto hi = std::upper_bound(lo, e, to, [](int64_t v, int32_t t) { return v < int64_t{t}; });
    return {static_cast<std::size_t>(lo - b), static_cast<std::size_t>(hi - b)};
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
    const auto s = pairStarts(static_cast<uint32_t>(pair - m_pairs.data()));
    const auto it = std::lower_bound(s.begin(), s.end(), start,
                                     [](const std::pair<int32_t, int64_t>& e, int64_t v) { return e.first < v; });
    if (it == s.end() || it->first != start)
        return false;
    return start <= fileTime && fileTime <= it->second;
}

std::vector<std::size_t> HistoryData::filesInWindow(std::string_view user, std::string_view computer, int64_t from,
                                                    int64_t to) const
{
    std::vector<std::size_t> out;
    const Pair* pair = findPair(user, computer);
    if (!pair)
        return out;
    const auto id = static_cast<uint32_t>(pair - m_pairs.data());
    const auto [lo, hi] = fileRun(id, from, to);
    const auto files = pairFiles(id);
    out.assign(files.begin() + static_cast<std::ptrdiff_t>(lo), files.begin() + static_cast<std::ptrdiff_t>(hi));
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
