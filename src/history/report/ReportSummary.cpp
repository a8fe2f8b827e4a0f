#include "history/report/ReportPage.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace vantor::report {

namespace {

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

}  // namespace

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
    for (int64_t candidate :
         {int64_t{60}, int64_t{300}, int64_t{900}, int64_t{1800}, int64_t{3600}, int64_t{3 * 3600}, int64_t{6 * 3600},
          int64_t{12 * 3600}, int64_t{86400}, int64_t{7 * 86400}, int64_t{30 * 86400}}) {
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
                          left + barWidth * static_cast<double>(i) + 0.5, y0 + panel - h, std::max(1.0, barWidth - 1.0),
                          h);
            w << "<rect class=\"" << cls << "\" " << geom << "><title>"
              << label(origin + static_cast<int64_t>(i) * size) << ": " << amount(values[i], hundredths) << ' ' << unit
              << "</title></rect>\n";
        }
    };
    const std::string bar = size % 86400 == 0  ? std::to_string(size / 86400) + (size == 86400 ? " day" : " days")
                            : size % 3600 == 0 ? std::to_string(size / 3600) + (size == 3600 ? " hour" : " hours")
                                               : std::to_string(size / 60) + (size == 60 ? " minute" : " minutes");
    const std::string activeTitle = "Sessions active (average of each " + bar + ")";
    const std::string openedTitle = "Files opened (each " + bar + ")";
    drawPanel(top, active, maxActive, "bar-sessions", activeTitle.c_str(), "sessions active on average", true);
    drawPanel(top + panel + gap, opened, maxOpened, "bar-files", openedTitle.c_str(), "files opened", false);
    const std::size_t ticks = std::min<std::size_t>(bars, 6);
    for (std::size_t k = 0; k < ticks; ++k) {
        const std::size_t i = ticks == 1 ? 0 : k * (bars - 1) / (ticks - 1);
        const double x = ticks > 1 && k == 0           ? left
                         : ticks > 1 && k + 1 == ticks ? width - right
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
    std::stable_sort(rows.begin(), rows.end(),
                     [](const auto& a, const auto& b) { return a.second->seconds > b.second->seconds; });

    w << "<details class=\"users\"" << (rows.size() <= 200 ? " open" : "") << "><summary>"
      << withThousands(static_cast<int64_t>(rows.size())) << (rows.size() == 1 ? " user" : " users")
      << ", longest total time first</summary>\n";
    w << "<table><thead><tr><th>User</th><th class=\"num\">Sessions</th><th class=\"num\">Computers</th>"
         "<th class=\"num\">Total time</th><th class=\"num\">Files opened</th><th>Last seen</th></tr></thead><tbody>\n";
    for (const auto& [user, t] : rows) {
        w << "<tr><td>" << htmlEscape(user) << "</td><td class=\"num\">" << withThousands(t->sessions)
          << "</td><td class=\"num\">" << withThousands(t->computers) << "</td><td class=\"num\">"
          << longDuration(t->seconds) << "</td><td class=\"num\">" << withThousands(t->files) << "</td><td>"
          << local.format(t->lastEnd) << "</td></tr>\n";
    }
    w << "</tbody></table></details>\n";
}

}  // namespace vantor::report
