#include "FaultInjection.h"
#include "FakeAutostart.h"
#include "MonitorFixture.h"
#include "options/OptionsCommand.h"

#include <gtest/gtest.h>

using namespace vantor;
using vantor::test::FakeAutostart;
using vantor::test::MonitorHarness;

namespace {

OptionsValue defaults()
{
    return optionsFromSettings(MonitorSettings{});
}

TEST(AccessListRows, ShowsTheFileBottomUpAndSavesInTableOrder)
{
    MonitorHarness h;
    h.dir.write("wlist.dat", "Alice pc1\nbob <Any>\n<any> Server3\n");
    AccessListRows rows;
    rows.readFile(h.dir / "wlist.dat");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows.rows()[0], (AccessRow{"<any>", "Server3"}));  // case as written
    EXPECT_EQ(rows.rows()[2], (AccessRow{"Alice", "pc1"}));

    rows.addAtTop("Carol", "pc9");
    ASSERT_TRUE(rows.save(h.dir / "wlist.dat"));
    EXPECT_EQ(h.dir.read("wlist.dat"), "Carol pc9\n<any> Server3\nbob <Any>\nAlice pc1\n");

    // Reading the saved file again reverses it once more: every OK flips the file's order.
    rows.readFile(h.dir / "wlist.dat");
    EXPECT_EQ(rows.rows()[0], (AccessRow{"Alice", "pc1"}));
    EXPECT_EQ(rows.rows()[3], (AccessRow{"Carol", "pc9"}));

    // What a list handed over as lines makes of its rows is what the file would: names with a
    // blank split, a row of two empty names gone.
    AccessListRows odd;
    odd.setFileLines({{"a", "b"}, {"c", "d"}});
    EXPECT_EQ(odd.rows()[0], (AccessRow{"c", "d"}));
    odd.addAtTop("", "");
    odd.addAtTop("two words", "pc");
    EXPECT_EQ(odd.fileLines(), (std::vector<AccessRow>{{"two", "words"}, {"c", "d"}, {"a", "b"}}));

    rows.remove(7);
    rows.remove(-1);
    EXPECT_EQ(rows.size(), 4u);
    rows.remove(0);
    EXPECT_EQ(rows.rows()[0], (AccessRow{"bob", "<Any>"}));
    rows.clear();
    EXPECT_TRUE(rows.empty());

    rows.readFile(h.dir / "missing.dat");
    EXPECT_TRUE(rows.empty());
}

TEST(AccessListRows, AnEmptyNameSurvivesARoundTripInItsColumn)
{
    MonitorHarness h;
    AccessListRows rows;
    rows.addAtTop("", "PC7");
    rows.addAtTop("guest", "");
    rows.addAtTop("John Smith", "pc1");  // taken as typed; the blank splits it on reading
    ASSERT_TRUE(rows.save(h.dir / "blist.dat"));
    EXPECT_EQ(h.dir.read("blist.dat"), "John Smith pc1\nguest \n PC7\n");

    AccessListRows again;
    again.readFile(h.dir / "blist.dat");
    ASSERT_EQ(again.size(), 3u);
    EXPECT_EQ(again.rows()[0], (AccessRow{"", "PC7"}));
    EXPECT_EQ(again.rows()[1], (AccessRow{"guest", ""}));
    EXPECT_EQ(again.rows()[2], (AccessRow{"John", "Smith"}));

    // The enforced list has no entry for a line with a single name.
    h.monitor.loadAccessLists();
    EXPECT_EQ(h.monitor.blackList().size(), 1u);
}

TEST(AccessListRows, ASaveThatCannotBeWrittenKeepsTheOldFile)
{
    MonitorHarness h;
    AccessListRows rows;
    rows.addAtTop("a", "b");
    EXPECT_FALSE(rows.save(h.dir / "no-such-dir" / "blist.dat"));
    if (!vantor::test::faultsCanBeInjected())
        return;
    // A full disk: the list keeps its old contents.
    h.dir.write("blist.dat", "old pc\n");
    vantor::test::DiskFull full(h.dir.path());
    EXPECT_FALSE(rows.save(h.dir / "blist.dat"));
    EXPECT_EQ(h.dir.read("blist.dat"), "old pc\n");
}

