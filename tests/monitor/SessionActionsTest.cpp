#include "MonitorFixture.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>

using namespace vantor;
using namespace vantor::test;

namespace {

// A path written with '/' in the platform's own separator (the folder is cut at the last one).
std::string native(std::string path)
{
    for (char& c : path)
        if (c == '/')
            c = pathSeparator;
    return path;
}

class SessionActions : public ::testing::Test {
protected:
    void SetUp() override
    {
        h.net.addSession("alice", "pc1", {native("/srv/data/report.doc")});
        h.net.addSession("bob", "pc2", {native("/srv/x")});
        h.monitor.pollSessions();  // rows: bob, alice
    }
    MonitorHarness h;
    SessionMonitor& m = h.monitor;
    DeskCommands desk{h.monitor};
};

TEST_F(SessionActions, AddCommandsWriteTheSelectedNamesConfirmAndReload)
{
    desk.selectSessionRow(1);  // alice
    desk.addToList(ListKind::Black, ListTarget::User);
    desk.addToList(ListKind::Black, ListTarget::Computer);
    desk.addToList(ListKind::White, ListTarget::Both);
    EXPECT_EQ(h.dir.read("blist.dat"), "alice <Any>\n<Any> pc1\n");
    EXPECT_EQ(h.dir.read("wlist.dat"), "alice pc1\n");
    ASSERT_EQ(h.boxes.shown.size(), 3u);
    EXPECT_EQ(h.boxes.shown[0].caption, "alice");
    EXPECT_EQ(h.boxes.shown[0].text, "User alice and computer <Any> has been added to the Black list!");
    EXPECT_EQ(h.boxes.shown[2].text, "User alice and computer pc1 has been added to the White list!");
    EXPECT_EQ(m.blackList().size(), 2u);
    EXPECT_EQ(m.whiteList().size(), 1u);

    m.pollSessions();  // alice is now closed at the poll
    EXPECT_EQ(m.sessionRows().size(), 1u);
    EXPECT_EQ(m.sessionRows()[0].user, "bob");

    // A name with a blank would read back as another user and computer: refused, the file kept.
    h.net.addSession("John Smith", "pc3");
    m.pollSessions();
    desk.selectSessionRow(0);
    desk.addToList(ListKind::Black, ListTarget::User);
    EXPECT_EQ(h.dir.read("blist.dat"), "alice <Any>\n<Any> pc1\n");
    ASSERT_EQ(h.boxes.shown.size(), 4u);
    EXPECT_EQ(h.boxes.shown[3].caption, "Error");
    EXPECT_NE(h.boxes.shown[3].text.find("cannot hold a blank"), std::string::npos);
}

TEST_F(SessionActions, CommandsWithoutASelectionSayWhatIsMissing)
{
    desk.addToList(ListKind::Black, ListTarget::User);
    EXPECT_FALSE(desk.connectToUserTarget());
    EXPECT_FALSE(desk.openFolderTarget());
    desk.closeSession();  // says nothing
    ASSERT_EQ(h.boxes.shown.size(), 3u);
    EXPECT_EQ(h.boxes.shown[0].text, "Select a user!");
    EXPECT_EQ(h.boxes.shown[1].text, "Select a user!");
    EXPECT_EQ(h.boxes.shown[2].text, "Select a file!");
    EXPECT_EQ(h.boxes.shown[2].icon, BoxIcon::Error);
    EXPECT_TRUE(h.net.deleteCalls().empty());
    EXPECT_FALSE(std::filesystem::exists(h.dir / "blist.dat"));
}

TEST_F(SessionActions, CloseSessionPassesTheServerAndEmptiesTheFiles)
{
    desk.clickSessionRow(1);
    ASSERT_EQ(m.openFileRows().size(), 1u);
    desk.closeSession();
    EXPECT_TRUE(m.openFileRows().empty());
    EXPECT_EQ(m.sessionRows().size(), 2u);  // left to the next poll
    auto calls = h.net.deleteCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].user, "alice");
    EXPECT_EQ(calls[0].computer, "pc1");
    EXPECT_FALSE(calls[0].server);

    m.settings.serverName = std::string("srv");
    EXPECT_FALSE(m.closeSessionByName("bob", "pc2").ok());  // unreachable on the fake
    EXPECT_EQ(h.net.deleteCalls().back().server, ServerName{"srv"});
    EXPECT_TRUE(h.boxes.shown.empty());
}

TEST_F(SessionActions, AFailedCloseShowsTheSystemTextAndKeepsTheFiles)
{
    desk.clickSessionRow(0);
    h.net.failNext(FakeNetManagement::Op::DeleteSession, {5, "Access is denied."});
    desk.closeSession();
    ASSERT_EQ(h.boxes.shown.size(), 1u);
    EXPECT_EQ(h.boxes.shown[0].text, "Access is denied.");
    EXPECT_EQ(m.openFileRows().size(), 1u);
}

TEST_F(SessionActions, CloseAllWalksTheShownRows)
{
    desk.clickSessionRow(0);
    std::vector<std::function<void()>> posted;
    m.setGuiPoster([&](std::function<void()> fn) { posted.push_back(std::move(fn)); });
    m.closeAllSessions();
    EXPECT_EQ(h.net.deleteCalls().size(), 2u);
    EXPECT_EQ(m.openFileRows().size(), 1u);  // emptied on the GUI thread, not here
    ASSERT_EQ(posted.size(), 1u);
    posted[0]();
    EXPECT_TRUE(m.openFileRows().empty());

    h.net.setSessions({});
    m.pollSessions();
    m.closeAllSessions();  // an empty table calls nothing
    EXPECT_EQ(h.net.deleteCalls().size(), 2u);
}

TEST_F(SessionActions, TargetsForTheDesktop)
{
    desk.clickSessionRow(1);
    auto computer = desk.connectToUserTarget();
    ASSERT_TRUE(computer);
    EXPECT_EQ(computer->kind, OpenTarget::Kind::Computer);
    EXPECT_EQ(computer->location, "pc1");

    desk.selectFileRow(0);
    auto folder = desk.openFolderTarget();
    ASSERT_TRUE(folder);
    EXPECT_EQ(folder->location, native("/srv/data"));

    h.net.setSessions(
        {{"alice", "pc1", {{1, "nofolder"}}, std::nullopt}, {"x", "y", {{2, native("/top")}}, std::nullopt}});
    m.pollSessions();
    desk.clickSessionRow(1);
    desk.selectFileRow(0);
    EXPECT_FALSE(desk.openFolderTarget());  // no separator
    desk.clickSessionRow(0);
    desk.selectFileRow(0);
    EXPECT_FALSE(desk.openFolderTarget());  // separator is the first character
    EXPECT_TRUE(h.boxes.shown.empty());
}

TEST_F(SessionActions, CloseResourceClosesByIdentifierOrSaysWhy)
{
    desk.clickSessionRow(1);
    desk.selectFileRow(0);
    const uint32_t id = m.openFileRows()[0].id;
    desk.closeResource();
    EXPECT_EQ(h.net.closedFileIds(), (std::vector<uint32_t>{id}));
    EXPECT_TRUE(m.openFileRows().empty());

    desk.clickSessionRow(0);
    desk.selectFileRow(0);
    h.net.failNext(FakeNetManagement::Op::CloseFile, {50, "Closing one file is not supported here."});
    desk.closeResource();
    ASSERT_EQ(h.boxes.shown.size(), 1u);
    EXPECT_EQ(h.boxes.shown[0].text, "Closing one file is not supported here.");
}

}  // namespace
