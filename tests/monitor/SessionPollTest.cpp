#include "MonitorFixture.h"

#include <gtest/gtest.h>

#include <functional>

using namespace vantor;
using namespace vantor::test;

namespace {

using Users = std::vector<std::string>;

class SessionPoll : public ::testing::Test {
protected:
    MonitorHarness h;
    SessionMonitor& m = h.monitor;
};

TEST_F(SessionPoll, RowsAreShownInReverseEnumerationOrderWithTotals)
{
    h.net.addSession("alice", "pc1", {"/a", "/b"});
    h.net.addSession("bob", "pc2", {"/c"});
    h.net.addSession("carol", "pc3");
    m.pollSessions();

    EXPECT_EQ(h.rowUsers(), (Users{"carol", "bob", "alice"}));
    ASSERT_EQ(m.currentSessions().size(), 3u);
    EXPECT_EQ(m.currentSessions()[0].user, "alice");  // enumeration order is kept here
    EXPECT_EQ(m.openFilesTotal(), 3u);
    EXPECT_EQ(m.sessionRows()[2].openFiles, 2u);
    EXPECT_TRUE(h.boxes.shown.empty());

    auto snap = m.snapshot();
    EXPECT_EQ(snap->rows, m.sessionRows());
    EXPECT_EQ(snap->currentSessionsCount, 3u);
    EXPECT_EQ(snap->openFilesTotal, 3u);
}

TEST_F(SessionPoll, DisplayFiltersHideRowsButKeepTheSessions)
{
    h.net.addSession("alice", "127.0.0.1", {"/a"});
    h.net.addSession("bob", "127.0.0.10");  // merely begins with 127.0.0.1
    h.net.addSession("", "pc9", {"/x", "/y"});
    h.net.addSession("dave", "pc4");
    h.net.addSession("dave", "pc4");  // the same pair twice: two rows
    h.net.addSession("erin", "::1");  // this computer over IPv6
    h.net.addSession("fred", "::10");
    m.settings.hideLocalUsers = 1;
    m.settings.hideSystemRequests = 1;
    m.pollSessions();

    EXPECT_EQ(h.rowUsers(), (Users{"fred", "dave", "dave", "bob"}));
    EXPECT_EQ(m.currentSessions().size(), 7u);
    EXPECT_EQ(m.openFilesTotal(), 3u);
    EXPECT_EQ(m.snapshot()->currentSessionsCount, 7u);

    m.settings.hideLocalUsers = 0;
    m.settings.hideSystemRequests = 0;
    m.pollSessions();
    EXPECT_EQ(m.sessionRows().size(), 7u);
}

TEST_F(SessionPoll, BlackListedSessionsAreClosedAndLeftOut)
{
    h.dir.write("blist.dat", "<any> pc7\n");
    m.loadAccessLists();
    h.net.addSession("alice", "PC7", {"/a", "/b"});
    h.net.addSession("bob", "pc8", {"/c"});
    m.pollSessions();

    EXPECT_EQ(h.rowUsers(), (Users{"bob"}));
    EXPECT_EQ(m.openFilesTotal(), 1u);
    auto calls = h.net.deleteCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].user, "alice");
    EXPECT_EQ(calls[0].computer, "PC7");
    EXPECT_FALSE(calls[0].server.has_value());
    EXPECT_EQ(h.mail.mails.size(), 0u);
}

TEST_F(SessionPoll, AFailedCloseIsTriedAgainAtTheNextPoll)
{
    h.dir.write("blist.dat", "alice <Any>\n");
    m.loadAccessLists();
    h.net.addSession("alice", "pc1");
    h.net.setStatus(FakeNetManagement::Op::DeleteSession, {5, "Access is denied."});
    m.pollSessions();
    m.pollSessions();
    EXPECT_EQ(h.net.deleteCalls().size(), 2u);
    EXPECT_TRUE(m.sessionRows().empty());
    EXPECT_TRUE(h.boxes.shown.empty());  // closing rejected sessions is silent
}

