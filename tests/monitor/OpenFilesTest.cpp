#include "MonitorFixture.h"

#include <gtest/gtest.h>

using namespace vantor;
using namespace vantor::test;

namespace {

using Paths = std::vector<std::string>;

TEST(OpenFiles, ReverseOrderWithIdentifiersAndIcons)
{
    MonitorHarness h;
    h.net.addSession("alice", "pc1", {"/srv/A.txt", "/srv/dir", "/srv/C.odt"});
    h.inspector.regularFiles = {"/srv/A.txt", "/srv/C.odt"};
    h.monitor.pollSessions();
    DeskCommands(h.monitor).clickSessionRow(0);

    const auto& rows = h.monitor.openFileRows();
    ASSERT_EQ(h.filePaths(), (Paths{"/srv/C.odt", "/srv/dir", "/srv/A.txt"}));
    EXPECT_EQ(rows[2].imageIndex, 0);  // the first enumerated file carries image 0
    EXPECT_EQ(rows[0].imageIndex, 2);
    EXPECT_EQ(rows[1].icon, FileIconKind::Folder);
    EXPECT_EQ(rows[0].icon, FileIconKind::FileType);
    const auto expectedIds = h.net.sessions()[0].files;
    EXPECT_EQ(rows[2].id, expectedIds[0].id);
    EXPECT_EQ(rows[0].id, expectedIds[2].id);
}

TEST(OpenFiles, AUserFilterListsTheFilesOfEverySessionOfThatUser)
{
    MonitorHarness h;
    h.net.addSession("alice", "pc1", {"/one"});
    h.net.addSession("bob", "pc2", {"/bob"});
    h.net.addSession("alice", "pc3", {"/two"});
    h.monitor.pollSessions();
    DeskCommands(h.monitor).clickSessionRow(0);  // alice on pc3
    EXPECT_EQ(h.filePaths(), (Paths{"/two", "/one"}));
}

TEST(OpenFiles, AUserWithoutFilesEmptiesTheTable)
{
    MonitorHarness h;
    h.net.addSession("alice", "pc1", {"/one"});
    h.net.addSession("bob", "pc2");
    h.monitor.pollSessions();
    DeskCommands(h.monitor).clickSessionRow(1);
    ASSERT_EQ(h.monitor.openFileRows().size(), 1u);
    DeskCommands(h.monitor).clickSessionRow(0);
    EXPECT_TRUE(h.monitor.openFileRows().empty());
}

TEST(OpenFiles, FailureShowsTheErrorAndKeepsTheRows)
{
    MonitorHarness h;
    h.net.addSession("alice", "pc1", {"/one"});
    h.monitor.pollSessions();
    DeskCommands(h.monitor).clickSessionRow(0);
    h.net.failNext(FakeNetManagement::Op::EnumFiles, {5, "Access is denied."});
    DeskCommands(h.monitor).clickSessionRow(0);
    ASSERT_EQ(h.boxes.shown.size(), 1u);
    EXPECT_EQ(h.boxes.shown[0].text, "Access is denied.");
    EXPECT_EQ(h.boxes.shown[0].caption, "Error");
    EXPECT_EQ(h.filePaths(), (Paths{"/one"}));
}

TEST(OpenFiles, KeyboardSelectionWaitsForTheNextPoll)
{
    MonitorHarness h;
    h.net.addSession("alice", "pc1", {"/one"});
    h.net.addSession("bob", "pc2", {"/two"});
    h.monitor.pollSessions();
    DeskCommands(h.monitor).selectSessionRow(0);
    EXPECT_TRUE(h.monitor.openFileRows().empty());
    h.monitor.pollSessions();
    EXPECT_EQ(h.filePaths(), (Paths{"/two"}));
}

TEST(OpenFiles, ListOpenFilesAsksThisComputerAndNeverFails)
{
    MonitorHarness h;
    h.net.addSession("alice", "pc1", {"/a", "/b"});
    h.net.setServerSessions("srv", {{"alice", "x", {{9, "/remote"}}, std::nullopt}});
    h.monitor.settings.serverName = std::string("srv");
    EXPECT_EQ(h.monitor.listOpenFiles("alice"), (Paths{"/a", "/b"}));
    h.net.failNext(FakeNetManagement::Op::EnumFiles, {5, "Access is denied."});
    EXPECT_TRUE(h.monitor.listOpenFiles("alice").empty());
    EXPECT_TRUE(h.boxes.shown.empty());
}

TEST(OpenFiles, RealInspectorTellsFoldersFilesAndMissingPaths)
{
    TempDir dir;
    dir.write("doc.txt", "x");
    LocalFileInspector inspector;
    EXPECT_TRUE(inspector.isDirectoryOrUnreadable(dir.path().string()));
    EXPECT_FALSE(inspector.isDirectoryOrUnreadable((dir / "doc.txt").string()));
    EXPECT_TRUE(inspector.isDirectoryOrUnreadable((dir / "missing.txt").string()));
}

}  // namespace
