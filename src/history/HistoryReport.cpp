#include "history/HistoryReport.h"

#include "platform/AtomicFile.h"

#include "base/TimeText.h"
#include "platform/Paths.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace vantor {

namespace {

// Length of the UTF-8 sequence at s[i], or 0 when the bytes there are not one.
std::size_t utf8Length(std::string_view s, std::size_t i)
{
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 && c >= 0xC2 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E && c <= 0xF4 ? 4 : 0;
    if (len == 0 || i + len > s.size())
        return 0;
    for (std::size_t k = 1; k < len; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
            return 0;
    return len;
}

// Bytes that go into a JSON string as they are: printable ASCII other than the quote, the backslash
// and the three that could start markup.
constexpr auto plainJsonBytes = [] {
    std::array<bool, 256> plain{};
    for (int c = 0x20; c < 0x7F; ++c)
        plain[static_cast<std::size_t>(c)] = c != '"' && c != '\\' && c != '<' && c != '>' && c != '&';
    return plain;
}();
bool plainJsonByte(unsigned char c) { return plainJsonBytes[c]; }

void appendJsonString(std::string& out, std::string_view text)
{
    out += '"';
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t run = i;
        while (run < text.size() && plainJsonByte(static_cast<unsigned char>(text[run])))
            ++run;
        out.append(text.data() + i, run - i);
        i = run;
        if (i == text.size())
            break;
        const std::size_t len = utf8Length(text, i);
        if (len == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        if (len == 1) {
            const auto c = static_cast<unsigned char>(text[i]);
            switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            // Kept out of the page's markup: nothing in the data can close its <script> element.
            case '<': out += "\\u003c"; break;
            case '>': out += "\\u003e"; break;
            case '&': out += "\\u0026"; break;
            default: {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            }
            }
        } else if (text.substr(i, len) == "\xE2\x80\xA8") {
            out += "\\u2028";
        } else if (text.substr(i, len) == "\xE2\x80\xA9") {
            out += "\\u2029";
        } else {
            out.append(text.substr(i, len));
        }
        i += len;
    }
    out += '"';
}

// Gathers the page in memory and hands it to the stream in large pieces.
class PageWriter {
public:
    explicit PageWriter(std::ostream& out) : m_out(out) { m_buf.reserve(chunk + 4096); }
    ~PageWriter() { flush(); }
    PageWriter(const PageWriter&) = delete;
    PageWriter& operator=(const PageWriter&) = delete;

