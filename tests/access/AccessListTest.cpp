#include "FaultInjection.h"
#include "TempDir.h"
#include "base/AccessList.h"

#include "platform/SystemText.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace vantor;

namespace {

AccessList read(const std::string& text)
{
    std::istringstream in(text);
    return readAccessList(in);
}

TEST(AccessListFile, ReadsTwoTokensUpperCasedAndSkipsShortLines)
{
    auto list = read("guest <any>\n  <Any>\tpc7 trailing words\n\n onlyone\nAdmin Ws-1\r\n");
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0], (AccessEntry{"GUEST", "<ANY>"}));
    EXPECT_EQ(list[1], (AccessEntry{"<ANY>", "PC7"}));
    EXPECT_EQ(list[2], (AccessEntry{"ADMIN", "WS-1"}));
}

TEST(AccessListFile, OnlyAsciiLettersAreUpperCased)
{
    auto list = read(toSystemText("j\xc3\xa9r\xc3\xb4me") + " pc\n");
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].user, "J\xc3\xa9R\xc3\xb4ME");
}

TEST(AccessListFile, OverlongLinesAndNamesAreBounded)
{
    std::string longName(2000, 'a');
    auto list = read(longName + " pc\nbob pc2\n");
    // The first 1,023 bytes hold a single token (no entry); the rest of the line reads as its own
    // line, whose over-long name is cut at 255 bytes.
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0], (AccessEntry{std::string(255, 'A'), "PC"}));
    EXPECT_EQ(list[1], (AccessEntry{"BOB", "PC2"}));
    auto entry = parseAccessLine(std::string(300, 'x') + " y");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->user.size(), 255u);
}

TEST(AccessListFile, AppendWritesTheCaseGivenAndMissingFilesAreEmpty)
{
    vantor::test::TempDir dir;
    EXPECT_TRUE(loadAccessListFile(dir / "none.dat").empty());
    ASSERT_TRUE(appendAccessListLine(dir / "b.dat", "Alice", "<Any>"));
    ASSERT_TRUE(appendAccessListLine(dir / "b.dat", "Alice", "<Any>"));
    EXPECT_EQ(dir.read("b.dat"), "Alice <Any>\nAlice <Any>\n");
    EXPECT_FALSE(appendAccessListLine(dir / "no-such-dir" / "b.dat", "a", "b"));
}

TEST(AccessListFile, LinksPlantedInTheDataFolderAreNeverWrittenThrough)
{
    if (!vantor::test::faultsCanBeInjected())
        GTEST_SKIP() << "no symbolic links here";
    vantor::test::TempDir dir, other;
    other.write("passwd", "root:x:0:0");
    std::filesystem::create_symlink(other / "passwd", dir / "w.dat");
    std::filesystem::create_symlink(other / "passwd", dir / "w.dat.new");
    EXPECT_FALSE(appendAccessListLine(dir / "w.dat", "evil", "pc"));
    ASSERT_TRUE(writeAccessListFile(dir / "w.dat", {{"Bob", "PC2"}}));
    EXPECT_EQ(dir.read("w.dat"), "Bob PC2\n");
    EXPECT_EQ(other.read("passwd"), "root:x:0:0");
}

TEST(MustCloseSession, BlackListMode)
{
    const AccessList black = read("<Any> PC7\nguest <aNy>\n");
    EXPECT_TRUE(mustCloseSession(black, {}, true, "whoever", "pc7"));
    EXPECT_TRUE(mustCloseSession(black, {}, true, "Guest", "anywhere"));
    EXPECT_FALSE(mustCloseSession(black, {}, true, "alice", "pc8"));
    EXPECT_FALSE(mustCloseSession({}, {}, true, "alice", "pc8"));
    EXPECT_FALSE(mustCloseSession(black, {}, true, "alice", "pc7x"));  // exact, not a prefix
    EXPECT_TRUE(mustCloseSession(read("<Any> <Any>\n"), {}, true, "", ""));
}

TEST(MustCloseSession, WhiteListMode)
{
    const AccessList white = read("alice <any>\n<ANY> server1\n");
    EXPECT_TRUE(mustCloseSession({}, {}, false, "alice", "pc1"));  // empty white list closes all
    EXPECT_FALSE(mustCloseSession({}, white, false, "ALICE", "pc1"));
    EXPECT_FALSE(mustCloseSession({}, white, false, "bob", "Server1"));
    EXPECT_TRUE(mustCloseSession({}, white, false, "bob", "pc1"));
    // The black list is not consulted in white-list mode.
    EXPECT_FALSE(mustCloseSession(read("alice <any>\n"), white, false, "alice", "pc1"));
}

TEST(AccessListFile, ABlankInANameSplitsIt)
{
    vantor::test::TempDir dir;
    appendAccessListLine(dir / "b.dat", "John Smith", "pc1");
    auto list = loadAccessListFile(dir / "b.dat");
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0], (AccessEntry{"JOHN", "SMITH"}));
}

}  // namespace
