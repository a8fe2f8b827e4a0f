#include "engine/DailyReport.h"

#include "base/MailText.h"
#include "base/TimeText.h"

#include <algorithm>
#include <ctime>
#include <map>
#include <set>

namespace vantor {

namespace {

bool twoDigits(std::string_view s, int& out)
{
    if (s.size() != 2 || s[0] < '0' || s[0] > '9' || s[1] < '0' || s[1] > '9')
        return false;
    out = (s[0] - '0') * 10 + (s[1] - '0');
    return true;
}

std::tm localTm(int64_t t)
{
    std::tm tm{};
    const auto tt = static_cast<std::time_t>(t);
#ifdef _WIN32
    localtime_s(&tm, &tt);
#else
    localtime_r(&tt, &tm);
#endif
    return tm;
}

std::string dateText(const std::tm& tm)
{
    char buf[16];
    std::strftime(buf, sizeof buf, "%Y-%m-%d", &tm);
    return buf;
}

}  // namespace

std::optional<DailyTime> parseDailyTime(std::string_view text)
{
    DailyTime t;
    if (text.size() != 5 || text[2] != ':' || !twoDigits(text.substr(0, 2), t.hour)
        || !twoDigits(text.substr(3, 2), t.minute) || t.hour > 23 || t.minute > 59)
        return std::nullopt;
    return t;
}

std::string dueReportDate(int64_t now, DailyTime at)
{
    std::tm tm = localTm(now);
    const bool reached = tm.tm_hour > at.hour || (tm.tm_hour == at.hour && tm.tm_min >= at.minute);
    if (reached)
        return dateText(tm);
    // Yesterday by the calendar, not 86,400 seconds back: a day of a clock change is 23 or 25 hours.
    tm.tm_mday -= 1;
    tm.tm_hour = 12;
    tm.tm_isdst = -1;
    std::mktime(&tm);
    return dateText(tm);
}

bool dailyReportDue(const std::string& dueDate, const std::string& lastSentDate)
{
    // ISO dates compare as texts. A last date after the due one (the clock was set back) sends
    // nothing: the day's report went already.
    return lastSentDate.empty() || dueDate > lastSentDate;
}

std::string dailyReportSubject(const std::string& date)
{
    return "Vantor: daily report - " + date;
}

std::string dailyReportBody(const HistoryData& history, int64_t from, int64_t to)
{
    struct UserFigures {
        uint32_t sessions = 0;
        uint64_t seconds = 0;
        uint32_t files = 0;
    };
    std::map<std::string, UserFigures> users;
    std::set<std::string> computers;
    uint32_t sessions = 0;
    for (const auto& s : history.sessions()) {
        // A session counts when any part of it lies in the period.
        if (s.end() < from || int64_t{s.start} > to)
            continue;
        ++sessions;
        auto& u = users[s.user];
        ++u.sessions;
        u.seconds += std::min(s.end(), to) - std::max(int64_t{s.start}, from);
        computers.insert(s.computer);
    }
    uint32_t files = 0;
    for (const auto& f : history.files()) {
        if (f.time < from || f.time > to)
            continue;
        ++files;
        ++users[f.user].files;
    }

    const std::string eol = "\r\n";
    std::string body =
        "Vantor daily report" + eol + "Period: " + formatTimestamp(from) + " - " + formatTimestamp(to) + eol + eol;
    body += "Sessions: " + std::to_string(sessions) + eol;
    body +=
        "Users: "
        + std::to_string(std::count_if(users.begin(), users.end(), [](const auto& u) { return u.second.sessions > 0; }))
        + eol;
    body += "Computers: " + std::to_string(computers.size()) + eol;
    body += "Files opened: " + std::to_string(files) + eol;

    std::vector<std::pair<std::string, UserFigures>> ranked;
    for (const auto& [name, figures] : users)
        if (figures.sessions > 0)
            ranked.emplace_back(name, figures);
    std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) {
        if (a.second.sessions != b.second.sessions)
            return a.second.sessions > b.second.sessions;
        return a.second.seconds > b.second.seconds;
    });
    if (ranked.size() > 5)
        ranked.resize(5);
    body += eol + "Busiest users:" + eol;
    if (ranked.empty())
        body += " <No sessions>" + eol;
    for (const auto& [name, f] : ranked) {
        // Names come from the network: each stays on its own line.
        body += " " + (name.empty() ? std::string("<system>") : cleanMailText(name)) + ": " + std::to_string(f.sessions)
                + (f.sessions == 1 ? " session, " : " sessions, ")
                + formatDuration(static_cast<uint32_t>(std::min<uint64_t>(f.seconds, UINT32_MAX))) + ", "
                + std::to_string(f.files) + (f.files == 1 ? " file" : " files") + eol;
    }
    return body;
}

}  // namespace vantor