    PageWriter& operator<<(std::string_view s)
    {
        m_buf.append(s);
        if (m_buf.size() >= chunk)
            flush();
        return *this;
    }
    PageWriter& operator<<(char c)
    {
        m_buf.push_back(c);
        return *this;
    }
    PageWriter& num(int64_t v)
    {
        char tmp[24];
        auto r = std::to_chars(tmp, tmp + sizeof tmp, v);
        return *this << std::string_view(tmp, static_cast<std::size_t>(r.ptr - tmp));
    }
    PageWriter& html(std::string_view s) { return *this << htmlEscape(s); }
    PageWriter& json(std::string_view s)
    {
        appendJsonString(m_buf, s);
        if (m_buf.size() >= chunk)
            flush();
        return *this;
    }
    void flush()
    {
        if (!m_buf.empty())
            m_out.write(m_buf.data(), static_cast<std::streamsize>(m_buf.size()));
        m_buf.clear();
    }

private:
    static constexpr std::size_t chunk = std::size_t{1} << 20;
    std::ostream& m_out;
    std::string m_buf;
};

constexpr std::string_view replacementChar = "\xEF\xBF\xBD";

std::string withThousands(int64_t v)
{
    std::string digits = std::to_string(v < 0 ? -v : v);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    return v < 0 ? "-" + out : out;
}

std::string longDuration(int64_t seconds)
{
    const int64_t days = seconds / 86400;
    const std::string clock = formatDuration(static_cast<uint32_t>(seconds % 86400));
    return days > 0 ? std::to_string(days) + (days == 1 ? " day " : " days ") + clock : clock;
}

struct UserTotal {
    int64_t sessions = 0;
    int64_t seconds = 0;
    int64_t files = 0;
    int64_t lastEnd = INT64_MIN;
    int64_t computers = 0;
};

// The pairs of user and computer that have sessions: a user's computers are its pairs, so no
// name is compared more than once.
std::vector<bool> pairsWithSessions(const HistoryData& data)
{
    std::vector<bool> has(data.pairs().size(), false);
    for (std::size_t s = 0; s < data.sessions().size(); ++s)
        has[data.sessionPair(s)] = true;
    return has;
}

struct Summary {
    int64_t first = INT64_MAX;  // the earliest and latest valid moment of any record
    int64_t last = INT64_MIN;
    std::size_t users = 0;
    std::size_t computers = 0;
    std::size_t filesInSessions = 0;
};

Summary summarise(const HistoryData& data)
{
    Summary s;
    std::unordered_set<std::string_view> users, computers;
    const std::vector<bool> withSessions = pairsWithSessions(data);
    for (uint32_t p = 0; p < data.pairs().size(); ++p) {
        if (withSessions[p]) {
            users.insert(data.pairs()[p].user);
            computers.insert(data.pairs()[p].computer);
        }
    }
    auto see = [&](int64_t t) {
        if (t >= 0) {
            s.first = std::min(s.first, t);
            s.last = std::max(s.last, t);
        }
    };
    for (const auto& r : data.sessions()) {
        see(r.start);
        if (r.start >= 0)
            see(r.end());
    }
    for (const auto& f : data.files())
        see(f.time);
    s.users = users.size();
    s.computers = computers.size();
    // A file line lies in some session when its time falls in the union of its pair's windows.
    for (uint32_t p = 0; p < data.pairs().size(); ++p) {
        std::size_t covered = 0;  // files of the pair already counted: the union's runs ascend
        for (const auto& [start, end] : data.pairStarts(p)) {
            auto [lo, hi] = data.fileRun(p, start, end);
            lo = std::max(lo, covered);
            if (hi > lo) {
                s.filesInSessions += hi - lo;
                covered = hi;
            }
        }
    }
    return s;
}

// Sessions active and files opened over time, as two bar charts in one picture.
void writeActivity(PageWriter& w, const HistoryData& data, LocalTimeCache& local)
{
    std::vector<std::pair<int64_t, int64_t>> windows;  // local seconds
    std::vector<int64_t> fileTimes;
    int64_t lo = INT64_MAX, hi = INT64_MIN;
    for (const auto& r : data.sessions()) {
        auto a = local.localSeconds(r.start);
        auto b = local.localSeconds(r.end());
        if (!a || !b)
            continue;
        windows.emplace_back(*a, std::max(*a, *b));
        lo = std::min(lo, *a);
        hi = std::max(hi, std::max(*a, *b));
    }
    for (const auto& f : data.files())
        if (auto t = local.localSeconds(f.time)) {
            fileTimes.push_back(*t);
            lo = std::min(lo, *t);
            hi = std::max(hi, *t);
        }
    if (lo > hi) {
        w << "<p class=\"empty\">No activity recorded.</p>\n";
        return;
    }

    // As many bars as the picture shows apart, each of a length a person reads at a glance: an hour
    // of activity in minutes, a month in hours.
    constexpr int64_t maxBars = 240;
    int64_t size = 0;
    for (int64_t candidate : {int64_t{60}, int64_t{300}, int64_t{900}, int64_t{1800}, int64_t{3600}, int64_t{3 * 3600},
                              int64_t{6 * 3600}, int64_t{12 * 3600}, int64_t{86400}, int64_t{7 * 86400},
                              int64_t{30 * 86400}}) {
        if ((hi - (lo - lo % candidate)) / candidate + 1 <= maxBars) {
            size = candidate;
            break;
        }
    }
    if (size == 0)
        size = (hi - lo) / (maxBars - 1) + 1;
    const int64_t origin = lo - ((lo % size) + size) % size;
    const auto bars = static_cast<std::size_t>((hi - origin) / size + 1);
    auto bucket = [&](int64_t t) { return static_cast<std::size_t>((t - origin) / size); };

    // Sessions active: how many were connected on average over the bar's time (the seconds of
    // sessions in it over its length). Counting every session that touched a bar made a month of
    // sessions one solid block: each wide bar held nearly all of them.
    std::vector<int64_t> seconds(bars, 0), fullBars(bars + 1, 0), opened(bars, 0);
    for (const auto& [a, b] : windows) {
        const std::size_t ka = bucket(a), kb = bucket(b);
        if (ka == kb) {
            seconds[ka] += b - a;
            continue;
        }
        seconds[ka] += origin + static_cast<int64_t>(ka + 1) * size - a;
        seconds[kb] += b - (origin + static_cast<int64_t>(kb) * size);
        ++fullBars[ka + 1];
        --fullBars[kb];
    }
    std::vector<int64_t> active(bars, 0);  // in hundredths of a session
    int64_t full = 0;
    for (std::size_t i = 0; i < bars; ++i) {
        full += fullBars[i];
        active[i] = ((seconds[i] + full * size) * 100 + size / 2) / size;
    }
    for (int64_t t : fileTimes)
        ++opened[bucket(t)];
    const int64_t maxActive = std::max<int64_t>(1, *std::max_element(active.begin(), active.end()));
    const int64_t maxOpened = std::max<int64_t>(1, *std::max_element(opened.begin(), opened.end()));

    auto label = [&](int64_t t) {
        const CivilTime c = civilFromSeconds(t);
        char buf[40];
        if (size < 86400)
            std::snprintf(buf, sizeof buf, "%lld-%02d-%02d %02d:%02d", static_cast<long long>(c.year), c.month, c.day,
                          c.hour, c.minute);
        else
            std::snprintf(buf, sizeof buf, "%lld-%02d-%02d", static_cast<long long>(c.year), c.month, c.day);
        return std::string(buf);
    };

    constexpr int width = 960, left = 56, right = 12, panel = 100, gap = 46, top = 24;
    const double barWidth = static_cast<double>(width - left - right) / static_cast<double>(bars);
    const int height = top + 2 * panel + gap + 40;
    w << "<svg class=\"activity\" viewBox=\"0 0 " << std::to_string(width) << ' ' << std::to_string(height)
      << "\" role=\"img\" aria-label=\"Sessions active and files opened over time\">\n";
    // Averages are kept in hundredths; they are shown with one decimal.
    auto amount = [](int64_t v, bool hundredths) {
        if (!hundredths)
            return withThousands(v);
        const int64_t tenths = (v + 5) / 10;
        return withThousands(tenths / 10) + "." + std::to_string(tenths % 10);
    };
    auto drawPanel = [&](int y0, const std::vector<int64_t>& values, int64_t maxValue, const char* cls,
                         const char* title, const char* unit, bool hundredths) {
        w << "<text class=\"panel-title\" x=\"" << std::to_string(left) << "\" y=\"" << std::to_string(y0 - 8) << "\">"
          << title << "</text>\n";
        w << "<line class=\"axis\" x1=\"" << std::to_string(left) << "\" y1=\"" << std::to_string(y0 + panel)
          << "\" x2=\"" << std::to_string(width - right) << "\" y2=\"" << std::to_string(y0 + panel) << "\"/>\n";
        w << "<text class=\"tick\" x=\"" << std::to_string(left - 6) << "\" y=\"" << std::to_string(y0 + 10)
          << "\" text-anchor=\"end\">" << amount(maxValue, hundredths) << "</text>\n";
        w << "<text class=\"tick\" x=\"" << std::to_string(left - 6) << "\" y=\"" << std::to_string(y0 + panel)
          << "\" text-anchor=\"end\">0</text>\n";
        for (std::size_t i = 0; i < bars; ++i) {
            if (values[i] == 0)
                continue;
            const double h = std::max(1.0, static_cast<double>(values[i]) * panel / static_cast<double>(maxValue));
            char geom[160];
            std::snprintf(geom, sizeof geom, "x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\"",
                          left + barWidth * static_cast<double>(i) + 0.5, y0 + panel - h, std::max(1.0, barWidth - 1.0), h);
            w << "<rect class=\"" << cls << "\" " << geom << "><title>"
              << label(origin + static_cast<int64_t>(i) * size) << ": " << amount(values[i], hundredths) << ' ' << unit
              << "</title></rect>\n";
        }
    };
    const std::string bar = size % 86400 == 0 ? std::to_string(size / 86400) + (size == 86400 ? " day" : " days")
                            : size % 3600 == 0 ? std::to_string(size / 3600) + (size == 3600 ? " hour" : " hours")
                                               : std::to_string(size / 60) + (size == 60 ? " minute" : " minutes");
    const std::string activeTitle = "Sessions active (average of each " + bar + ")";
    const std::string openedTitle = "Files opened (each " + bar + ")";
    drawPanel(top, active, maxActive, "bar-sessions", activeTitle.c_str(), "sessions active on average", true);
    drawPanel(top + panel + gap, opened, maxOpened, "bar-files", openedTitle.c_str(), "files opened", false);
    const std::size_t ticks = std::min<std::size_t>(bars, 6);
    for (std::size_t k = 0; k < ticks; ++k) {
        const std::size_t i = ticks == 1 ? 0 : k * (bars - 1) / (ticks - 1);
        const double x = ticks > 1 && k == 0 ? left : ticks > 1 && k + 1 == ticks ? width - right
                                                                                     : left + barWidth * (static_cast<double>(i) + 0.5);
        char pos[64];
        std::snprintf(pos, sizeof pos, "x=\"%.1f\" y=\"%d\"", x, top + 2 * panel + gap + 18);
        // The outer labels lean inwards so that they stay inside the picture.
        const char* anchor = ticks > 1 && k == 0 ? "start" : ticks > 1 && k + 1 == ticks ? "end" : "middle";
        w << "<text class=\"tick\" " << pos << " text-anchor=\"" << anchor << "\">"
          << label(origin + static_cast<int64_t>(i) * size) << "</text>\n";
    }
    w << "</svg>\n";
}

void writeUsers(PageWriter& w, const HistoryData& data, LocalTimeCache& local)
{
    std::vector<UserTotal> byPair(data.pairs().size());
    for (std::size_t s = 0; s < data.sessions().size(); ++s) {
        const SessionRecord& r = data.sessions()[s];
        UserTotal& t = byPair[data.sessionPair(s)];
        ++t.sessions;
        t.seconds += r.duration;
        t.files += r.fileCount;
        t.lastEnd = std::max(t.lastEnd, r.end());
        t.computers = 1;
    }
    std::unordered_map<std::string_view, UserTotal> totals;
    for (uint32_t p = 0; p < data.pairs().size(); ++p) {
        const UserTotal& pair = byPair[p];
        if (pair.sessions == 0)
            continue;
        UserTotal& t = totals[data.pairs()[p].user];
        t.sessions += pair.sessions;
        t.seconds += pair.seconds;
        t.files += pair.files;
        t.lastEnd = std::max(t.lastEnd, pair.lastEnd);
        t.computers += pair.computers;
    }
    // By name, then by time: users of the same total time stay in the order of their names.
    std::vector<std::pair<std::string_view, const UserTotal*>> rows;
    for (const auto& [user, t] : totals)
        rows.emplace_back(user, &t);
    std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.second->seconds > b.second->seconds; });

    w << "<details class=\"users\"" << (rows.size() <= 200 ? " open" : "") << "><summary>"
      << withThousands(static_cast<int64_t>(rows.size())) << (rows.size() == 1 ? " user" : " users")
      << ", longest total time first</summary>\n";
    w << "<table><thead><tr><th>User</th><th class=\"num\">Sessions</th><th class=\"num\">Computers</th>"
         "<th class=\"num\">Total time</th><th class=\"num\">Files opened</th><th>Last seen</th></tr></thead><tbody>\n";
    for (const auto& [user, t] : rows) {
        w << "<tr><td>" << htmlEscape(user) << "</td><td class=\"num\">" << withThousands(t->sessions)
          << "</td><td class=\"num\">" << withThousands(t->computers)
          << "</td><td class=\"num\">" << longDuration(t->seconds) << "</td><td class=\"num\">"
          << withThousands(t->files) << "</td><td>" << local.format(t->lastEnd) << "</td></tr>\n";
    }
    w << "</tbody></table></details>\n";
}

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
    uint32_t add(std::string_view text) { return add(text, hashOf(text)); }
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
    uint32_t final(uint32_t first) const { return m_final[first]; }
    std::size_t size() const { return m_size; }
    // In final order.
    std::string_view text(uint32_t rank) const
    {
        const Slot& e = m_entries[m_byRank[rank]];
        return std::string_view(m_chars).substr(e.offset, e.length);
    }
    uint32_t firstOf(uint32_t rank) const { return m_byRank[rank]; }

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
    struct DirEntry { int64_t parent; std::size_t cut; };
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
            const int64_t parent
                = cut > 0 ? static_cast<int64_t>(self(self, dir.substr(0, cut), TextTable::hashOf(dir.substr(0, cut)))) : -1;
            dirParent[id] = {parent, cut};
        }
        return id;
    };
    // The lookups wait on memory, not on work: each file's slots are fetched a few files ahead.
    struct Split { std::size_t cut; uint64_t dirHash, nameHash; };
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

