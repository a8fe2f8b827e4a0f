#include "platform/samba/SmbStatusParser.h"
#include "monitor/DetailsText.h"
#include "platform/samba/SambaNetManagement.h"

#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

using namespace vantor::samba;

namespace {

// Recorded from a private smbd: two users, three connections (one from 127.0.0.2), five paths.
std::string recorded()
{
    std::ifstream in(VANTOR_TEST_DATA "/samba/smbstatus-small.json", std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

const std::string root = "/tmp/vantor-smbd-FJKbOc/shares/docs/";

TEST(SmbStatusParser, ReadsARecordedDocumentInItsOrder)
{
    const std::string doc = recorded();
    ASSERT_FALSE(doc.empty());
    auto r = parseSmbStatusJson(doc);
    ASSERT_TRUE(r.ok()) << r.error;
    ASSERT_EQ(r.value.sessions.size(), 3u);
    EXPECT_EQ(r.value.sessions[0].user, "vtann_17372_0");
    EXPECT_EQ(r.value.sessions[0].remoteMachine, "127.0.0.2");
    EXPECT_EQ(r.value.sessions[0].pid, 17402);
    EXPECT_EQ(r.value.sessions[0].uid, 1001);
    EXPECT_EQ(r.value.sessions[1].remoteMachine, "127.0.0.1");
    EXPECT_EQ(r.value.sessions[2].user, "vtben_17372_1");
    EXPECT_EQ(r.value.sessions[2].pid, 17400);

    // The key of "open_files" is the full path; a path opened twice gives two opens.
    std::vector<std::tuple<std::string, int32_t, uint32_t>> opens;
    for (const auto& o : r.value.opens)
        opens.emplace_back(o.path, o.pid, o.shareFileId);
    EXPECT_EQ(opens, (std::vector<std::tuple<std::string, int32_t, uint32_t>>{{root + "projects/plan.txt", 17402, 3},
                                                                              {root + "projects", 17398, 11},
                                                                              {root + "minutes 2024.docx", 17400, 5},
                                                                              {root + "budget.xlsx", 17400, 9},
                                                                              {root + "budget.xlsx", 17398, 5},
                                                                              {root + "caf\xc3\xa9.txt", 17398, 9}}));
    EXPECT_EQ(sessionOfOpens(r.value), (std::vector<int>{0, 1, 2, 2, 1, 1}));
}

TEST(SmbStatusParser, EveryTruncationIsAnErrorNotACrash)
{
    const std::string doc = recorded();
    for (std::size_t n = 0; n < doc.size(); ++n) {
        auto r = parseSmbStatusJson(std::string_view(doc).substr(0, n));
        // Only the final newline may go.
        if (n + 1 < doc.size()) {
            ASSERT_FALSE(r.ok()) << "accepted the first " << n << " bytes";
        }
        if (!r.ok()) {
            ASSERT_TRUE(r.value.sessions.empty() && r.value.opens.empty());
        }
    }
}

TEST(SmbStatusParser, MissingOpenFilesMeansNoOpens)
{
    // What a lock directory no client ever used gives.
    auto r = parseSmbStatusJson(R"({"timestamp":"t","sessions":{},"tcons":{}})");
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_TRUE(r.value.opens.empty());
    r = parseSmbStatusJson(R"({"sessions":{},"open_files":null})");
    EXPECT_TRUE(r.ok()) << r.error;
    r = parseSmbStatusJson(R"({"sessions":{},"open_files":{"/a":{"service_path":"/"}}})");
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_TRUE(r.value.opens.empty());
}

TEST(SmbStatusParser, WrongShapesOfTheDocumentAreErrorsThatSayWhat)
{
    struct Case {
        std::string doc;
        std::string mention;
    } cases[] = {
        {"[]", "not a JSON object"},
        {"", "not valid JSON"},
        {"{\"sessions\":{}} trailing", "not valid JSON"},
        {R"({"timestamp":"t"})", "no \"sessions\""},
        {R"({"sessions":[]})", "\"sessions\" of the document is not an object"},
        {R"({"sessions":{},"open_files":[]})", "\"open_files\" of the document is not an object"},
        // An escape that is no character at all is not JSON; bytes that are not UTF-8 are a
        // record's fault (below).
        {R"({"sessions":{"1":{"username":"\ud800","remote_machine":"m","server_id":{"pid":5}}}})", "not valid JSON"},
    };
    for (const auto& c : cases) {
        auto r = parseSmbStatusJson(c.doc);
        ASSERT_FALSE(r.ok()) << c.doc;
        EXPECT_NE(r.error.find(c.mention), std::string::npos) << c.doc << " -> " << r.error;
    }
}

// One record that cannot be read is left out and named; the records around it are read all the
// same, and the cause, which the journal tells once, does not name the record.
TEST(SmbStatusParser, ARecordThatCannotBeReadIsLeftOutAndTheRestIsRead)
{
    const std::string session = R"("username":"u","remote_machine":"1.2.3.4")";
    const std::string good = R"("9":{"username":"keep","remote_machine":"m","server_id":{"pid":"9"}})";
    const std::string goodFile = R"("/k":{"opens":{"9/1":{"server_id":{"pid":"9"},"share_file_id":"1"}}})";
    struct Case {
        std::string sessions;  // a session entry, or empty
        std::string files;  // an open_files entry, or empty
        std::string mention;
        std::string kind;
    } cases[] = {
        {R"("1":"x")", "", "session 1 is not an object", "a session"},
        {R"("1":["x"])", "", "session 1 is not an object", "a session"},
        {R"("1":{"remote_machine":"m","server_id":{"pid":"5"}})", "", "no \"username\"", "a session"},
        {R"("1":{"username":7,"remote_machine":"m","server_id":{"pid":"5"}})", "",
         "\"username\" of session 1 is not a text", "a session"},
        {R"("1":{"username":{"a":[1]},"remote_machine":"m","server_id":{"pid":"5"}})", "", "is not a text",
         "a session"},
        {"\"1\":{" + session + "}", "", "no \"server_id\"", "a session"},
        {"\"1\":{" + session + R"(,"server_id":{"pid":true}})", "", "neither a number nor a text", "a session"},
        {"\"1\":{" + session + R"(,"server_id":{"pid":"12x"}})", "", "not a number", "a session"},
        {"\"1\":{" + session + R"(,"server_id":{"pid":"-3"}})", "", "not a number", "a session"},
        {"\"1\":{" + session + R"(,"server_id":{"pid":"99999999999"}})", "", "out of range", "a session"},
        {"\"1\":{" + session + R"(,"server_id":{"pid":0}})", "", "is 0", "a session"},
        {"\"1\":{" + session + R"(,"server_id":{"pid":5},"uid":"x"})", "", "uid", "a session"},
        {"\"1\":{\"username\":\"a\xff\",\"remote_machine\":\"m\",\"server_id\":{\"pid\":5}}", "", "not valid UTF-8",
         "a session"},
        {"", R"("/a":{"opens":[]})", "\"opens\" of open file /a", "an open file"},
        {"", "\"/a\xc0\":{\"opens\":{}}", "not valid UTF-8", "an open file"},
        {"", R"("/a":{"opens":{"5/1":{"server_id":{"pid":"5"}}}})", "no \"share_file_id\"", "an open"},
        {"", R"("/a":{"opens":{"5/1":{"server_id":{"pid":"5"},"share_file_id":"4294967296"}}})", "out of range",
         "an open"},
    };
    for (const auto& c : cases) {
        const std::string doc = "{\"sessions\":{" + (c.sessions.empty() ? "" : c.sessions + ",") + good
                                + "},\"open_files\":{" + (c.files.empty() ? "" : c.files + ",") + goodFile + "}}";
        auto r = parseSmbStatusJson(doc);
        ASSERT_TRUE(r.ok()) << doc << " -> " << r.error;
        ASSERT_EQ(r.value.skipped.size(), 1u) << doc;
        EXPECT_NE(r.value.skipped[0].text.find(c.mention), std::string::npos)
            << doc << " -> " << r.value.skipped[0].text;
        EXPECT_NE(r.value.skipped[0].cause.find(c.kind), std::string::npos) << r.value.skipped[0].cause;
        ASSERT_EQ(r.value.sessions.size(), 1u) << doc;
        EXPECT_EQ(r.value.sessions[0].user, "keep");
        ASSERT_EQ(r.value.opens.size(), 1u) << doc;
        EXPECT_EQ(r.value.opens[0].path, "/k");
    }
    // The good open of a file beside a broken one stays.
    auto r = parseSmbStatusJson(R"({"sessions":{},"open_files":{"/a":{"opens":{
        "5/1":{"server_id":{"pid":"5"},"share_file_id":"x"},"5/2":{"server_id":{"pid":"5"},"share_file_id":"2"}}}}})");
    ASSERT_TRUE(r.ok()) << r.error;
    ASSERT_EQ(r.value.opens.size(), 1u);
    EXPECT_EQ(r.value.opens[0].shareFileId, 2u);
}