TEST(OptionsChecks, FirstFailureInOrderWithItsText)
{
    EXPECT_EQ(firstFailingCheck(defaults()), std::nullopt);

    struct Case {
        const char* what;
        int32_t index;
        const char* path;
        const char* time;
        std::optional<std::string> expected;
    } cases[] = {
        {"separator 3", 3, "report.html", "23:59", optionsText::wrongReportLimit},
        {"separator 7 wins over the path", 7, "", "8:30", optionsText::wrongReportLimit},
        {"no selection passes", -1, "report.html", "23:59", std::nullopt},
        {"empty path", 0, "", "8:30", optionsText::noReportName},
        {"upper-case extension", 0, "/tmp/REPORT.HTML", "23:59", optionsText::reportNotHtml},
        {".htm anywhere", 0, "report.htm.bak", "23:59", std::nullopt},
        {"colon second", 0, "report.html", "8:30", optionsText::wrongTime},
        {"nothing else of the time", 0, "report.html", "99:99", std::nullopt},
        {"too short", 0, "report.html", "08", optionsText::wrongTime},
        {"empty time", 0, "report.html", "", optionsText::wrongTime},
    };
    for (const auto& c : cases) {
        OptionsValue v = defaults();
        v.settings.reportLimitIndex = c.index;
        v.settings.reportPath = c.path;
        v.settings.dailyReportTime = c.time;
        v.settings.reportLimit = 0;  // the limit is checked even when it is not switched on
        v.settings.dailyReport = 0;  // the time too
        EXPECT_EQ(firstFailingCheck(v), c.expected) << c.what;
    }
}

struct AcceptFixture : ::testing::Test {
    MonitorHarness h;
    FakeAutostart autostart;
    int owner = 0;

    bool accept(const OptionsValue& v, bool launch)
    {
        return acceptOptions(v, launch, {h.boxes, autostart, "/opt/vantor/bin/vantor", &owner});
    }
};

TEST_F(AcceptFixture, ListFilesAreWrittenEvenWhenACheckKeepsTheWindowOpen)
{
    h.dir.write("wlist.dat", "old old\n");
    h.dir.write("blist.dat", "old old\n");
    OptionsValue v = defaults();
    v.whiteList.addAtTop("alice", "<Any>");
    v.blackList.addAtTop("<Any>", "PC7");
    v.settings.dailyReportTime = "8:30";
    v.settings.hideLocalUsers = 1;

    OptionsCloser closer(defaults());
    EXPECT_FALSE(closer.ok(v, true, {h.boxes, autostart, "/opt/vantor/bin/vantor", &owner}));
    // Closed now, the window hands back the lists of that OK and the settings it was given.
    EXPECT_EQ(closer.result().closed, OptionsClosed::ListsAccepted);
    EXPECT_FALSE(storeOptions(h.monitor, closer.result(), {}));
    EXPECT_EQ(h.dir.read("wlist.dat"), "alice <Any>\n");
    EXPECT_EQ(h.dir.read("blist.dat"), "<Any> PC7\n");
    EXPECT_EQ(h.monitor.settings.hideLocalUsers, 0);
    ASSERT_EQ(h.boxes.shown.size(), 1u);
    EXPECT_EQ(h.boxes.shown[0].caption, "Error");
    EXPECT_EQ(h.boxes.shown[0].text, optionsText::wrongTime);
    EXPECT_EQ(h.boxes.shown[0].icon, BoxIcon::Error);
    EXPECT_EQ(h.boxes.shown[0].owner, &owner);
    EXPECT_TRUE(autostart.calls.empty());  // a stopped OK touches no autostart entry
    // Lists stored alone are not reloaded: the enforced ones stay until an OK goes through.
    EXPECT_TRUE(h.monitor.blackList().empty());
}

