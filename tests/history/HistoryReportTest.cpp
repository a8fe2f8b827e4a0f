#include "ScopedTimeZone.h"
#include "FaultInjection.h"
#include "TempDir.h"
#include "history/HistoryReport.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <functional>
#include <optional>
#include <sstream>

using namespace vantor;
using vantor::test::DiskFull;
using vantor::test::ScopedTimeZone;
using vantor::test::TempDir;

namespace {

std::string render(const HistoryData& data, int64_t at = 1110300000)
{
    std::ostringstream out;
    writeReport(out, data, at);
    return out.str();
}

nlohmann::json embeddedData(const std::string& page)
{
    const std::string open = "<script id=\"history-data\" type=\"application/json\">";
    const auto begin = page.find(open);
    EXPECT_NE(begin, std::string::npos);
    const auto end = page.find("</script>", begin);
    return nlohmann::json::parse(page.substr(begin + open.size(), end - begin - open.size()));
}

// The page's data read back as its script reads it: each session with its pair's names, its times
// and the paths and times of its files.
struct ReadSession {
    std::string user, computer;
    std::optional<int64_t> start;
    int64_t duration = 0, fileCount = 0;
    std::vector<std::pair<std::optional<int64_t>, std::string>> files;
};

std::vector<ReadSession> readBack(const nlohmann::json& json)
{
    const std::string digits = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-_";
    struct Reader {
        const std::string& text;
        const std::string& digits;
        std::size_t i = 0;
        int64_t t = 0;
        bool more() const { return i < text.size(); }
        int64_t num()
        {
            int64_t v = 0, mul = 1;
            for (;; mul *= 32) {
                const auto c = static_cast<int64_t>(digits.find(text.at(i++)));
                if (c < 32)
                    return v + c * mul;
                v += (c - 32) * mul;
            }
        }
        std::optional<int64_t> time()
        {
            int64_t z = num();
            if (z == 0)
                return std::nullopt;
            z -= 1;
            t += z % 2 ? -(z + 1) / 2 : z / 2;
            return t;
        }
    };
    const std::string pairsText = json["pairs"], filesText = json["files"], sessionsText = json["sessions"];
    std::vector<std::tuple<std::string, std::string, int64_t>> pairs;
    int64_t total = 0;
    for (Reader r{pairsText, digits}; r.more();) {
        const auto u = r.num(), c = r.num(), n = r.num();
        pairs.emplace_back(json["users"][u], json["computers"][c], total);
        total += n;
    }
    std::function<std::string(int64_t)> dir = [&](int64_t d) -> std::string {
        return d == 0 ? std::string() : dir(json["dirs"][d - 1][0]) + json["dirs"][d - 1][1].get<std::string>();
    };
    std::vector<std::pair<std::optional<int64_t>, std::string>> files;
    for (Reader r{filesText, digits}; r.more();) {
        const auto t = r.time();
        const auto d = r.num();
        files.emplace_back(t, dir(d) + json["names"][r.num()].get<std::string>());
    }
    EXPECT_EQ(static_cast<int64_t>(files.size()), total);
    std::vector<ReadSession> out;
    for (Reader r{sessionsText, digits}; r.more();) {
        ReadSession s;
        const auto& pair = pairs.at(static_cast<std::size_t>(r.num()));
        s.user = std::get<0>(pair);
        s.computer = std::get<1>(pair);
        s.start = r.time();
        s.duration = r.num();
        s.fileCount = r.num();
        const auto first = std::get<2>(pair) + r.num();
        for (int64_t k = 0; k < s.fileCount; ++k)
            s.files.push_back(files.at(static_cast<std::size_t>(first + k)));
        out.push_back(std::move(s));
    }
    return out;
}

std::size_t occurrences(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (auto pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1))
        ++n;
    return n;
}

}  // namespace

