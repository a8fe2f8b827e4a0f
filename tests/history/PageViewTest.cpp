// What the web page reads over the bus: the history's filters, order and files of a session, the
// sessions table as one JSON text and its changes; and polkit's yes as the service keeps it.

#include "TempDir.h"
#include "bus/AuthorizationCache.h"
#include "bus/PageView.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fstream>
#include <map>

using namespace vantor;
using namespace vantor::bus;

namespace {

std::vector<std::string> users(const HistoryData& data, const std::vector<std::size_t>& kept)
{
    std::vector<std::string> out;
    for (std::size_t i : kept)
        out.push_back(data.sessions()[i].user + "@" + data.sessions()[i].computer);
    return out;
}

const HistoryData data = HistoryData::fromText("1000 alice PC1 /docs/a.txt\n"
                                               "1010 alice PC1 /docs/b.txt\n"
                                               "1500 alice PC1 /docs/late.txt\n"
                                               "2005 bob Lab /docs/c.txt\n",
                                               "1000 alice PC1 100\n"
                                               "2000 bob Lab 50\n"
                                               "3000 Carol pc1 10\n"
                                               "4000 dave Other 100\n");

}  // namespace

TEST(PageView, FiltersByNameInAnyCaseAndByStartBothEndsIncluded)
{
    HistoryQuery q;
    // Newest line first, as the history window lists them.
    EXPECT_EQ(users(data, historySessions(data, q)),
              (std::vector<std::string>{"dave@Other", "Carol@pc1", "bob@Lab", "alice@PC1"}));
    q.text = "pC1";
    EXPECT_EQ(users(data, historySessions(data, q)), (std::vector<std::string>{"Carol@pc1", "alice@PC1"}));
    q.text = "CAROL";
    EXPECT_EQ(users(data, historySessions(data, q)), (std::vector<std::string>{"Carol@pc1"}));
    q.text.clear();
    q.from = 2000;
    q.to = 3000;
    EXPECT_EQ(users(data, historySessions(data, q)), (std::vector<std::string>{"Carol@pc1", "bob@Lab"}));
}

TEST(PageView, SortsByValueAndKeepsTiesNewestFirst)
{
    HistoryQuery q;
    ASSERT_FALSE(readHistoryQuery({{"sort", "duration"}, {"order", "desc"}}, q));
    // alice and dave both lasted 100 s: dave's line is the newer.
    EXPECT_EQ(users(data, historySessions(data, q)),
              (std::vector<std::string>{"dave@Other", "alice@PC1", "bob@Lab", "Carol@pc1"}));
    ASSERT_FALSE(readHistoryQuery({{"sort", "files"}, {"order", "asc"}}, q));
    // Files counted by the reader: alice 2 (1500 is past her window), bob 1, the others none.
    EXPECT_EQ(users(data, historySessions(data, q)),
              (std::vector<std::string>{"dave@Other", "Carol@pc1", "bob@Lab", "alice@PC1"}));

    const auto files = historySessionFiles(data, "alice", "PC1", 1000, 100);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(data.files()[files[1]].path, "/docs/b.txt");
    EXPECT_TRUE(historySessionFiles(data, "alice", "pc1", 1000, 100).empty());
}

TEST(PageView, RefusesAFilterItCannotRead)
{
    HistoryQuery q;
    EXPECT_TRUE(readHistoryQuery({{"from", "yesterday"}}, q));
    EXPECT_TRUE(readHistoryQuery({{"to", "12x"}}, q));
    EXPECT_TRUE(readHistoryQuery({{"sort", "size"}}, q));
    EXPECT_TRUE(readHistoryQuery({{"order", "up"}}, q));
    EXPECT_TRUE(readHistoryQuery({{"colour", "red"}}, q));
    EXPECT_FALSE(readHistoryQuery({{"from", "-5"}, {"text", ""}}, q));
    EXPECT_EQ(q.from, -5);
}

TEST(PageView, MakesEveryTextABusStringAndKeepsGoodOnes)
{
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_EQ(validUtf8("Jürgen 日本 \xF0\x9F\x98\x80"), "Jürgen 日本 \xF0\x9F\x98\x80");
    EXPECT_EQ(validUtf8("a\xFF"
                        "b"),
              "a" + replacement + "b");
    EXPECT_EQ(validUtf8("\xC3"), replacement);  // cut short
    EXPECT_EQ(validUtf8("\xC0\xAF"), replacement + replacement);  // overlong '/'
    EXPECT_EQ(validUtf8("\xED\xA0\x80"), replacement + replacement + replacement);  // a surrogate
    EXPECT_EQ(validUtf8(std::string("a\0b", 3)), "a" + replacement + "b");  // sd-bus refuses NUL
}