constexpr std::string_view pageStyle = R"(
:root { --ink:#1d2733; --muted:#5b6b7c; --line:#d5dde6; --band:#cfe7ff; --accent:#2f6fb3; --warm:#d9822b; }
* { box-sizing: border-box; }
body { margin: 0; font: 14px/1.45 system-ui, "Segoe UI", Roboto, "DejaVu Sans", sans-serif; color: var(--ink); background: #f6f8fa; }
header { background: var(--accent); color: #fff; padding: 18px 28px; }
header h1 { margin: 0; font-size: 22px; font-weight: 600; }
header p { margin: 4px 0 0; opacity: .85; }
main { padding: 8px 28px 40px; max-width: 1200px; }
h2 { font-size: 17px; margin: 26px 0 10px; }
.cards { display: flex; flex-wrap: wrap; gap: 12px; margin-top: 18px; }
.card { background: #fff; border: 1px solid var(--line); border-radius: 6px; padding: 10px 16px; min-width: 150px; }
.card .label { color: var(--muted); font-size: 12px; text-transform: uppercase; letter-spacing: .04em; }
.card .value { font-size: 20px; font-weight: 600; }
.card .note { color: var(--muted); font-size: 12px; }
.card.period .value { font-size: 15px; }
svg.activity { width: 100%; max-width: 960px; background: #fff; border: 1px solid var(--line); border-radius: 6px; }
svg .bar-sessions { fill: var(--accent); } svg .bar-files { fill: var(--warm); }
svg .axis { stroke: #9aa8b6; } svg .tick { font-size: 11px; fill: var(--muted); } svg .panel-title { font-size: 12px; font-weight: 600; fill: var(--ink); }
table { border-collapse: collapse; background: #fff; width: 100%; }
th, td { border-bottom: 1px solid var(--line); padding: 4px 10px; text-align: left; white-space: nowrap; }
th { background: var(--band); font-weight: 600; position: sticky; top: 0; }
td.num, th.num { text-align: right; }
details.users > summary { cursor: pointer; margin-bottom: 6px; color: var(--muted); }
.controls { display: flex; flex-wrap: wrap; gap: 10px; align-items: center; margin-bottom: 8px; }
.controls input { padding: 4px 8px; width: 260px; }
.controls button { padding: 3px 10px; }
#sessions th { cursor: pointer; user-select: none; }
#sessions th.sorted-desc::after { content: " \25BE"; } #sessions th.sorted-asc::after { content: " \25B4"; }
#sessions tr.has-files { cursor: pointer; } #sessions tr.has-files:hover { background: #eef5fc; }
#sessions tr.open { background: #e4f0fc; }
#sessions td.files { padding: 4px 10px 10px 34px; background: #fafcfe; white-space: normal; }
#sessions td.files table { width: auto; background: transparent; }
#sessions td.files table td { border: none; padding: 1px 10px 1px 0; white-space: normal; word-break: break-all; }
.empty { color: var(--muted); }
)";

constexpr std::string_view pageScript = R"(
(function () {
  "use strict";
  var data = JSON.parse(document.getElementById("history-data").textContent);
  // The packed numbers: see the writer.
  var DIGITS = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-_", VALUE = new Int8Array(128);
  for (var d = 0; d < 64; d++) VALUE[DIGITS.charCodeAt(d)] = d;
  function reader(text) { return { s: text, i: 0, t: 0 }; }
  function num(r) {
    for (var v = 0, mul = 1; ; mul *= 32) {
      var c = VALUE[r.s.charCodeAt(r.i++)];
      if (c < 32) return v + c * mul;
      v += (c - 32) * mul;
    }
  }
  function time(r) {
    var z = num(r);
    if (z === 0) return null;
    z -= 1;
    r.t += z % 2 ? -(z + 1) / 2 : z / 2;
    return r.t;
  }
  var pairs = [], sessions = [], r = reader(data.pairs), first = 0;
  while (r.i < r.s.length) {
    var u = num(r), c = num(r), n = num(r);
    pairs.push([data.users[u], data.computers[c], first]);
    first += n;
  }
  for (r = reader(data.sessions); r.i < r.s.length; )
    sessions.push([num(r), time(r), num(r), num(r), num(r)]);
  // The files are read when a session's are first shown.
  var fileTimes = null, fileDirs, fileNames, dirTexts = [];
  function readFiles() {
    fileTimes = new Array(first); fileDirs = new Int32Array(first); fileNames = new Int32Array(first);
    var fr = reader(data.files);
    for (var k = 0; k < first; k++) { fileTimes[k] = time(fr); fileDirs[k] = num(fr); fileNames[k] = num(fr); }
  }
  function dirText(d) {
    if (d === 0) return "";
    if (dirTexts[d] === undefined) { var e = data.dirs[d - 1]; dirTexts[d] = dirText(e[0]) + e[1]; }
    return dirTexts[d];
  }
  var body = document.querySelector("#sessions tbody");
  var info = document.getElementById("page-info");
  var filterBox = document.getElementById("filter");
  var sizeBox = document.getElementById("page-size");
  var heads = document.querySelectorAll("#sessions th");
  var FILES_SHOWN = 500;

  function pad(n) { return (n < 10 ? "0" : "") + n; }
  function stamp(t) {
    if (t === null) return "0000-00-00 00:00:00";
    var d = new Date(t * 1000);
    return d.getUTCFullYear() + "-" + pad(d.getUTCMonth() + 1) + "-" + pad(d.getUTCDate()) + " " +
      pad(d.getUTCHours()) + ":" + pad(d.getUTCMinutes()) + ":" + pad(d.getUTCSeconds());
  }
  function duration(s) { return pad(Math.floor(s / 3600)) + ":" + pad(Math.floor(s % 3600 / 60)) + ":" + pad(s % 60); }
  function cell(tr, text, cls) { var td = document.createElement("td"); td.textContent = text; if (cls) td.className = cls; tr.appendChild(td); return td; }
  function key(i, col) {
    var s = sessions[i];
    switch (col) {
      case 0: return pairs[s[0]][0];
      case 1: return pairs[s[0]][1];
      case 2: return s[1] === null ? -Infinity : s[1];
      case 3: return s[2];
      default: return s[3];
    }
  }

  var all = [];
  for (var i = sessions.length - 1; i >= 0; i--) all.push(i);  // the latest line of the log first
  var rows = all, page = 0, sortCol = -1, sortDir = -1, opened = {}, showAll = {};

  function applyFilter() {
    var q = filterBox.value.toLowerCase();
    rows = !q ? all.slice() : all.filter(function (i) {
      var p = pairs[sessions[i][0]];
      return p[0].toLowerCase().indexOf(q) >= 0 || p[1].toLowerCase().indexOf(q) >= 0;
    });
    if (sortCol >= 0) sortRows();
    page = 0;
  }
  function sortRows() {
    rows.sort(function (a, b) {
      var x = key(a, sortCol), y = key(b, sortCol);
      if (x < y) return -sortDir;
      if (x > y) return sortDir;
      return b - a;
    });
  }
  function fileTable(i) {
    if (!fileTimes) readFiles();
    var s = sessions[i], count = s[3], from = pairs[s[0]][2] + s[4];
    var shown = showAll[i] ? count : Math.min(count, FILES_SHOWN);
    var t = document.createElement("table"), tb = document.createElement("tbody");
    for (var k = 0; k < shown; k++) {
      var tr = document.createElement("tr"), f = from + k;
      cell(tr, stamp(fileTimes[f])); cell(tr, dirText(fileDirs[f]) + data.names[fileNames[f]]);
      tb.appendChild(tr);
    }
    t.appendChild(tb);
    var box = document.createElement("div");
    box.appendChild(t);
    if (shown < count) {
      var more = document.createElement("button");
      more.textContent = "Show all " + count.toLocaleString() + " files";
      more.addEventListener("click", function (e) { e.stopPropagation(); showAll[i] = true; render(); });
      box.appendChild(more);
    }
    return box;
  }
  function render() {
    var size = parseInt(sizeBox.value, 10), pages = Math.max(1, Math.ceil(rows.length / size));
    if (page >= pages) page = pages - 1;
    var from = page * size, to = Math.min(rows.length, from + size);
    var frag = document.createDocumentFragment();
    for (var r = from; r < to; r++) {
      var i = rows[r], s = sessions[i], p = pairs[s[0]], tr = document.createElement("tr");
      cell(tr, p[0]); cell(tr, p[1]); cell(tr, stamp(s[1])); cell(tr, duration(s[2]), "num"); cell(tr, s[3].toLocaleString(), "num");
      if (s[3] > 0) {
        tr.className = opened[i] ? "has-files open" : "has-files";
        tr.addEventListener("click", (function (n) { return function () { opened[n] = !opened[n]; render(); }; })(i));
      }
      frag.appendChild(tr);
      if (opened[i] && s[3] > 0) {
        var ftr = document.createElement("tr"), td = document.createElement("td");
        td.colSpan = 5; td.className = "files"; td.appendChild(fileTable(i));
        ftr.appendChild(td); frag.appendChild(ftr);
      }
    }
    body.textContent = "";
    body.appendChild(frag);
    info.textContent = rows.length ? "Sessions " + (from + 1).toLocaleString() + "\u2013" + to.toLocaleString() +
      " of " + rows.length.toLocaleString() + " \u00b7 page " + (page + 1) + " of " + pages : "No sessions match.";
    for (var h = 0; h < heads.length; h++)
      heads[h].className = (heads[h].className.indexOf("num") >= 0 ? "num " : "") +
        (h === sortCol ? (sortDir < 0 ? "sorted-desc" : "sorted-asc") : "");
  }
  function go(p) { page = p; render(); }
  document.getElementById("first").addEventListener("click", function () { go(0); });
  document.getElementById("prev").addEventListener("click", function () { go(Math.max(0, page - 1)); });
  document.getElementById("next").addEventListener("click", function () { go(page + 1); });
  document.getElementById("last").addEventListener("click", function () { go(Infinity); });
  filterBox.addEventListener("input", function () { applyFilter(); render(); });
  sizeBox.addEventListener("change", function () { page = 0; render(); });
  Array.prototype.forEach.call(heads, function (th, col) {
    th.addEventListener("click", function () {
      if (sortCol === col) sortDir = -sortDir; else { sortCol = col; sortDir = col >= 2 ? -1 : 1; }
      sortRows(); page = 0; render();
    });
  });
  applyFilter();
  render();
})();
)";

}  // namespace

std::string htmlEscape(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 16);
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t len = utf8Length(text, i);
        if (len == 0) {
            out += replacementChar;
            ++i;
            continue;
        }
        if (len == 1) {
            switch (text[i]) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default:
                if (static_cast<unsigned char>(text[i]) < 0x20 || text[i] == 0x7F)
                    out += replacementChar;
                else
                    out += text[i];
            }
        } else {
            out.append(text.substr(i, len));
        }
        i += len;
    }
    return out;
}

std::string jsonString(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 2);
    appendJsonString(out, text);
    return out;
}