TEST_F(SessionPoll, WhiteListModeClosesEveryUnlistedSession)
{
    m.settings.useBlackList = 0;
    h.net.addSession("alice", "pc1");
    h.net.addSession("bob", "pc2");
    m.pollSessions();  // empty white list: everything goes
    EXPECT_EQ(h.net.deleteCalls().size(), 2u);
    EXPECT_TRUE(m.sessionRows().empty());

    h.net.addSession("alice", "pc1");
    h.net.addSession("bob", "pc2");
    h.dir.write("wlist.dat", "ALICE <any>\n");
    m.loadAccessLists();
    m.pollSessions();
    EXPECT_EQ(h.rowUsers(), (Users{"alice"}));
}

// What waits on the service or a mail server leaves the poll: the poll is applied at once, and the
// closes (all of one poll together) and the mails run afterwards, in the order they were raised.
TEST_F(SessionPoll, ClosesAndMailsRunAfterThePollInOrder)
{
    std::vector<std::function<void()>> queued;
    m.setBackgroundRunner([&](std::function<void()> work, std::function<void()> then) {
        queued.push_back([work, then] {
            work();
            if (then)
                then();
        });
    });
    std::vector<std::string> sent;
    struct Recording final : MailSender {
        explicit Recording(std::vector<std::string>& to)
            : subjects(to)
        {
        }
        void sendMail(const MailRelay&, const std::string&, const std::string&, const std::string& subject,
                      const std::string&) override
        {
            subjects.push_back(subject);
        }
        std::vector<std::string>& subjects;
    } mail(sent);
    m.setMailSender(&mail);
    m.settings.mailOnNewUser = 1;
    h.dir.write("blist.dat", "<any> bad1\n<any> bad2\n");
    m.loadAccessLists();
    h.net.addSession("x", "bad1");
    h.net.addSession("alice", "pc1", {"/a"});
    h.net.addSession("y", "bad2");
    h.net.addSession("bob", "pc2");
    m.pollSessions();

    EXPECT_EQ(h.rowUsers(), (Users{"bob", "alice"}));
    EXPECT_TRUE(h.net.deleteCalls().empty());
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(h.net.callCount(FakeNetManagement::Op::EnumFiles), 0);
    for (auto& job : queued)
        job();
    ASSERT_EQ(h.net.deleteCalls().size(), 2u);
    EXPECT_EQ(h.net.deleteCalls()[0].user, "x");
    EXPECT_EQ(h.net.deleteCalls()[1].user, "y");
    EXPECT_EQ(sent, (std::vector<std::string>{"Vantor: new user - alice", "Vantor: new user - bob"}));

    // "Close session" likewise: the box of a failed close comes after the close has been tried.
    queued.clear();
    h.boxes.shown.clear();
    DeskCommands(m).selectSessionRow(0);
    h.net.setStatus(FakeNetManagement::Op::DeleteSession, {5, "Access is denied."});
    DeskCommands(m).closeSession();
    EXPECT_TRUE(h.boxes.shown.empty());
    ASSERT_EQ(queued.size(), 1u);
    queued[0]();
    ASSERT_EQ(h.boxes.shown.size(), 1u);
    EXPECT_EQ(h.boxes.shown[0].text, "Access is denied.");
}

// The service takes an empty user name as every user: closing such a session by name would end
// every session of its computer, white-listed ones included.
TEST_F(SessionPoll, ASessionWithoutAUserIsNeverClosedByName)
{
    m.settings.useBlackList = 0;
    h.dir.write("wlist.dat", "alice pc1\n");
    m.loadAccessLists();
    h.net.addSession("alice", "pc1");
    h.net.addSession("", "pc1");
    h.net.addSession("mallory", "pc1");
    m.pollSessions();
    ASSERT_EQ(h.net.deleteCalls().size(), 1u);
    EXPECT_EQ(h.net.deleteCalls()[0].user, "mallory");
    EXPECT_EQ(h.rowUsers(), (Users{"alice"}));
    EXPECT_EQ(m.closeSessionByName("", "pc1").code, netcode::InvalidParameter);

    m.settings.useBlackList = 1;
    m.pollSessions();
    ASSERT_EQ(h.rowUsers(), (Users{"", "alice"}));
    m.closeAllSessions();
    ASSERT_EQ(h.net.deleteCalls().size(), 2u);
    EXPECT_EQ(h.net.deleteCalls()[1].user, "alice");
    DeskCommands(m).selectSessionRow(0);
    DeskCommands(m).closeSession();
    EXPECT_EQ(h.net.deleteCalls().size(), 2u);
    ASSERT_EQ(h.boxes.shown.size(), 1u);
    EXPECT_NE(h.boxes.shown[0].text.find("every session of computer pc1"), std::string::npos);
}