TEST(SmbStatusParser, NumbersAndTextsBothServeAsIdsAndNamesAreCut)
{
    std::string user;
    for (int i = 0; i < 150; ++i)
        user += "\xc3\xa9";  // 300 bytes of two-byte letters
    nlohmann::json doc = {
        {"sessions",
         {{"7", {{"username", user}, {"remote_machine", "::1"}, {"server_id", {{"pid", 42}}}, {"uid", 1000}}}}},
        {"open_files",
         {{"/srv/" + std::string(300, 'p'),
           {{"opens", {{"42/1", {{"server_id", {{"pid", "42"}}}, {"share_file_id", 4294967295u}}}}}}}}}};
    auto r = parseSmbStatusJson(doc.dump());
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.value.sessions[0].user.size(), 254u);
    EXPECT_EQ(r.value.sessions[0].pid, 42);
    EXPECT_EQ(r.value.opens[0].path.size(), 255u);
    EXPECT_EQ(r.value.opens[0].shareFileId, 4294967295u);
    EXPECT_FALSE(r.value.opens[0].uid.has_value());
}

TEST(SmbStatusParser, OneProcessServingSeveralSessionsSplitsItsOpensByUid)
{
    auto r = parseSmbStatusJson(R"({"sessions":{
        "1":{"username":"ann","remote_machine":"10.0.0.1","server_id":{"pid":"100"},"uid":1001},
        "2":{"username":"ben","remote_machine":"10.0.0.1","server_id":{"pid":"100"},"uid":1002},
        "3":{"username":"cat","remote_machine":"10.0.0.2","server_id":{"pid":"200"},"uid":1003}},
      "open_files":{
        "/s/a":{"opens":{"100/1":{"server_id":{"pid":"100"},"uid":1002,"share_file_id":"1"},
                         "100/2":{"server_id":{"pid":"100"},"uid":1001,"share_file_id":"2"}}},
        "/s/b":{"opens":{"100/3":{"server_id":{"pid":"100"},"share_file_id":"3"},
                         "300/1":{"server_id":{"pid":"300"},"uid":1003,"share_file_id":"1"},
                         "200/1":{"server_id":{"pid":"200"},"uid":9,"share_file_id":"1"}}}}})");
    ASSERT_TRUE(r.ok()) << r.error;
    // uid decides; without one the first session of the process; an unknown process: no session.
    EXPECT_EQ(sessionOfOpens(r.value), (std::vector<int>{1, 0, 0, -1, 2}));
}