TEST(Report, EveryTextFromTheLogsIsEscaped)
{
    ScopedTimeZone tz("UTC0");
    const std::string user = "<b>Tom&\"Jerry'</b>";
    const std::string computer = "pc<script>alert(1)</script>";
    const std::string path = "/srv/a&b/\"quoted\"/<i>.txt";
    std::ostringstream users, files;
    writeSessionLine(users, 1110204309, user, computer, 3725);
    writeFileLine(files, 1110204400, user, computer, path);
    const auto data = HistoryData::fromText(files.str(), users.str());
    ASSERT_EQ(data.sessions().size(), 1u);
    const std::string page = render(data);

    for (const auto& raw : {user, computer, path, std::string("<script>alert"), std::string("<b>"), std::string("<i>")})
        EXPECT_EQ(page.find(raw), std::string::npos) << raw;
    EXPECT_NE(page.find("&lt;b&gt;Tom&amp;&quot;Jerry&#39;&lt;/b&gt;"), std::string::npos);  // the users table
    EXPECT_EQ(occurrences(page, "</script>"), 2u);  // the data and the script, nothing closed early

    const auto sessions = readBack(embeddedData(page));
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(sessions[0].user, user);
    EXPECT_EQ(sessions[0].computer, computer);
    ASSERT_EQ(sessions[0].files.size(), 1u);
    EXPECT_EQ(sessions[0].files[0].second, path);
}

TEST(Report, HoldsEverySessionWithItsFiles)
{
    ScopedTimeZone tz("UTC0");
    const std::string filesLog = "1110204400 ann pc1 /a\n"
                                 "1110204300 ann pc1 /before_any_session\n"
                                 "1110204350 ann pc1 /b\n"
                                 "1110300000 bob pc2 /c\n"
                                 "1110204360 ann pc1 /in_both\n";
    const std::string usersLog = "1110204309 ann pc1 3725\n"
                                 "1110204355 ann pc1 10\n"
                                 "1110299990 bob pc2 20\n"
                                 "1110400000 bob pc1 0\n"
                                 "4294967295 damaged line 5\n";
    const auto data = HistoryData::fromText(filesLog, usersLog);
    const std::string page = render(data);
    const auto json = embeddedData(page);

    const auto sessions = readBack(json);
    ASSERT_EQ(sessions.size(), data.sessions().size());
    for (std::size_t i = 0; i < sessions.size(); ++i) {
        const auto& r = data.sessions()[i];
        const auto& s = sessions[i];
        EXPECT_EQ(s.user, r.user);
        EXPECT_EQ(s.computer, r.computer);
        if (r.start >= 0)
            EXPECT_EQ(s.start, r.start);  // local time is UTC here
        else
            EXPECT_FALSE(s.start);
        EXPECT_EQ(s.duration, r.duration);
        EXPECT_EQ(s.fileCount, r.fileCount);
        std::vector<std::pair<std::optional<int64_t>, std::string>> expected;
        for (auto f : data.filesInWindow(r.user, r.computer, r.start, r.end()))
            expected.emplace_back(data.files()[f].time, data.files()[f].path);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(s.files, expected) << i;
    }
    EXPECT_EQ(data.sessions()[0].fileCount, 3u);
    EXPECT_EQ(data.sessions()[1].fileCount, 1u);

    // The summary: 5 sessions of 3 users on 3 computers; of 5 files, one lies in no session.
    EXPECT_NE(page.find("<div class=\"label\">Sessions</div><div class=\"value\">5</div>"), std::string::npos);
    EXPECT_NE(page.find("<div class=\"label\">Users</div><div class=\"value\">3</div>"), std::string::npos);
    EXPECT_NE(page.find("<div class=\"label\">Computers</div><div class=\"value\">3</div>"), std::string::npos);
    EXPECT_NE(page.find("<div class=\"value\">5</div><div class=\"note\">1 outside any logged session</div>"),
              std::string::npos);
    EXPECT_NE(page.find("2005-03-07 14:05:00 \xE2\x80\x93 2005-03-09 20:26:40"), std::string::npos);  // period
    EXPECT_NE(page.find("<svg class=\"activity\""), std::string::npos);
}

TEST(Report, AnEmptyHistoryIsAReportToo)
{
    const std::string page = render(HistoryData::fromText("", ""));
    EXPECT_NE(page.find("No activity recorded."), std::string::npos);
    EXPECT_NE(page.find("No sessions recorded."), std::string::npos);
    const auto json = embeddedData(page);
    EXPECT_TRUE(readBack(json).empty());
    EXPECT_EQ(json["files"], "");
}

