#include "TempDir.h"
#include "app/CommandLine.h"
#include "platform/Clock.h"
#include "platform/NetManagement.h"
#include "platform/Paths.h"
#include "demo/FakeNetManagement.h"

#include <gtest/gtest.h>

using namespace vantor;

namespace {

TEST(CutUtf8, NeverSplitsASequence)
{
    EXPECT_EQ(cutUtf8("abc", 255), "abc");
    EXPECT_EQ(cutUtf8("abcdef", 3), "abc");
    EXPECT_EQ(cutUtf8("ab\xc3\xa9", 3), "ab");  // 2-byte sequence across the cut
    EXPECT_EQ(cutUtf8("a\xe2\x82\xac", 3), "a");  // 3-byte sequence
    EXPECT_EQ(cutUtf8("a\xe2\x82\xac"
                      "b",
                      4),
              "a\xe2\x82\xac");
    // Bytes that are no UTF-8 are cut where the limit says, never down to an empty name.
    EXPECT_EQ(cutUtf8(std::string(300, '\x80'), 255), std::string(255, '\x80'));
    EXPECT_EQ(cutUtf8("ab" + std::string(300, '\xbf'), 255), "ab" + std::string(253, '\xbf'));
    EXPECT_EQ(cutUtf8("\xf0\x9f\x98\x80x", 2), "");
}

TEST(Paths, BareNamesLieInTheDataDirectory)
{
    EXPECT_EQ(resolveInDataDir("/data", "report.html"), std::filesystem::path("/data/report.html"));
    const std::string path = std::string("www") + pathSeparator + "hist.htm";
    EXPECT_EQ(resolveInDataDir("/data", path), std::filesystem::path(path));
}

TEST(Paths, EnsureDirectoryMakesParentsAndRefusesFiles)
{
    vantor::test::TempDir dir;
    EXPECT_TRUE(ensureDirectory(dir / "a" / "b"));
    dir.write("file", "x");
    EXPECT_FALSE(ensureDirectory(dir / "file"));
}

TEST(CommandLine, ParsesTheOptionsAndRefusesTheRest)
{
    auto r = parseCommandLine({"--samba-config", "/etc/x.conf", "--data-dir=/d", "--demo"});
    EXPECT_TRUE(r.error.empty());
    EXPECT_EQ(r.options.sambaConfig, "/etc/x.conf");
    EXPECT_EQ(r.options.dataDir, "/d");
    EXPECT_TRUE(r.options.demo);
    EXPECT_FALSE(parseCommandLine({"--data-dir"}).error.empty());
    EXPECT_FALSE(parseCommandLine({"--bogus"}).error.empty());
    EXPECT_FALSE(parseCommandLine({"--data-dir="}).error.empty());
}

TEST(FakeScenario, ClientsComeAndGoWithTheClock)
{
    ManualClock clock(1000);
    FakeNetManagement net;
    net.playScenario(demoScenario(), clock, true);
    std::vector<NetSessionInfo> sessions;
    ASSERT_TRUE(net.enumSessions({}, sessions).ok());
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(sessions[0].user, "alice");
    clock.advance(20);
    net.enumSessions({}, sessions);
    EXPECT_EQ(sessions.size(), 3u);
    clock.advance(200);  // past the end: the scenario starts over
    net.enumSessions({}, sessions);
    EXPECT_LE(sessions.size(), 1u);
}

}  // namespace