// The text listing of the opens, as smbstatus writes it while its JSON listing fails: every
// column read, a line that cannot be read left out and named, the rest kept.
TEST(SmbStatusLocksText, ReadsTheOpensAndTheirLocksAndLeavesOutWhatItCannotRead)
{
    const std::string text =
        "\nLocked files:\n"
        "Pid          User(ID)   DenyMode   Access      R/W        Oplock           SharePath   Name   Time\n"
        "--------------------------------------------------------------------------------------------------\n"
        "21109        1001       DENY_NONE  0x1f01ff    RDWR       NONE             /srv/my docs   a b.txt   Wed Dec  "
        "9 04:07:17 2026\n"
        "21109        1001       DENY_WRITE 0x100081    RDONLY     LEASE(RWH)       /srv/my docs   dir   Wed Dec  9 "
        "04:07:18 2026\n"
        "0:777        1002       DENY_ALL   0x2         WRONLY     EXCLUSIVE+BATCH  /srv/x   .   Thu Jan  1 00:00:00 "
        "1970\n"
        "garbage\n"
        "21110        1001       DENY_NONE  0x3         RDWR       NONE             /srv/x   \xff.txt   Wed Dec  9 "
        "04:07:18 2026\n"
        "21111        1001       DENY_NONE  0x3         RDWR       NONE             /srv/x   c.txt   yesterday\n"
        "\nByte range locks:\n"
        "Pid        dev:inode       R/W  start     size      SharePath               Name\n"
        "--------------------------------------------------------------------------------\n"
        "21109      2049:1234       W    0         10        /srv/my docs            a b.txt\n"
        "21109      2049:1234       R    20        4         /srv/my docs            a b.txt\n"
        "4242       2049:1235       R    0         1         /srv/other              z.txt\n";
    // The local time of smbstatus, given here as UTC plus one hour.
    auto r = parseSmbStatusLocksText(text, [](const std::tm& t) -> std::optional<int64_t> {
        std::tm copy = t;
        return static_cast<int64_t>(timegm(&copy)) - 3600;
    });
    ASSERT_TRUE(r.ok()) << r.error;
    const auto& opens = r.value.opens;
    ASSERT_EQ(opens.size(), 3u);
    EXPECT_EQ(opens[0].pid, 21109);
    EXPECT_EQ(opens[0].uid, 1001);
    EXPECT_EQ(opens[0].path, "/srv/my docs/a b.txt");
    EXPECT_EQ(opens[0].servicePath, "/srv/my docs");
    EXPECT_EQ(opens[0].filename, "a b.txt");
    EXPECT_TRUE(opens[0].read && opens[0].write);
    EXPECT_TRUE(opens[0].shareRead && opens[0].shareWrite);
    EXPECT_FALSE(opens[0].hasShareFileId);
    EXPECT_EQ(opens[0].openedAt, 1796789237 - 3600);
    EXPECT_EQ(opens[0].locks, 2u);
    EXPECT_TRUE(opens[1].read);
    EXPECT_FALSE(opens[1].write);
    EXPECT_TRUE(opens[1].shareRead);
    EXPECT_FALSE(opens[1].shareWrite);
    EXPECT_EQ(opens[1].lease, "RWH");
    EXPECT_EQ(opens[1].locks, 0u);
    // A cluster's "vnn:pid"; the share's own folder is named by the folder's path.
    EXPECT_EQ(opens[2].pid, 777);
    EXPECT_EQ(opens[2].path, "/srv/x");
    EXPECT_FALSE(opens[2].read);
    EXPECT_TRUE(opens[2].write);
    EXPECT_FALSE(opens[2].shareRead || opens[2].shareWrite);
    EXPECT_EQ(opens[2].oplock, "EXCLUSIVE+BATCH");
    ASSERT_EQ(r.value.skipped.size(), 4u);
    EXPECT_NE(r.value.skipped[0].text.find("line 8"), std::string::npos) << r.value.skipped[0].text;
    EXPECT_NE(r.value.skipped[1].cause.find("UTF-8"), std::string::npos);
    EXPECT_NE(r.value.skipped[2].cause.find("SHAREPATH   NAME   TIME"), std::string::npos);
    EXPECT_NE(r.value.skipped[3].cause.find("no open names"), std::string::npos);

    EXPECT_TRUE(parseSmbStatusLocksText("\nNo locked files\n\n").value.opens.empty());
    for (std::size_t cut = 0; cut < text.size(); cut += 7)
        (void)parseSmbStatusLocksText(text.substr(0, cut));
}