TEST(Report, TextsThatAreNotUtf8AreReplacedNotPassedOn)
{
    EXPECT_EQ(htmlEscape("a\xFF"
                         "b\x01"),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD");
    EXPECT_EQ(jsonString("a\xC3"
                         "b"),
              "\"a\\ufffdb\"");
    EXPECT_EQ(jsonString("\xC3\xA9\n\\"), "\"\xC3\xA9\\u000a\\\\\"");
    EXPECT_EQ(nlohmann::json::parse(jsonString("\xE2\x80\xA8</script>")).get<std::string>(), "\xE2\x80\xA8</script>");
}

TEST(Report, FilesAreWrittenWhereThePathSaysAndWhole)
{
    TempDir dir;
    EXPECT_EQ(reportFilePath(dir.path(), "report.html"), dir.path() / "report.html");
    const std::string elsewhere = std::string("www") + pathSeparator + "hist.htm";
    EXPECT_EQ(reportFilePath(dir.path(), elsewhere), std::filesystem::path(elsewhere));

    dir.write("users.log", "1110204309 a b 10\n");
    ASSERT_TRUE(loadAndGenerateReport(dir.path(), "report.html", 1110300000));
    EXPECT_EQ(readBack(embeddedData(dir.read("report.html"))).size(), 1u);

    ASSERT_TRUE(loadAndGenerateReport(dir.path(), (dir.path() / "sub.htm").string(), 1110300000));
    EXPECT_TRUE(std::filesystem::exists(dir / "sub.htm"));
    EXPECT_FALSE(loadAndGenerateReport(dir.path(), (dir.path() / "no" / "such" / "dir.html").string(), 0));

    // Right after the logs are deleted, the console gets a report of an empty history.
    deleteLogs(dir.path());
    ASSERT_TRUE(loadAndGenerateReport(dir.path(), "report.html", 1110300000));
    EXPECT_TRUE(readBack(embeddedData(dir.read("report.html"))).empty());
}

TEST(Report, NeitherAPlantedLinkNorAFullDiskCostsAnythingButTheNewReport)
{
    if (!vantor::test::faultsCanBeInjected())
        GTEST_SKIP() << "no fault injection here";
    TempDir dir;
    dir.write("users.log", "1110204309 a b 10\n");
    // Whoever can write to the data folder plants a link where the report used to be written.
    TempDir other;
    other.write("shadow", "root's file");
    std::filesystem::create_symlink(other / "shadow", dir / "report.html.part");
    ASSERT_TRUE(loadAndGenerateReport(dir.path(), "report.html", 1110300000));
    EXPECT_EQ(other.read("shadow"), "root's file");
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(dir / "report.html.part")));
    const std::string previous = dir.read("report.html");

    dir.write("users.log", "1110204309 a b 10\n1110204400 c d 10\n");
    std::string why;
    {
        DiskFull full(dir.path(), 1000);
        EXPECT_FALSE(loadAndGenerateReport(dir.path(), "report.html", 1110300000, &why));
    }
    EXPECT_EQ(dir.read("report.html"), previous) << "neither cut nor emptied";
    EXPECT_NE(why.find((dir / "report.html").string()), std::string::npos) << why;
    EXPECT_NE(why.find("space"), std::string::npos) << why;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_TRUE(entry.path().filename() == "report.html" || entry.path().extension() == ".log") << entry.path();
}

TEST(Report, ActivityShowsTheSessionsActiveAtAResolutionThatFitsTheSpan)
{
    ScopedTimeZone tz("UTC0");
    // One session for the hour, another for its second half: minute bars, one then two active.
    const std::string usersLog = "1110204000 ann pc1 3600\n"
                                 "1110205800 bob pc2 1800\n";
    const std::string page = render(HistoryData::fromText("", usersLog));
    EXPECT_NE(page.find("Sessions active (average of each 1 minute)"), std::string::npos);
    EXPECT_EQ(occurrences(page, ": 1.0 sessions active on average</title>"), 30u);
    EXPECT_EQ(occurrences(page, ": 2.0 sessions active on average</title>"), 30u);
    EXPECT_NE(page.find("2005-03-07 14:29: 1.0 sessions"), std::string::npos);
    EXPECT_NE(page.find("2005-03-07 14:30: 2.0 sessions"), std::string::npos);

    // A month of short sessions, one a day: wide bars would each count the day's session as
    // active for all of it; the average tells it was there for half of its bar.
    std::string month;
    for (int day = 0; day < 30; ++day)
        month += std::to_string(1110153600 + day * 86400 + 32400) + " ann pc1 5400\n";
    const std::string monthPage = render(HistoryData::fromText("", month));
    EXPECT_NE(monthPage.find("Sessions active (average of each 3 hours)"), std::string::npos);
    EXPECT_EQ(occurrences(monthPage, ": 0.5 sessions active on average</title>"), 30u);
}