TEST(PageView, TheCacheLoadsAgainOnlyWhenALogChanged)
{
    test::TempDir dir;
    std::ofstream(dir.path() / usersLogName) << "1000 alice PC1 100\n";
    HistoryCache cache;
    const HistoryPtr first = cache.get(dir.path());
    ASSERT_EQ(first->sessions().size(), 1u);
    EXPECT_EQ(cache.get(dir.path()), first);
    std::ofstream(dir.path() / usersLogName, std::ios::app) << "2000 bob Lab 50\n";
    EXPECT_EQ(cache.get(dir.path())->sessions().size(), 2u);
    std::ofstream(dir.path() / filesLogName) << "2001 bob Lab /docs/c.txt\n";
    EXPECT_EQ(cache.get(dir.path())->sessions()[1].fileCount, 1u);
}

TEST(PageView, TheTableAsJsonKeepsEveryFieldAndSurvivesBadBytes)
{
    SessionsSnapshot snap;
    SessionEntry known{"alice", "PC1", 2, {}};
    known.details.connectedAt = 1'760'000'000;
    known.details.shares = {"docs", "home"};
    known.details.dialect = "SMB3_11";
    known.details.processId = 4242;
    known.details.channels = 2;
    SessionEntry odd{"b\xFFob", "10.0.0.2", 0, {}};
    snap.rows = {known, odd};
    snap.currentSessionsCount = 2;
    snap.openFilesTotal = 2;
    const auto json = nlohmann::json::parse(sessionsJson(snap));
    EXPECT_EQ(json["current"], 2);
    EXPECT_EQ(json["files"], 2);
    ASSERT_EQ(json["rows"].size(), 2u);
    const auto& a = json["rows"][0];
    EXPECT_EQ(a[0], "alice");
    EXPECT_EQ(a[2], 2);
    EXPECT_EQ(a[3][0], 1'760'000'000);
    EXPECT_TRUE(a[3][1].is_null());  // idle time unknown
    EXPECT_EQ(a[3][2], (std::vector<std::string>{"docs", "home"}));
    EXPECT_EQ(a[3][3], "SMB3_11");
    EXPECT_EQ(a[3][6], 4242);
    EXPECT_TRUE(a[3][7].is_null());
    EXPECT_EQ(a[3][8], 2);
    EXPECT_TRUE(json["rows"][1][3][8].is_null());
    EXPECT_EQ(json["rows"][1][0], "b\xEF\xBF\xBDob");
}

namespace {

SessionEntry row(std::string user, std::string computer, uint32_t files)
{
    return SessionEntry{std::move(user), std::move(computer), files, {}};
}

// The table a page holds after it took `change` on top of `base`, in the JSON the rows come as,
// keyed by user and computer.
std::map<std::string, nlohmann::json> applied(const SessionsSnapshot& base, const nlohmann::json& change)
{
    std::map<std::string, nlohmann::json> table;
    const auto key = [](const nlohmann::json& user, const nlohmann::json& computer) {
        return user.get<std::string>() + "\n" + computer.get<std::string>();
    };
    const auto held = nlohmann::json::parse(sessionsJson(base));
    if (!change["full"].get<bool>())
        for (const auto& r : held["rows"])
            table[key(r[0], r[1])] = r;
    for (const auto& gone : change.value("removed", nlohmann::json::array()))
        table.erase(key(gone[0], gone[1]));
    for (const auto& r : change.contains("changed") ? change["changed"] : change["rows"])
        table[key(r[0], r[1])] = r;
    return table;
}

}  // namespace

TEST(PageView, AChangeHoldsOnlyTheRowsThatCameChangedOrWentAndMakesTheNewTable)
{
    SessionsSnapshot before;
    before.rows = {row("alice", "PC1", 1), row("bob", "PC2", 0), row("carol", "PC3", 4), row("alice", "PC4", 0)};
    SessionsSnapshot after;
    after.rows = {row("alice", "PC1", 1), row("bob", "PC2", 3), row("dave", "PC5", 0), row("alice", "PC4", 0)};
    after.rows[3].details.dialect = "SMB3_11";  // a detail alone is a change too
    after.currentSessionsCount = 4;
    after.openFilesTotal = 4;

    const auto change = nlohmann::json::parse(sessionsChangeJson(&before, after, "v2"));
    EXPECT_EQ(change["version"], "v2");
    EXPECT_FALSE(change["full"].get<bool>());
    EXPECT_EQ(change["current"], 4);
    EXPECT_EQ(change["files"], 4);
    std::vector<std::string> changed;
    for (const auto& r : change["changed"])
        changed.push_back(r[0].get<std::string>() + "@" + r[1].get<std::string>());
    EXPECT_EQ(changed, (std::vector<std::string>{"bob@PC2", "dave@PC5", "alice@PC4"}));
    EXPECT_EQ(change["removed"], nlohmann::json::parse(R"([["carol", "PC3"]])"));
    const auto full = nlohmann::json::parse(sessionsChangeJson(nullptr, after, "v2"));
    EXPECT_TRUE(full["full"].get<bool>());
    EXPECT_EQ(applied(before, change), applied(before, full));
    // Nothing changed: nothing comes.
    const auto same = nlohmann::json::parse(sessionsChangeJson(&after, after, "v2"));
    EXPECT_TRUE(same["changed"].empty() && same["removed"].empty());

    // A user and computer on two rows cannot be told apart by a change: the whole table goes.
    SessionsSnapshot twice = after;
    twice.rows.push_back(row("bob", "PC2", 1));
    EXPECT_TRUE(nlohmann::json::parse(sessionsChangeJson(&after, twice, "v3"))["full"].get<bool>());
    EXPECT_EQ(nlohmann::json::parse(sessionsChangeJson(&twice, after, "v4"))["rows"].size(), 4u);
}

TEST(PageView, TheJournalKeepsTheLastStatesUnderVersionsOfThisRunOnly)
{
    SessionsJournal journal(2), restarted(2);
    EXPECT_EQ(journal.newest(), nullptr);
    auto state = [](uint32_t n) {
        auto s = std::make_shared<SessionsSnapshot>();
        s->currentSessionsCount = n;
        return SessionsSnapshotPtr(s);
    };
    const std::string v1 = journal.record(state(1)).version;
    const std::string v2 = journal.record(state(2)).version;
    EXPECT_NE(v1, v2);
    ASSERT_NE(journal.find(v1), nullptr);
    EXPECT_EQ(journal.find(v1)->snapshot->currentSessionsCount, 1u);
    journal.record(state(3));
    EXPECT_EQ(journal.find(v1), nullptr);  // no longer kept: the page gets the whole table
    EXPECT_EQ(journal.find(v2)->snapshot->currentSessionsCount, 2u);
    EXPECT_EQ(journal.newest()->snapshot->currentSessionsCount, 3u);
    // A page that held a version of the service's last run is not answered with a change to it.
    EXPECT_NE(restarted.record(state(9)).version.substr(0, 16), v1.substr(0, 16));
    EXPECT_EQ(restarted.find(v1), nullptr);
    EXPECT_EQ(journal.find(""), nullptr);
}

TEST(AuthorizationCache, KeepsAYesForItsCallerAndActionAWhileAndDropsThemAllWhenPolkitChanges)
{
    using Clock = AuthorizationCache::Clock;
    const Clock::time_point t0 = Clock::now();
    AuthorizationCache cache(std::chrono::seconds(5));
    EXPECT_FALSE(cache.allowed(":1.5", "view", t0));
    cache.remember(":1.5", "view", cache.generation(), t0);
    EXPECT_TRUE(cache.allowed(":1.5", "view", t0 + std::chrono::seconds(4)));
    EXPECT_FALSE(cache.allowed(":1.5", "view", t0 + std::chrono::seconds(5)));  // asked again
    EXPECT_FALSE(cache.allowed(":1.6", "view", t0));
    EXPECT_FALSE(cache.allowed(":1.5", "manage", t0));

    cache.clear();  // polkit's rules changed
    EXPECT_FALSE(cache.allowed(":1.5", "view", t0));
    // A yes polkit gave before its change but that came after it is not kept.
    const uint64_t asked = cache.generation();
    cache.clear();
    cache.remember(":1.5", "view", asked, t0);
    EXPECT_FALSE(cache.allowed(":1.5", "view", t0));
    cache.remember(":1.5", "view", cache.generation(), t0);
    EXPECT_TRUE(cache.allowed(":1.5", "view", t0));

    // Without polkit's announcements nothing is kept.
    cache.disable();
    cache.remember(":1.5", "view", cache.generation(), t0);
    EXPECT_FALSE(cache.allowed(":1.5", "view", t0));
}
