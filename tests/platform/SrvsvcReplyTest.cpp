// The reader of the srvsvc helper's answers: what the backend takes from it, and what it refuses.

#include "platform/samba/SrvsvcReply.h"

#include <gtest/gtest.h>

using namespace vantor;
using namespace vantor::samba;

namespace {

TEST(SrvsvcReply, ReadsSessionsFilesAndFailures)
{
    auto r = parseSrvsvcReply(R"({"ok": true, "sessions": [{"user": "ann", "computer": "PC1", "opens": 3,
        "connected_at": 1800000000, "idle": 75, "shares": ["docs", "", 7, "media"]}, {"user": "", "computer": "10.0.0.2",
        "opens": 0, "idle": -1, "connected_at": -2494967295, "shares": "docs"}]})");
    ASSERT_TRUE(r.ok()) << r.error;
    ASSERT_EQ(r.value.sessions.size(), 2u);
    EXPECT_EQ(r.value.sessions[0].user, "ann");
    EXPECT_EQ(r.value.sessions[0].openFiles, 3u);
    EXPECT_EQ(r.value.sessions[0].details.connectedAt, 1800000000);
    EXPECT_EQ(r.value.sessions[0].details.idleSeconds, 75);
    EXPECT_EQ(r.value.sessions[0].details.shares, (std::vector<std::string>{"docs", "media"}));
    // Details of another shape are left out, the session kept.
    EXPECT_EQ(r.value.sessions[1].user, "");
    EXPECT_FALSE(r.value.sessions[1].details.connectedAt);
    EXPECT_FALSE(r.value.sessions[1].details.idleSeconds);
    EXPECT_TRUE(r.value.sessions[1].details.shares.empty());

    r = parseSrvsvcReply(R"({"ok": true, "files": [{"id": 4294967295, "path": "C:\\d\\caf\u00e9.txt", "user": "x"}]})");
    ASSERT_TRUE(r.ok()) << r.error;
    ASSERT_EQ(r.value.files.size(), 1u);
    EXPECT_EQ(r.value.files[0].id, 4294967295u);
    EXPECT_EQ(r.value.files[0].path, "C:\\d\\caf\xc3\xa9.txt");

    r = parseSrvsvcReply(R"({"ok": true, "shares": [{"name": "docs", "path": "C:\\srv\\docs"}, {"name": "x"}]})");
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.value.shares, (std::vector<NetShareInfo>{{"docs", "C:\\srv\\docs"}, {"x", ""}}));

    // Long names are cut as every name of the service is, never inside a character.
    const std::string longName(300, 'n');
    r = parseSrvsvcReply(R"({"ok":true,"sessions":[{"user":")" + longName + R"(","computer":"c","opens":1}]})");
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.value.sessions[0].user.size(), 255u);

    r = parseSrvsvcReply(R"({"ok": false, "error": {"kind": "werror", "code": 5, "name": "WERR_ACCESS_DENIED",
        "message": "WERR_ACCESS_DENIED", "account": "ann"}})");
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_FALSE(r.value.ok);
    EXPECT_EQ(r.value.error.kind, "werror");
    EXPECT_EQ(r.value.error.code, 5u);
    EXPECT_EQ(r.value.error.account, "ann");
}

TEST(SrvsvcReply, RefusesWhatIsNotAnAnswer)
{
    for (const char* bad : {"",
                            "  \n",
                            "Traceback (most recent call last):",
                            "[]",
                            "{}",
                            R"({"ok": "yes"})",
                            R"({"ok": false})",
                            R"({"ok": false, "error": {"code": 5}})",
                            R"({"ok": false, "error": {"kind": ""}})",
                            R"({"ok": true, "sessions": {}})",
                            R"({"ok": true, "sessions": [1]})",
                            R"({"ok": true, "shares": [{"path": "C:\\x"}]})",
                            R"({"ok": true, "shares": {}})",
                            R"({"ok": true, "sessions": [{"user": "a", "computer": "b"}]})",
                            R"({"ok": true, "sessions": [{"user": "a", "computer": "b", "opens": -1}]})",
                            R"({"ok": true, "sessions": [{"user": "a", "computer": "b", "opens": 4294967296}]})",
                            R"({"ok": true, "sessions": [{"user": 7, "computer": "b", "opens": 1}]})",
                            R"({"ok": true, "files": [{"id": 1.5, "path": "p"}]})",
                            R"({"ok": true, "files": [{"id": 1}]})",
                            R"({"ok": true, "sessions": [{"user": "a", "computer": "b", "opens": 1}]} trailing)"}) {
        auto r = parseSrvsvcReply(bad);
        EXPECT_FALSE(r.ok()) << bad;
        EXPECT_FALSE(r.error.empty()) << bad;
        EXPECT_TRUE(r.value.sessions.empty() && r.value.files.empty()) << bad;
    }
}

}  // namespace
