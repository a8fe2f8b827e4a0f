#include "history/report/ReportPage.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace vantor::report {

namespace {

// The sessions and their files as data for the page's script, packed: a hundred thousand sessions
// with a million file lines would take some 76 MB as plain JSON arrays, most of it the same folder
// names and the same times over and over. Numbers go as variable-length base-64 texts (five bits a
// character; the upper 32 characters say "more follows"), times as differences from the previous
// one, and every path as a folder of a folder table plus a name of a name table, each numbered by
// how often it occurs. The layout (decoded by the page's script, and by the tests):
//   users, computers: the names, as JSON strings
//   dirs: [parent + 1 (0: none), text] — a folder is its parent's text followed by its own
//   names: the last part of paths, with the separator before it
//   pairs: per pair: user, computer, the number of its files
//   files: per pair, its files by (time, position): time, folder + 1 (0: none), name
//   sessions: per session in log order: pair, start, duration, files, first of its pair's files
// A time is 0 when it has no local time, else 1 + the zigzag of its difference from the previous
// time of its list (starting at 0).
constexpr std::string_view packAlphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-_";

void packNumber(std::string& out, uint64_t v)
{
    while (v >= 32) {
        out += packAlphabet[32 + (v & 31)];
        v >>= 5;
    }
    out += packAlphabet[v];
}

class TimePacker {
public:
    void pack(std::string& out, std::optional<int64_t> t)
    {
        if (!t) {
            out += packAlphabet[0];
            return;
        }
        const int64_t d = *t - m_previous;
        m_previous = *t;
        packNumber(out, 1 + (d >= 0 ? static_cast<uint64_t>(d) * 2 : static_cast<uint64_t>(-(d + 1)) * 2 + 1));
    }

private:
    int64_t m_previous = 0;
};

// Numbers texts by how often they are used, most used first (the shortest numbers). A million
// paths go through it: an open-addressing table of hashes whose texts are copied side by side, so
// that a lookup touches two places that stay in the cache rather than a node and a text scattered
// over the whole history.
class TextTable {
public:
    static uint64_t hashOf(std::string_view text) { return std::hash<std::string_view>{}(text); }
    // A lookup of a text of that hash is coming: its slot is fetched meanwhile.
    void prefetch(uint64_t hash) const
    {
#if defined(__GNUC__)
        __builtin_prefetch(&m_slots[hash & (m_slots.size() - 1)]);
#else
        (void)hash;
#endif
    }
    // Later, when that slot has come: the text it holds, which the lookup compares.
    void prefetchText(uint64_t hash) const
    {
#if defined(__GNUC__)
        const Slot& slot = m_slots[hash & (m_slots.size() - 1)];
        if (slot.id != noId && slot.tag == static_cast<uint32_t>(hash >> 32))
            __builtin_prefetch(m_chars.data() + slot.offset);
#else
        (void)hash;
#endif
    }
    uint32_t add(std::string_view text)
    {
        return add(text, hashOf(text));
    }
    uint32_t add(std::string_view text, uint64_t hash)
    {
        const auto tag = static_cast<uint32_t>(hash >> 32);
        const std::size_t mask = m_slots.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            Slot& slot = m_slots[i];
            if (slot.id == noId) {
                slot = {tag, static_cast<uint32_t>(m_size), 1, static_cast<uint32_t>(text.size()), m_chars.size()};
                m_chars.append(text);
                if (2 * ++m_size > m_slots.size())
                    grow();
                return static_cast<uint32_t>(m_size - 1);
            }
            if (slot.tag == tag && slot.length == text.size()
                && std::string_view(m_chars).substr(slot.offset, slot.length) == text) {
                ++slot.count;
                return slot.id;
            }
        }
    }
    // After every add: the final number of each first number.
    void order()
    {
        m_entries.assign(m_size, Slot{});
        for (const Slot& s : m_slots)
            if (s.id != noId)
                m_entries[s.id] = s;
        std::vector<uint32_t> byUse(m_size);
        for (uint32_t i = 0; i < byUse.size(); ++i)
            byUse[i] = i;
        std::stable_sort(byUse.begin(), byUse.end(),
                         [&](uint32_t a, uint32_t b) { return m_entries[a].count > m_entries[b].count; });
        m_final.assign(byUse.size(), 0);
        for (uint32_t rank = 0; rank < byUse.size(); ++rank)
            m_final[byUse[rank]] = rank;
        m_byRank = std::move(byUse);
    }
    uint32_t final(uint32_t first) const
    {
        return m_final[first];
    }
    std::size_t size() const
    {
        return m_size;
    }
    // In final order.
    std::string_view text(uint32_t rank) const
    {
        const Slot& e = m_entries[m_byRank[rank]];
        return std::string_view(m_chars).substr(e.offset, e.length);
    }
    uint32_t firstOf(uint32_t rank) const
    {
        return m_byRank[rank];
    }

private:
    static constexpr uint32_t noId = UINT32_MAX;
    // A slot says all a lookup needs, so that a hit reads the slot and the text and nothing else;
    // the hash's high half tells most texts apart without reading them, its low half is the place.
    struct Slot {
        uint32_t tag = 0;
        uint32_t id = noId;
        uint32_t count = 0;
        uint32_t length = 0;  // a path of a log line, far below 4 GB
        std::size_t offset = 0;
    };
    void grow()
    {
        std::vector<Slot> old(m_slots.size() * 2);
        old.swap(m_slots);
        const std::size_t mask = m_slots.size() - 1;
        for (const Slot& s : old) {
            if (s.id == noId)
                continue;
            std::size_t i = std::hash<std::string_view>{}(std::string_view(m_chars).substr(s.offset, s.length)) & mask;
            while (m_slots[i].id != noId)
                i = (i + 1) & mask;
            m_slots[i] = s;
        }
    }