std::filesystem::path reportFilePath(const std::filesystem::path& dataDir, const std::string& reportPath)
{
    return resolveInDataDir(dataDir, reportPath);
}

void writeReport(std::ostream& out, const HistoryData& data, int64_t generatedAt)
{
    LocalTimeCache local;
    PageWriter w(out);
    const Summary sum = summarise(data);
    const auto sessionCount = static_cast<int64_t>(data.sessions().size());
    const auto fileCount = static_cast<int64_t>(data.files().size());

    w << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
         "<meta name=\"generator\" content=\"Vantor\">\n<title>Vantor \xE2\x80\x94 sessions history</title>\n<style>"
      << pageStyle << "</style>\n</head>\n<body>\n";
    w << "<header><h1>Sessions history</h1><p>Vantor report generated " << local.format(generatedAt)
      << "</p></header>\n<main>\n";

    w << "<section class=\"cards\" id=\"summary\">\n";
    w << "<div class=\"card period\"><div class=\"label\">Period covered</div><div class=\"value\">";
    if (sum.first <= sum.last)
        w << local.format(sum.first) << " \xE2\x80\x93 " << local.format(sum.last);
    else
        w << "no records";
    w << "</div></div>\n";
    auto card = [&](const char* label, int64_t value, const std::string& note) {
        w << "<div class=\"card\"><div class=\"label\">" << label << "</div><div class=\"value\">" << withThousands(value)
          << "</div>";
        if (!note.empty())
            w << "<div class=\"note\">" << note << "</div>";
        w << "</div>\n";
    };
    card("Sessions", sessionCount, "");
    card("Users", static_cast<int64_t>(sum.users), "");
    card("Computers", static_cast<int64_t>(sum.computers), "");
    const auto outside = fileCount - static_cast<int64_t>(sum.filesInSessions);
    card("Files opened", fileCount, outside > 0 ? withThousands(outside) + " outside any logged session" : "");
    w << "</section>\n";

    w << "<h2>Activity</h2>\n";
    writeActivity(w, data, local);

    w << "<h2>Users</h2>\n";
    if (data.sessions().empty())
        w << "<p class=\"empty\">No sessions recorded.</p>\n";
    else
        writeUsers(w, data, local);

    w << "<h2>Sessions</h2>\n"
         "<noscript><p class=\"empty\">The list of sessions is drawn by the page's script; allow scripts to see "
         "it.</p></noscript>\n"
         "<div class=\"controls\"><input id=\"filter\" type=\"search\" placeholder=\"Filter by user or computer\">"
         "<label>Rows <select id=\"page-size\"><option>50</option><option selected>100</option><option>500</option>"
         "<option>1000</option></select></label>"
         "<button id=\"first\">\xC2\xAB</button><button id=\"prev\">\xE2\x80\xB9</button><span id=\"page-info\"></span>"
         "<button id=\"next\">\xE2\x80\xBA</button><button id=\"last\">\xC2\xBB</button></div>\n"
         "<table id=\"sessions\"><thead><tr><th>User</th><th>Computer</th><th>Start</th><th class=\"num\">Duration</th>"
         "<th class=\"num\">Files</th></tr></thead><tbody></tbody></table>\n"
         "<p class=\"empty\">Click a session to see its files.</p>\n";
    w << "</main>\n<script id=\"history-data\" type=\"application/json\">";
    writeData(w, data, local);
    w << "</script>\n<script>" << pageScript << "</script>\n</body>\n</html>\n";
}

bool generateReport(const HistoryData& data, const std::filesystem::path& dataDir, const std::string& reportPathName,
                    int64_t generatedAt, std::string* why)
{
    const auto target = reportFilePath(dataDir, reportPathName);
    if (target.has_parent_path() && target.parent_path() == dataDir)
        ensureDirectory(dataDir);
    // Earlier versions wrote through this fixed name: whatever stands there now (a crash's
    // leftover, or a link someone planted) is unlinked, never opened.
    auto oldTemporary = target;
    oldTemporary += ".part";
    std::error_code ec;
    std::filesystem::remove(oldTemporary, ec);

    AtomicFile file(target);
    std::optional<std::string> error;
    if (file.isOpen()) {
        writeReport(file.stream(), data, generatedAt);
        error = file.commit();
    } else {
        error = file.error();
    }
    if (why)
        *why = error.value_or(std::string());
    return !error;
}

bool loadAndGenerateReport(const std::filesystem::path& dataDir, const std::string& reportPathName,
                           int64_t generatedAt, std::string* why)
{
    return HistoryStore::instance().withLoaded(dataDir, [&](const HistoryPtr& data) {
        return generateReport(*data, dataDir, reportPathName, generatedAt, why);
    });
}

}  // namespace vantor
