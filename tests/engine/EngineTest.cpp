// The engine on the fake service with a manual clock: the poll's after-work (the daily report mail,
// the report's automatic update, the trim to historyDays), the settings file it loads and keeps, the
// sessions a restart goes on with, and its event loop.
#include "engine/DailyReport.h"
#include "engine/Engine.h"

#include "ScopedTimeZone.h"
#include "MonitorFixture.h"
#include "history/HistoryLog.h"
#include "history/HistoryReport.h"
#include "options/SettingsFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <ctime>
#include <thread>

using namespace vantor;
using namespace vantor::test;

namespace {

// The engine's dates are local: the tests pin the zone.
struct UtcZone : ScopedTimeZone {
    UtcZone()
        : ScopedTimeZone("UTC0")
    {
    }
};

// 2023-11-14 00:00:00 UTC.
constexpr int64_t day0 = 1'699'920'000;
constexpr int64_t hour = 3600;

struct EngineHarness {
    explicit EngineHarness(std::optional<std::filesystem::path> settingsFile = std::nullopt)
    {
        clock.set(day0);
        makeEngine(std::move(settingsFile));
    }
    void makeEngine(std::optional<std::filesystem::path> settingsFile = std::nullopt)
    {
        engine.reset();
        EngineOptions o;
        o.pollMode = EngineOptions::PollMode::LoopThread;
        o.settingsFile = std::move(settingsFile);
        o.mail = &mail;
        o.keepSessions = keepSessions;
        o.historyDaysDefault = historyDays;
        o.log = [this](LogLevel, const std::string& text) { logged.push_back(text); };
        engine = std::make_unique<Engine>(SessionMonitor::Context{net, boxes, clock, dir.path(), &inspector}, o);
        engine->start();
    }
    MonitorSettings& settings() { return engine->monitor().settings; }
    void dailyReportAt(const std::string& time, const std::string& address = "ops@corp.test")
    {
        settings().dailyReport = 1;
        settings().dailyReportTime = time;
        settings().mailAddress = address;
    }
    std::vector<std::string> subjects() const
    {
        std::vector<std::string> out;
        for (const auto& m : mail.mails)
            out.push_back(m.subject);
        return out;
    }

    TempDir dir;
    FakeNetManagement net;
    RecordingMessageBoxes boxes;
    ManualClock clock;
    SetFileInspector inspector;
    RecordingMail mail;
    std::vector<std::string> logged;
    bool keepSessions = false;
    int32_t historyDays = 0;
    std::unique_ptr<Engine> engine;
};

using Subjects = std::vector<std::string>;

}  // namespace

TEST(DailyReport, GoesOnceAtTheMinuteAndNeverTwiceADay)
{
    UtcZone utc;
    EngineHarness h;
    h.dailyReportAt("08:30");
    h.clock.set(day0 + 8 * hour + 29 * 60 + 59);
    h.engine->poll();
    EXPECT_TRUE(h.mail.mails.empty());

    h.clock.set(day0 + 8 * hour + 30 * 60);
    h.engine->poll();
    ASSERT_EQ(h.subjects(), Subjects{"Vantor: daily report - 2023-11-14"});
    EXPECT_EQ(h.mail.mails[0].to, "ops@corp.test");
    EXPECT_EQ(h.mail.mails[0].server, h.settings().smtpServer);

    for (int64_t later : {int64_t{60}, 3 * hour, 15 * hour}) {
        h.clock.set(day0 + 8 * hour + 30 * 60 + later);
        h.engine->poll();
    }
    EXPECT_EQ(h.mail.mails.size(), 1u);

    h.clock.set(day0 + 24 * hour + 8 * hour + 30 * 60);
    h.engine->poll();
    EXPECT_EQ(h.subjects(), (Subjects{"Vantor: daily report - 2023-11-14", "Vantor: daily report - 2023-11-15"}));
}

TEST(DailyReport, AStartAfterTheMinuteSendsItLateAndARestartDoesNotAgain)
{
    UtcZone utc;
    TempDir config;
    MonitorSettings s;
    s.dailyReport = 1;
    s.dailyReportTime = "23:59";
    s.mailAddress = "ops@corp.test";
    ASSERT_FALSE(saveSettingsFile(config / "vantor.conf", s));

    EngineHarness h(config / "vantor.conf");
    h.clock.set(day0 + 12 * hour);
    h.engine->poll();  // switched on today: nothing for the days before
    h.clock.set(day0 + 23 * hour + 59 * 60);
    h.engine->poll();
    EXPECT_EQ(h.subjects(), Subjects{"Vantor: daily report - 2023-11-14"});

    // Off over the next day's 23:59; started the morning after: that report goes now.
    h.makeEngine(config / "vantor.conf");
    h.clock.set(day0 + 48 * hour + 7 * hour);
    h.engine->poll();
    EXPECT_EQ(h.subjects(), (Subjects{"Vantor: daily report - 2023-11-14", "Vantor: daily report - 2023-11-15"}));

    // Restarted the same day: the data folder remembers the report went.
    h.makeEngine(config / "vantor.conf");
    h.clock.advance(hour);
    h.engine->poll();
    EXPECT_EQ(h.mail.mails.size(), 2u);
}