    std::vector<Slot> m_slots = std::vector<Slot>(1024);
    std::size_t m_size = 0;
    std::string m_chars;
    std::vector<Slot> m_entries;  // by first number, once ordered
    std::vector<uint32_t> m_final, m_byRank;
};

// Where the last separator stands (0: none, or only at the start).
std::size_t lastSeparator(std::string_view path)
{
    for (std::size_t at = path.size(); at > 0; --at)
        if (path[at - 1] == '/' || path[at - 1] == '\\')
            return at - 1;
    return 0;
}

}  // namespace

void writeData(PageWriter& w, const HistoryData& data, LocalTimeCache& local)
{
    TextTable users, computers, dirs, names;
    std::vector<uint32_t> pairUser, pairComputer;
    for (const auto& pair : data.pairs()) {
        pairUser.push_back(users.add(pair.user));
        pairComputer.push_back(computers.add(pair.computer));
    }
    // A folder's parent is the folder its text ends the separator before; folders are added once
    // per file, their parents once per folder.
    struct DirEntry {
        int64_t parent;
        std::size_t cut;
    };
    // What the files part says of each file line, gathered in store order: it is written in pair
    // order, where one read of this beats three of scattered arrays.
    struct FileCode {
        int64_t time;  // local; noTime: none
        uint32_t dir;  // folder + 1 (0: none)
        uint32_t name;
    };
    constexpr int64_t noTime = INT64_MIN;
    std::vector<FileCode> fileCodes(data.files().size());
    std::vector<DirEntry> dirParent;  // by first number
    auto addDir = [&](auto& self, std::string_view dir, uint64_t hash) -> uint32_t {
        const uint32_t id = dirs.add(dir, hash);
        if (id == dirParent.size()) {
            dirParent.push_back({-1, 0});
            const std::size_t cut = lastSeparator(dir);
            const int64_t parent =
                cut > 0 ? static_cast<int64_t>(self(self, dir.substr(0, cut), TextTable::hashOf(dir.substr(0, cut))))
                        : -1;
            dirParent[id] = {parent, cut};
        }
        return id;
    };
    // The lookups wait on memory, not on work: each file's slots are fetched a few files ahead.
    struct Split {
        std::size_t cut;
        uint64_t dirHash, nameHash;
    };
    constexpr std::size_t ahead = 8;
    std::array<Split, ahead> splits{};
    const auto split = [&](std::size_t i) {
        const std::string_view path = data.files()[i].path;
        const std::size_t cut = lastSeparator(path);
        Split& s = splits[i % ahead];
        s = {cut, cut > 0 ? TextTable::hashOf(path.substr(0, cut)) : 0, TextTable::hashOf(path.substr(cut))};
        if (cut > 0)
            dirs.prefetch(s.dirHash);
        names.prefetch(s.nameHash);
    };
    for (std::size_t i = 0; i < std::min(ahead, data.files().size()); ++i)
        split(i);
    for (std::size_t i = 0; i < data.files().size(); ++i) {
        const FileRecord& file = data.files()[i];
        const Split s = splits[i % ahead];
        if (i + ahead < data.files().size())
            split(i + ahead);
        if (i + ahead / 2 < data.files().size()) {
            const Split& soon = splits[(i + ahead / 2) % ahead];
            if (soon.cut > 0)
                dirs.prefetchText(soon.dirHash);
            names.prefetchText(soon.nameHash);
        }
        const std::string_view path = file.path;
        fileCodes[i].time = local.localSeconds(file.time).value_or(noTime);
        fileCodes[i].dir = s.cut > 0 ? addDir(addDir, path.substr(0, s.cut), s.dirHash) + 1 : 0;
        fileCodes[i].name = names.add(path.substr(s.cut), s.nameHash);
    }
    users.order();
    computers.order();
    dirs.order();
    names.order();
    for (FileCode& code : fileCodes) {
        code.dir = code.dir == 0 ? 0 : dirs.final(code.dir - 1) + 1;
        code.name = names.final(code.name);
    }

    auto table = [&](const char* key, const TextTable& t) {
        w << '"' << key << "\":[";
        for (uint32_t r = 0; r < t.size(); ++r) {
            if (r)
                w << ',';
            w.json(t.text(r));
        }
        w << "],\n";
    };
    w << '{';
    table("users", users);
    table("computers", computers);
    w << "\"dirs\":[";
    for (uint32_t r = 0; r < dirs.size(); ++r) {
        const DirEntry& e = dirParent[dirs.firstOf(r)];
        const std::string_view text = dirs.text(r);
        w << (r ? ",[" : "[");
        w.num(e.parent < 0 ? 0 : int64_t{dirs.final(static_cast<uint32_t>(e.parent))} + 1) << ',';
        w.json(text.substr(e.cut)) << ']';
    }
    w << "],\n";
    table("names", names);

    std::string packed;
    for (std::size_t p = 0; p < data.pairs().size(); ++p) {
        packNumber(packed, users.final(pairUser[p]));
        packNumber(packed, computers.final(pairComputer[p]));
        packNumber(packed, data.pairFiles(static_cast<uint32_t>(p)).size());
    }
    w << "\"pairs\":\"" << packed << "\",\n";

    // The largest part goes out as it is made.
    packed.clear();
    w << "\"files\":\"";
    TimePacker fileTimes;
    for (std::size_t p = 0; p < data.pairs().size(); ++p) {
        for (uint32_t f : data.pairFiles(static_cast<uint32_t>(p))) {
            const FileCode& code = fileCodes[f];
            fileTimes.pack(packed, code.time == noTime ? std::nullopt : std::optional<int64_t>(code.time));
            packNumber(packed, code.dir);
            packNumber(packed, code.name);
        }
        if (packed.size() >= (std::size_t{1} << 16)) {
            w << packed;
            packed.clear();
        }
    }
    w << packed << "\",\n";

    packed.clear();
    TimePacker starts;
    for (std::size_t s = 0; s < data.sessions().size(); ++s) {
        const SessionRecord& r = data.sessions()[s];
        const uint32_t pair = data.sessionPair(s);
        const auto run = data.fileRun(pair, r.start, r.end());
        packNumber(packed, pair);
        starts.pack(packed, local.localSeconds(r.start));
        packNumber(packed, r.duration);
        packNumber(packed, r.fileCount);
        packNumber(packed, run.first);
    }
    w << "\"sessions\":\"" << packed << "\"}";
}

}  // namespace vantor::report