TEST_F(SessionPoll, SelectionFollowsTheIndexNotTheSession)
{
    h.net.addSession("alice", "pc1", {"/alice-file"});
    h.net.addSession("bob", "pc2", {"/bob-file"});
    h.net.addSession("carol", "pc3", {"/carol-file"});
    h.inspector.regularFiles = {"/alice-file", "/bob-file", "/carol-file", "/dave-file"};
    m.pollSessions();
    DeskCommands(m).clickSessionRow(2);  // alice, at the bottom
    EXPECT_EQ(h.filePaths(), (Users{"/alice-file"}));

    h.net.addSession("dave", "pc4", {"/dave-file"});  // comes in at the top
    m.pollSessions();
    ASSERT_EQ(m.selectedSessionRow(), 2);
    EXPECT_EQ(m.sessionRows()[2].user, "bob");
    EXPECT_EQ(h.filePaths(), (Users{"/bob-file"}));
}

TEST_F(SessionPoll, ASelectionPastTheEndIsDroppedAndTheFilesAreKept)
{
    for (auto u : {"a", "b", "c", "d"})
        h.net.addSession(u, "pc", {std::string("/") + u});
    m.pollSessions();
    DeskCommands(m).clickSessionRow(3);
    EXPECT_EQ(h.filePaths(), (Users{"/a"}));

    auto sessions = h.net.sessions();
    sessions.erase(sessions.begin());
    h.net.setSessions(sessions);
    m.pollSessions();
    EXPECT_FALSE(m.selectedSessionRow().has_value());
    EXPECT_EQ(h.filePaths(), (Users{"/a"}));
}

TEST_F(SessionPoll, NoSelectionLeavesTheFilesTableAlone)
{
    h.net.addSession("a", "pc", {"/a"});
    m.pollSessions();
    const int enumFilesBefore = h.net.callCount(FakeNetManagement::Op::EnumFiles);
    m.pollSessions();
    // Only the new-user event of the first poll listed files; the second poll touched nothing.
    EXPECT_EQ(h.net.callCount(FakeNetManagement::Op::EnumFiles), enumFilesBefore);
    EXPECT_TRUE(m.openFileRows().empty());
}

TEST_F(SessionPoll, NoSessionsEmptiesBothTables)
{
    h.net.addSession("a", "pc", {"/a"});
    m.pollSessions();
    DeskCommands(m).clickSessionRow(0);
    ASSERT_EQ(m.openFileRows().size(), 1u);
    h.net.setSessions({});
    m.pollSessions();
    EXPECT_TRUE(m.sessionRows().empty());
    EXPECT_TRUE(m.openFileRows().empty());
    EXPECT_FALSE(m.selectedSessionRow().has_value());
}

TEST_F(SessionPoll, AFailedPollKeepsTheRowsAndFallsBackToThisComputer)
{
    h.net.addSession("local", "pc1");
    m.pollSessions();
    h.net.setServerSessions("srv", {{"remote", "pc9", {}, 4}});
    m.setRemoteServer("srv");
    EXPECT_EQ(m.captionText(), "Current sessions: (server:srv)");
    EXPECT_EQ(h.rowUsers(), (Users{"remote"}));

    m.setRemoteServer("nowhere");
    ASSERT_EQ(h.boxes.shown.size(), 1u);
    EXPECT_EQ(h.boxes.shown[0].caption, "Error");
    EXPECT_EQ(h.boxes.shown[0].icon, BoxIcon::Information);
    EXPECT_NE(h.boxes.shown[0].text.find("nowhere"), std::string::npos);
    // The empty table must not pass for a quiet server.
    EXPECT_EQ(m.captionText(), "Current sessions: (the poll failed)");
    EXPECT_EQ(m.lastPollError(), h.boxes.shown[0].text);
    EXPECT_TRUE(m.settings.serverName.empty());
    EXPECT_EQ(h.rowUsers(), (Users{"remote"}));  // the rows of the poll before
    EXPECT_TRUE(m.currentSessions().empty());
    EXPECT_EQ(m.snapshot()->currentSessionsCount, 0u);

    m.pollSessions();  // the next tick polls this computer, without a box
    EXPECT_EQ(h.rowUsers(), (Users{"local"}));
    EXPECT_EQ(m.captionText(), "Current sessions:");
    EXPECT_EQ(h.boxes.shown.size(), 1u);
}