TEST(DailyReport, NothingWithoutAnAddressOrWhenSwitchedOffOrTheTimeIsNoTime)
{
    UtcZone utc;
    EngineHarness h;
    h.dir.write("daily-report.last", "2023-11-13\n");
    h.clock.set(day0 + 12 * hour);
    h.dailyReportAt("08:30", "");
    h.engine->poll();
    h.dailyReportAt("08:30");
    h.settings().dailyReport = 0;
    h.engine->poll();
    h.dailyReportAt("8:30 ");
    h.engine->poll();
    EXPECT_TRUE(h.mail.mails.empty());
    // Once it can go, it does: the day was not marked by the attempts that could not.
    h.dailyReportAt("08:30");
    h.engine->poll();
    EXPECT_EQ(h.mail.mails.size(), 1u);
}

TEST(DailyReport, ScheduleFollowsTheLocalCalendar)
{
    EXPECT_FALSE(parseDailyTime("24:00"));
    EXPECT_FALSE(parseDailyTime("12:60"));
    EXPECT_FALSE(parseDailyTime("1230"));
    ASSERT_TRUE(parseDailyTime("00:00"));

    UtcZone utc;
    EXPECT_EQ(dueReportDate(day0 + 30, {0, 0}), "2023-11-14");
    EXPECT_EQ(dueReportDate(day0 - 1, {0, 0}), "2023-11-13");
    // New year: the day before the first of January is in the previous year.
    EXPECT_EQ(dueReportDate(1'704'067'200 + hour, {23, 59}), "2023-12-31");
#ifndef _WIN32  // the Windows C runtime takes no daylight-saving rules from TZ (it applies US rules)
    {
        // Just after midnight on the night the clocks go back, yesterday is still the 28th.
        ScopedTimeZone berlin(berlinRules);
        EXPECT_EQ(dueReportDate(1'698'535'800, {23, 59}), "2023-10-28");
        EXPECT_EQ(dueReportDate(1'698'535'800, {1, 0}), "2023-10-29");
    }
#endif
    EXPECT_TRUE(dailyReportDue("2023-11-14", ""));
    EXPECT_TRUE(dailyReportDue("2023-11-14", "2023-11-13"));
    EXPECT_FALSE(dailyReportDue("2023-11-14", "2023-11-14"));
    // The clock was set back: the later day's report already went.
    EXPECT_FALSE(dailyReportDue("2023-11-14", "2023-11-20"));
}

TEST(DailyReport, BodySummarisesTheLast24HoursOnly)
{
    UtcZone utc;
    const int64_t to = day0 + 24 * hour;
    auto line = [](int64_t start, const char* who, const char* where, int64_t duration) {
        return std::to_string(start) + " " + who + " " + where + " " + std::to_string(duration) + "\n";
    };
    const std::string users = line(day0 - 2 * hour, "OLD", "PC0", 60)  // before the period
                              + line(day0 - 60, "BOB", "PC1", 120)  // reaches into it
                              + line(day0 + hour, "ALICE", "PC1", 600)  //
                              + line(day0 + 2 * hour, "ALICE", "PC2", 600)  //
                              + line(day0 + 3 * hour, "CAROL", "PC3", 5);
    const std::string files = std::to_string(day0 + hour + 10) + " ALICE PC1 /a\n" + std::to_string(day0 + hour + 20)
                              + " ALICE PC1 /b\n" + std::to_string(day0 - hour) + " OLD PC0 /old\n";
    const HistoryData history = HistoryData::fromText(files, users);
    const std::string body = dailyReportBody(history, day0, to);
    EXPECT_NE(body.find("Sessions: 4\r\n"), std::string::npos) << body;
    EXPECT_NE(body.find("Users: 3\r\n"), std::string::npos) << body;
    EXPECT_NE(body.find("Computers: 3\r\n"), std::string::npos) << body;
    EXPECT_NE(body.find("Files opened: 2\r\n"), std::string::npos) << body;
    // The busiest first.
    const auto alice = body.find(" ALICE: 2 sessions, ");
    const auto bob = body.find(" BOB: 1 session, ");
    ASSERT_NE(alice, std::string::npos) << body;
    ASSERT_NE(bob, std::string::npos) << body;
    EXPECT_LT(alice, bob);
    EXPECT_EQ(body.find("OLD"), std::string::npos);
}

TEST(ReportAutoUpdate, MadeAgainOnlyAfterHistoryChangedAndAtMostOnceAMinute)
{
    UtcZone utc;
    EngineHarness h;
    h.settings().reportAutoUpdate = 1;
    const auto report = reportFilePath(h.dir.path(), h.settings().reportPath.get());
    auto madeAgain = [&] {
        const bool made = std::filesystem::exists(report);
        std::filesystem::remove(report);
        return made;
    };

    h.engine->poll();  // nothing in the history yet
    EXPECT_FALSE(madeAgain());
    h.net.addSession("alice", "pc1");
    h.engine->poll();  // a session began: nothing is written until it ends
    EXPECT_FALSE(madeAgain());
    h.clock.advance(30);
    h.net.setSessions({});
    h.engine->poll();  // its users.log line
    EXPECT_TRUE(madeAgain());

    h.clock.advance(20);
    h.net.addSession("bob", "pc2");
    h.engine->poll();
    h.clock.advance(20);
    h.net.setSessions({});
    h.engine->poll();  // a change 40 s after the last report: it waits
    EXPECT_FALSE(madeAgain());
    h.clock.advance(20);
    h.engine->poll();  // the minute is over, and the change is still unreported
    EXPECT_TRUE(madeAgain());
    h.clock.advance(600);
    h.engine->poll();  // nothing new
    EXPECT_FALSE(madeAgain());

    // Switched off, the report is left alone.
    h.settings().reportAutoUpdate = 0;
    h.net.addSession("carol", "pc3");
    h.engine->poll();
    h.clock.advance(120);
    h.net.setSessions({});
    h.engine->poll();
    EXPECT_FALSE(madeAgain());
}

TEST(EngineSettings, LoadedAtStartAndReadAgainWithTheLists)
{
    TempDir config;
    config.write("vantor.conf", "useBlackList = 0\nreportLimitIndex = 3\n");
    EngineHarness h(config / "vantor.conf");
    EXPECT_EQ(h.settings().useBlackList, 0);
    EXPECT_EQ(h.settings().reportLimitIndex, 0);
    ASSERT_EQ(h.logged.size(), 1u);
    EXPECT_NE(h.logged[0].find("vantor.conf:2: "), std::string::npos) << h.logged[0];
    EXPECT_EQ(h.engine->settingsProblems(), h.logged);

    // The white list is in force from the file: a session not on it is closed at the first poll.
    h.dir.write("wlist.dat", "ALICE PC1\n");
    h.engine->reload();
    h.net.addSession("alice", "pc1");
    h.net.addSession("mallory", "pc6");
    h.engine->poll();
    ASSERT_EQ(h.engine->monitor().currentSessions().size(), 1u);
    EXPECT_EQ(h.engine->monitor().currentSessions()[0].user, "alice");

    // Saving writes what is in force; an option the file no longer names is back at its default
    // after a reload, as after a restart.
    h.settings().mailAddress = "new@corp.test";
    ASSERT_TRUE(h.engine->saveSettings().ok());
    config.write("vantor.conf", "mailAddress = other@corp.test\n");
    h.engine->reload();
    EXPECT_EQ(h.settings().mailAddress, "other@corp.test");
    EXPECT_EQ(h.settings().useBlackList, 1);
}

TEST(EngineSettings, AFailedSaveIsShownNotPassedOver)
{
    TempDir config;
    config.write("blocker", "");
    EngineHarness h(config / "blocker" / "vantor.conf");
    EXPECT_FALSE(h.engine->saveSettings().showOn(h.boxes));
    ASSERT_EQ(h.boxes.shown.size(), 1u);
    EXPECT_EQ(h.boxes.shown[0].caption, "Warning");
}

TEST(EventLoop, RunsPostsFromOtherThreadsInOrderAndTimersUntilQuit)
{
    EventLoop loop;
    std::vector<int> order;
    int ticks = 0;
    loop.startTimer(std::chrono::milliseconds(1), [&] {
        if (++ticks == 3)
            loop.post([&] { loop.quit(); });
    });
    std::thread poster([&] {
        for (int i = 0; i < 100; ++i)
            loop.post([&order, i] { order.push_back(i); });
    });
    loop.run();
    poster.join();
    loop.runPending();
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    EXPECT_GE(ticks, 3);
}

TEST(EngineLog, OneLinePerEventAndAFailingPollOnlyWhenItStartsAndEnds)
{
    EngineHarness h;
    h.dir.write("blist.dat", "MALLORY <Any>\n");
    h.engine->reload();
    h.logged.clear();
    h.net.addSession("alice", "pc1");
    h.net.addSession("mallory", "pc6");
    h.engine->poll();
    h.engine->poll();  // nothing new: nothing more to say
    EXPECT_EQ(h.logged, (std::vector<std::string>{"closed the session of mallory from pc6: on the black list",
                                                  "new user alice from pc1"}));

    h.logged.clear();
    h.net.setSessions({});
    h.net.setStatus(FakeNetManagement::Op::EnumSessions, {netcode::AccessDenied, "smbstatus only works as root!"});
    for (int i = 0; i < 3; ++i)
        h.engine->poll();
    h.net.setStatus(FakeNetManagement::Op::EnumSessions, NetStatus::success());
    h.engine->poll();
    h.engine->poll();
    EXPECT_EQ(h.logged,
              (std::vector<std::string>{"the poll failed: smbstatus only works as root!", "the poll works again"}));
}

// A listing that takes another way, or leaves out records it cannot read, is told once: when it
// starts (per kind of fault) and when it ends; the records are counted at every poll.
TEST(EngineLog, AFallbackAndLeftOutRecordsAreToldOnceAndCounted)
{
    EngineHarness h;
    h.net.addSession("alice", "pc1");
    h.engine->poll();
    h.logged.clear();
    ListingNotes notes;
    notes.route = "text-opens";
    notes.routeReason = "smbstatus --json failed (PANIC)";
    notes.routeMissing = "ids";
    notes.skipped = {{"a session has no \"username\"", "session 7 has no \"username\""},
                     {"a session has no \"username\"", "session 8 has no \"username\""},
                     {"a line that is not valid UTF-8", "line 9: a line that is not valid UTF-8"}};
    h.net.setListingNotes(notes);
    h.engine->poll();
    h.engine->poll();
    EXPECT_EQ(h.engine->pollState().route, "text-opens");
    EXPECT_EQ(h.engine->counters().read().recordsSkipped, 6u);
    h.net.setListingNotes({});
    h.engine->poll();
    h.engine->poll();
    EXPECT_EQ(h.engine->pollState().route, "");
    EXPECT_EQ(h.logged,
              (std::vector<std::string>{
                  "the poll falls back to another listing (text-opens): smbstatus --json failed (PANIC); it lacks ids",
                  "left out a record of the listing that could not be read (session 7 has no \"username\"); the rest "
                  "is enforced",
                  "left out a record of the listing that could not be read (line 9: a line that is not valid UTF-8); "
                  "the rest is enforced",
                  "the poll is back on its usual listing"}));
    EXPECT_TRUE(h.engine->pollState().error.empty());
}

TEST(EngineCounters, CountEachCloseByItsReasonAndEveryPollWithItsOutcome)
{
    EngineHarness h;
    h.dir.write("blist.dat", "MALLORY <Any>\n");
    h.dir.write("wlist.dat", "alice <Any>\n");
    h.engine->reload();
    h.net.addSession("alice", "pc1");
    h.net.addSession("mallory", "pc6");
    h.net.addSession("", "pc7");  // condemned by neither list, and never closed by name
    h.engine->poll();
    h.engine->poll();

    h.settings().useBlackList = 0;
    h.net.addSession("bob", "pc2");
    h.engine->poll();  // bob and the nameless session are not on the white list; only bob can go
    h.settings().useBlackList = 1;
    h.net.addSession("carol", "pc3");
    h.engine->poll();
    DeskCommands desk(h.engine->monitor());
    desk.selectSessionRow(0);
    desk.closeSession();  // the window's command

    h.net.setStatus(FakeNetManagement::Op::EnumSessions, {netcode::AccessDenied, "smbstatus only works as root!"});
    h.engine->poll();
    h.engine->poll();
    EngineCounts c = h.engine->counters().read();
    EXPECT_FALSE(c.pollOk);
    h.net.setStatus(FakeNetManagement::Op::EnumSessions, NetStatus::success());
    h.engine->poll();

    c = h.engine->counters().read();
    EXPECT_TRUE(c.pollOk);
    EXPECT_EQ(c.polls, 7u);
    EXPECT_EQ(c.pollErrors, 2u);
    uint64_t durations = 0;
    for (uint64_t n : c.pollDurationBuckets)
        durations += n;
    EXPECT_EQ(durations, 7u);
    using R = CloseReason;
    EXPECT_EQ(c.sessionsClosed[static_cast<std::size_t>(R::BlackList)], 1u);
    EXPECT_EQ(c.sessionsClosed[static_cast<std::size_t>(R::WhiteList)], 1u);
    EXPECT_EQ(c.sessionsClosed[static_cast<std::size_t>(R::User)], 1u);
    EXPECT_EQ(c.sessionsClosed[static_cast<std::size_t>(R::Console)], 0u);
    // One count for each new-user event the log tells of.
    EXPECT_EQ(c.newUsers,
              static_cast<uint64_t>(std::count_if(h.logged.begin(), h.logged.end(), [](const std::string& line) {
                  return line.rfind("new user ", 0) == 0;
              })));
    EXPECT_GE(c.newUsers, 2u);
}

TEST(EngineCounters, PollDurationsFallInTheFirstBucketTheyDoNotExceed)
{
    EngineCounters counters;
    counters.pollDuration(0.01);  // on a bound: that bucket ("le" is inclusive)
    counters.pollDuration(0.0100001);
    counters.pollDuration(1000.0);
    counters.pollDuration(-1.0);
    counters.pollDuration(std::nan(""));
    const EngineCounts c = counters.read();
    EXPECT_EQ(c.pollDurationBuckets[0], 3u);
    EXPECT_EQ(c.pollDurationBuckets[1], 1u);
    EXPECT_EQ(c.pollDurationBuckets.back(), 1u);
    EXPECT_NEAR(c.pollDurationSum, 1000.0200001, 1e-5);
}

TEST(EngineRestart, TheServiceGreetsNobodyTwiceAndCutsNoSessionInTwo)
{
    EngineHarness h;
    h.keepSessions = true;
    h.makeEngine();
    h.settings().mailOnNewUser = 1;
    h.net.addSession("alice", "pc1", {"/srv/a", "/srv/b"});
    h.engine->poll();
    EXPECT_EQ(h.engine->counters().read().newUsers, 1u);

    // A clean restart, then a crash (the engine goes without being stopped).
    h.clock.set(day0 + 30);
    h.engine->stop();
    h.makeEngine();
    h.settings().mailOnNewUser = 1;
    h.engine->poll();
    h.clock.set(day0 + 60);
    h.makeEngine();
    h.settings().mailOnNewUser = 1;
    h.engine->poll();
    EXPECT_EQ(h.engine->counters().read().newUsers, 0u);
    EXPECT_EQ(h.mail.mails.size(), 1u);
    // Whoever comes now is new.
    h.net.addSession("bob", "pc2");
    h.engine->poll();
    EXPECT_EQ(h.engine->counters().read().newUsers, 1u);

    h.net.setSessions({});
    h.clock.set(day0 + 63);
    h.engine->poll();
    h.engine->stop();
    EXPECT_EQ(h.dir.readText("users.log"),
              std::to_string(day0) + " alice pc1 60\n" + std::to_string(day0 + 60) + " bob pc2 0\n");
    const auto history = HistoryData::load(h.dir.path());
    ASSERT_EQ(history.sessions().size(), 2u);
    EXPECT_EQ(history.sessions()[0].fileCount, 2u);
}

TEST(EngineHistoryDays, TrimsBothLogsAtStartAndOnceADay)
{
    EngineHarness h;
    h.historyDays = 90;
    const auto line = [](int64_t t) { return std::to_string(t) + " u pc 5\n"; };
    const auto fileLine = [](int64_t t) { return std::to_string(t) + " u pc /f\n"; };
    const int64_t old = day0 - 91 * 24 * hour, recent = day0 - 89 * 24 * hour;
    h.dir.write("users.log", line(old) + line(recent));
    h.dir.write("files.log", fileLine(old) + fileLine(recent));
    h.makeEngine();
    h.engine->poll();
    EXPECT_EQ(h.dir.readText("users.log"), line(recent) + "\n");
    EXPECT_EQ(h.dir.readText("files.log"), fileLine(recent) + "\n");

    // Within the day nothing is trimmed again; a day later what has grown old since goes.
    ASSERT_TRUE(appendToLog(h.dir.path(), usersLogName, line(old)));
    h.clock.set(day0 + 23 * hour);
    h.engine->poll();
    EXPECT_EQ(h.dir.readText("users.log"), line(recent) + "\n" + line(old));
    h.clock.set(day0 + 24 * hour + 1);
    h.engine->poll();
    EXPECT_EQ(h.dir.readText("users.log"), "");
}