// Samba 4.22 tells when a session began and over how many channels it runs.
TEST(SmbStatusParser, ReadsTheFieldsOfSamba422)
{
    std::ifstream in(VANTOR_TEST_DATA "/samba/smbstatus-4.22.json");
    std::stringstream doc;
    doc << in.rdbuf();
    auto r = parseSmbStatusJson(doc.str());
    ASSERT_TRUE(r.ok()) << r.error;
    ASSERT_EQ(r.value.sessions.size(), 3u);
    EXPECT_TRUE(r.value.skipped.empty());
    const SmbSession& bob = r.value.sessions[1];
    EXPECT_EQ(bob.user, "vtbob");
    EXPECT_EQ(bob.createdAt, parseSambaTime("2026-12-09T04:23:07+00:00"));
    EXPECT_EQ(bob.channels, 1u);
    EXPECT_EQ(bob.encryption, "AES-128-GCM (partial)");
    EXPECT_EQ(bob.signing, "AES-128-GMAC (full)");
    EXPECT_EQ(r.value.sessions[0].dialect, "NT1");
    EXPECT_EQ(r.value.opens.size(), 4u);
    // The session's own start, not its first tree connect's (40 ms later), and its channels.
    const SmbStatusIndex index(r.value);
    EXPECT_EQ(index.detailsOf(1).connectedAt, bob.createdAt);
    EXPECT_EQ(vantor::sessionDetailText(index.detailsOf(1), vantor::SessionDetailColumn::Protocol, 0),
              "SMB3_11, 1 channel");

    auto anonymous = parseSmbStatusJson(R"({"sessions":{"1":{"username":"","remote_machine":"m","server_id":{"pid":"5"},
        "signing":{"cipher":"AES-128-GMAC","degree":"anonymous"},"channels":{"1":{"channel_id":"1"},"2":{"channel_id":"2"}}}}})");
    ASSERT_TRUE(anonymous.ok()) << anonymous.error;
    EXPECT_EQ(anonymous.value.sessions[0].signing, "anonymous");
    EXPECT_EQ(anonymous.value.sessions[0].channels, 2u);
    EXPECT_FALSE(anonymous.value.sessions[0].createdAt.has_value());
}

TEST(PdbeditList, ReadsNamesAndRefusesOtherText)
{
    auto r = parsePdbeditList("root:0:\nann:1001:Ann Example\r\n\nben:1002:Ben: the second\n");
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.value, (std::vector<std::string>{"root", "ann", "ben"}));
    EXPECT_TRUE(parsePdbeditList("").ok());
    auto bad = parsePdbeditList("ann:1001:\nsomething went wrong\n");
    EXPECT_FALSE(bad.ok());
    EXPECT_NE(bad.error.find("line 2"), std::string::npos);
    EXPECT_TRUE(bad.value.empty());
    EXPECT_FALSE(parsePdbeditList(":1001:\n").ok());
}

}  // namespace