TEST_F(SessionPoll, AnEmptyServerNamePollsThisComputer)
{
    h.net.addSession("local", "pc1");
    m.setRemoteServer("");
    EXPECT_EQ(m.captionText(), "Current sessions:");
    EXPECT_EQ(h.rowUsers(), (Users{"local"}));
    EXPECT_TRUE(h.boxes.shown.empty());
}

TEST_F(SessionPoll, AServerNameThatCannotBeOneIsRefused)
{
    m.setRemoteServer(std::string(300, 'x'));
    m.setRemoteServer(std::string("bad\xff", 4));
    ASSERT_EQ(h.boxes.shown.size(), 2u);
    EXPECT_EQ(h.boxes.shown[0].icon, BoxIcon::Error);
    EXPECT_TRUE(m.settings.serverName.empty());
    EXPECT_EQ(h.net.callCount(FakeNetManagement::Op::EnumSessions), 0);
}

// A box of the poll runs a nested event loop; a tick that arrives meanwhile must be dropped.
class ReentrantBoxes final : public MessageBoxes {
public:
    BoxAnswer show(const BoxRequest& r) override
    {
        shown.push_back(r);
        if (monitor)
            monitor->pollSessions();
        return BoxAnswer::Ok;
    }
    SessionMonitor* monitor = nullptr;
    std::vector<BoxRequest> shown;
};

TEST(SessionPollReentry, ATickDuringAnErrorBoxIsDropped)
{
    TempDir dir;
    FakeNetManagement net;
    ReentrantBoxes boxes;
    ManualClock clock;
    SessionMonitor m({net, boxes, clock, dir.path(), nullptr});
    boxes.monitor = &m;
    net.setStatus(FakeNetManagement::Op::EnumSessions, {5, "Access is denied."});
    m.pollSessions();
    EXPECT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(net.callCount(FakeNetManagement::Op::EnumSessions), 1);
    EXPECT_FALSE(m.pollInProgress());
}

TEST_F(SessionPoll, NamesAreCutAt255BytesWithoutSplittingACharacter)
{
    std::string longName(254, 'a');
    longName += "\xc3\xa9";  // é across the 255-byte boundary
    h.net.addSession(longName, "pc");
    m.pollSessions();
    ASSERT_EQ(m.sessionRows().size(), 1u);
    EXPECT_EQ(m.sessionRows()[0].user, std::string(254, 'a'));
}

}  // namespace

// The window fetches the files off the GUI thread: the poll must then leave the refresh to it,
// after the rows are rebuilt, and only while a row is selected.
TEST_F(SessionPoll, ARefresherTakesOverTheFilesRefreshOfThePoll)
{
    h.net.addSession("alice", "pc1", {"/alice-file"});
    h.net.addSession("bob", "pc2", {"/bob-file"});
    std::vector<std::string> asked;
    m.setOpenFilesRefresher(
        [&] { asked.push_back(m.sessionRows()[static_cast<std::size_t>(*m.selectedSessionRow())].user); });
    m.pollSessions();
    EXPECT_TRUE(asked.empty());
    DeskCommands(m).selectSessionRow(1);
    m.pollSessions();
    EXPECT_EQ(asked, (Users{"alice"}));
    EXPECT_EQ(h.net.callCount(FakeNetManagement::Op::EnumFiles), 0);
    EXPECT_TRUE(m.openFileRows().empty());
}