TEST_F(AcceptFixture, EmptyWhiteListWarnsThenGoesOn)
{
    OptionsValue v = defaults();
    v.settings.useBlackList = 0;
    EXPECT_TRUE(accept(v, false));
    ASSERT_EQ(h.boxes.shown.size(), 1u);
    EXPECT_EQ(h.boxes.shown[0].caption, "Warning");
    EXPECT_EQ(h.boxes.shown[0].text, optionsText::whiteListEmpty);
    EXPECT_EQ(h.boxes.shown[0].icon, BoxIcon::Warning);
    EXPECT_EQ(autostart.calls, std::vector<std::string>{"disable"});

    // The warning comes before a blocking check, and neither is shown for the black list.
    h.boxes.shown.clear();
    v.settings.reportPath = "report.txt";
    EXPECT_FALSE(accept(v, false));
    ASSERT_EQ(h.boxes.shown.size(), 2u);
    EXPECT_EQ(h.boxes.shown[1].text, optionsText::reportNotHtml);

    h.boxes.shown.clear();
    v.whiteList.addAtTop("a", "b");
    v.settings.reportPath = "report.html";
    EXPECT_TRUE(accept(v, false));
    EXPECT_TRUE(h.boxes.shown.empty());
}

TEST(OptionsCommand, CopiesBackInOrderAroundTheReloadAndTheTrim)
{
    MonitorHarness h;
    h.dir.write("wlist.dat", "alice <Any>\n");
    OptionsValue seen;
    bool listsReloadedBeforeTrim = false;
    std::vector<int32_t> trims;
    OptionsValue edited;
    std::optional<OptionsValue> saved;

    OptionsValue v = optionsOf(h.monitor);
    EXPECT_EQ(v.settings, defaults().settings);  // the sixteen values came in
    EXPECT_EQ(v.whiteList.rows(), (std::vector<AccessRow>{{"alice", "<Any>"}}));
    v.settings.hideLocalUsers = 1;
    v.settings.beepOnNewUser = 1;
    v.settings.reportLimit = 1;
    v.settings.reportLimitIndex = 8;
    v.settings.reportPath = "/srv/week.html";
    v.settings.logOpenedFiles = 0;
    v.settings.useBlackList = 0;
    v.settings.mailAddress = "ops@example.org";
    v.settings.dailyReportTime = "07:00";
    v.settings.smtpPort = 465;
    v.settings.smtpSecurity = SmtpSecurity::Tls;
    v.settings.smtpUser = "ops";
    v.settings.smtpPasswordFile = "/root/smtp-password";
    v.settings.smtpCertFingerprint = "00:11";
    v.whiteList.addAtTop("bob", "PC2");
    edited = v;
    bool accepted = storeOptions(
        h.monitor, {OptionsClosed::Accepted, v},
        [&](int32_t index) {
            trims.push_back(index);
            seen = optionsFromSettings(h.monitor.settings);
            listsReloadedBeforeTrim = h.monitor.whiteList().size() == 2;
        },
        [&] { saved = optionsFromSettings(h.monitor.settings); });

    ASSERT_TRUE(accepted);
    EXPECT_EQ(trims, std::vector<int32_t>{8});
    // At the trim: the first group and the report group are back, the rest is not yet.
    EXPECT_EQ(seen.settings.hideLocalUsers, 1);
    EXPECT_EQ(seen.settings.beepOnNewUser, 1);
    EXPECT_EQ(seen.settings.reportPath.get(), "/srv/week.html");
    EXPECT_EQ(seen.settings.logOpenedFiles, 1);
    EXPECT_EQ(seen.settings.useBlackList, 1);
    EXPECT_EQ(seen.settings.mailAddress, defaults().settings.mailAddress);
    EXPECT_TRUE(listsReloadedBeforeTrim);
    EXPECT_EQ(h.monitor.settings, edited.settings);
    EXPECT_EQ(h.dir.read("wlist.dat"), "bob PC2\nalice <Any>\n");
    // Saved last, with every step done: what the next start loads is what is in force.
    EXPECT_EQ(saved->settings, edited.settings);
}

TEST(OptionsCommand, TrimsOnlyWithTheLimitOnAndAChoiceMade)
{
    for (auto [limit, index, expected] : {std::tuple{0, 4, 0}, std::tuple{1, -1, 0}, std::tuple{1, 0, 1}}) {
        MonitorHarness h;
        int trims = 0;
        OptionsValue v = optionsOf(h.monitor);
        v.settings.reportLimit = limit;
        v.settings.reportLimitIndex = index;
        storeOptions(h.monitor, {OptionsClosed::Accepted, v}, [&](int32_t) { ++trims; });
        EXPECT_EQ(trims, expected) << limit << " " << index;
        EXPECT_EQ(h.monitor.settings.reportLimitIndex, index);
    }
}

}  // namespace
