// What smbstatus tells beyond the three columns: read from a recording of a private smbd where ann
// holds budget.xlsx open for writing from 127.0.0.1 and, from 127.0.0.2, one session on two shares
// (docs, then media); ben reads minutes 2024.docx and writes budget.xlsx.

#include "platform/samba/SambaNetManagement.h"
#include "platform/samba/SmbStatusParser.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

using namespace vantor;
using namespace vantor::samba;

namespace {

std::string recorded(const char* name = "smbstatus-details.json")
{
    std::ifstream in(std::string(VANTOR_TEST_DATA "/samba/") + name, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The names are plain texts: gcc 14 takes a reference returned beside a temporary string for one
// into it.
const NetSessionInfo& sessionOf(const std::vector<NetSessionInfo>& sessions, const char* userPrefix,
                                const char* computer)
{
    for (const auto& s : sessions)
        if (s.user.starts_with(userPrefix) && s.computer == computer)
            return s;
    throw std::runtime_error(std::string("no session of ") + userPrefix + " from " + computer);
}

const NetFileInfo& fileOf(const std::vector<NetFileInfo>& files, const char* userPrefix, const char* pathEnd)
{
    for (const auto& f : files)
        if (f.user.starts_with(userPrefix) && f.path.ends_with(pathEnd))
            return f;
    throw std::runtime_error(std::string("no open of ") + pathEnd + " by " + userPrefix);
}

TEST(SmbStatusDetails, SessionsTellProtocolSecurityProcessSharesAndTime)
{
    auto parsed = parseSmbStatusJson(recorded());
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    ASSERT_EQ(parsed.value.tcons.size(), 4u);
    SmbStatusIndex index(parsed.value);
    const auto sessions = index.sessions();
    ASSERT_EQ(sessions.size(), 3u);

    const NetSessionInfo& twoShares = sessionOf(sessions, "vtann", "127.0.0.2");
    EXPECT_EQ(twoShares.details.shares, (std::vector<std::string>{"docs", "media"}));
    EXPECT_EQ(twoShares.details.dialect, "SMB3_11");
    EXPECT_EQ(twoShares.details.encryption, "none");
    EXPECT_EQ(twoShares.details.signing, "AES-128-GMAC (partial)");
    EXPECT_EQ(twoShares.details.uid, 1001);
    EXPECT_FALSE(twoShares.details.idleSeconds) << "Samba does not tell it";
    // It began with its first tree connect, the earlier of its two.
    EXPECT_EQ(twoShares.details.connectedAt, parseSambaTime("2026-12-07T16:17:11.332952+00:00"));

    // Each session's own process and shares, not those of another session of the same user.
    const NetSessionInfo& local = sessionOf(sessions, "vtann", "127.0.0.1");
    EXPECT_EQ(local.details.shares, (std::vector<std::string>{"docs"}));
    EXPECT_NE(local.details.processId, twoShares.details.processId);
    EXPECT_EQ(local.details.connectedAt, parseSambaTime("2026-12-07T16:17:11.052959+00:00"));
    EXPECT_EQ(sessionOf(sessions, "vtben", "127.0.0.2").details.uid, 1002);
}

TEST(SmbStatusDetails, OpensTellShareAccessAndTime)
{
    auto parsed = parseSmbStatusJson(recorded());
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    SmbStatusIndex index(parsed.value);
    const auto files = index.allFiles();
    ASSERT_EQ(files.size(), 7u);

    const NetFileInfo& written = fileOf(files, "vtann", "/budget.xlsx");
    EXPECT_EQ(written.computer, "127.0.0.1");
    EXPECT_EQ(written.details.share, "docs");
    EXPECT_EQ(written.details.relativePath, "budget.xlsx");
    EXPECT_EQ(accessText(written.details), "read/write");
    EXPECT_EQ(written.details.denyMode, "none");
    EXPECT_EQ(written.details.oplock, "none");
    EXPECT_EQ(written.details.openedAt, parseSambaTime("2026-12-07T16:17:11.063380+00:00"));

    const NetFileInfo& read = fileOf(files, "vtben", "/minutes 2024.docx");
    EXPECT_EQ(accessText(read.details), "read");

    // One process with tree connects to two shares: each open goes to the share it lies in.
    EXPECT_EQ(fileOf(files, "vtann", "/intro.mp4").details.share, "media");
    const NetFileInfo& nested = fileOf(files, "vtann", "/projects/plan.txt");
    EXPECT_EQ(nested.details.share, "docs");
    EXPECT_EQ(nested.details.relativePath, "projects/plan.txt");

    // The per-user enumeration tells the same.
    for (const auto& f : index.filesOf(written.user)) {
        if (f.id == written.id) {
            EXPECT_EQ(f.details, written.details);
        }
    }
}

TEST(SmbStatusDetails, DetailsOfAnOtherShapeNeverRefuseTheDocument)
{
    // Only what the three columns need may refuse a document; a newer or older Samba's details
    // are read where they fit and left out where not.
    const std::string doc = R"({"sessions": {"1": {"session_id": "1", "server_id": {"pid": "10"}, "username": "u",
        "remote_machine": "h", "session_dialect": 3, "encryption": "AES", "signing": {"cipher": 5}},
        "2": {"server_id": {"pid": "11"}, "username": "v", "remote_machine": "h", "signing": {"cipher": "AES-128-CMAC", "degree": "full"}}},
      "tcons": {"a": {"service": "docs", "session_id": "1", "server_id": {"pid": "x"}, "connected_at": "yesterday"},
                "b": {"service": "pub", "server_id": {"pid": "11"}, "connected_at": "2026-12-07T16:17:11Z"},
                "c": [1, 2]},
      "open_files": {"/s/f": {"service_path": 7, "opens": {"10/1": {"server_id": {"pid": "10"}, "share_file_id": "1",
        "sharemode": {"READ": "yes", "WRITE": false}, "access_mask": [], "oplock": {"text": "EXCLUSIVE+BATCH"},
        "opened_at": 5}}}}})";
    auto parsed = parseSmbStatusJson(doc);
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    ASSERT_EQ(parsed.value.sessions.size(), 2u);
    EXPECT_EQ(parsed.value.sessions[0].dialect, "");
    EXPECT_EQ(parsed.value.sessions[0].encryption, "");
    EXPECT_EQ(parsed.value.sessions[1].signing, "AES-128-CMAC (full)");
    // A tree connect without a usable process is dropped; one without a session id goes by process.
    ASSERT_EQ(parsed.value.tcons.size(), 1u);
    SmbStatusIndex index(parsed.value);
    const auto sessions = index.sessions();
    EXPECT_TRUE(sessions[0].details.shares.empty());
    EXPECT_EQ(sessions[1].details.shares, (std::vector<std::string>{"pub"}));
    EXPECT_EQ(sessions[1].details.connectedAt, parseSambaTime("2026-12-07T16:17:11+00:00"));

    const auto files = index.allFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].details.denyMode, "write");
    EXPECT_EQ(files[0].details.oplock, "batch");
    EXPECT_EQ(accessText(files[0].details), "");
    EXPECT_FALSE(files[0].details.openedAt);
}

// Recorded with "smbstatus --json -B" while smbclient -m NT1 (unix extensions, "posix") held a.txt
// open with a write lock on bytes 0-15 and a read lock on 32-35.
TEST(SmbStatusDetails, ByteRangeLocksCountPerOpenFile)
{
    auto parsed = parseSmbStatusJson(recorded("smbstatus-locks.json"));
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    const auto files = SmbStatusIndex(parsed.value).allFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(files[0].path.ends_with("/a.txt"));
    EXPECT_EQ(files[0].details.locks, 2u);

    // Without the part the count is unknown, not zero.
    parsed = parseSmbStatusJson(recorded());
    ASSERT_TRUE(parsed.ok());
    for (const auto& open : parsed.value.opens)
        EXPECT_FALSE(open.locks) << open.path;

    // The locks belong to the holding process's first open of the file; another process's open
    // of it holds none. A part Samba may write before others, or a broken one, is still no
    // reason to refuse the document.
    const std::string opens = R"("open_files": {"/s/f": {"opens": {
        "10/1": {"server_id": {"pid": "10"}, "share_file_id": "1"}, "10/2": {"server_id": {"pid": "10"}, "share_file_id": "2"},
        "11/1": {"server_id": {"pid": "11"}, "share_file_id": "1"}}}})";
    const std::string sessions =
        R"("sessions": {"1": {"server_id": {"pid": "10"}, "username": "u", "remote_machine": "h"}})";
    parsed = parseSmbStatusJson("{" + sessions + ", " + opens
                                + R"(, "byte_range_locks": {"/s/f": {"server_id": {"pid": "10"},
        "locks": [{"server_id": {"pid": "10"}, "type": "W"}, {"type": "R"}, {"server_id": {"pid": "12"}}]}},
        "later": {"byte_range": 1}})");
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    ASSERT_EQ(parsed.value.opens.size(), 3u);
    EXPECT_EQ(parsed.value.opens[0].locks, 2u);
    EXPECT_EQ(parsed.value.opens[1].locks, 0u);
    EXPECT_EQ(parsed.value.opens[2].locks, 0u);
    parsed = parseSmbStatusJson("{" + sessions + ", " + opens
                                + R"(, "byte_range_locks": {"/s/f": {"locks": [{"server_id": []}]}}})");
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    EXPECT_FALSE(parsed.value.opens[0].locks);
}

// Samba 4.22 (Debian 13) while smbclient -m NT1 held a.txt with a write lock on bytes 0-9 and a
// read lock on 20-23, and b.txt with none: its JSON listing and the text one the poll falls back
// to count the same locks on the same files (4.22 writes the text's dev:inode with a third part).
TEST(SmbStatusDetails, Samba422CountsTheLocksAlikeInBothListings)
{
    auto json = parseSmbStatusJson(recorded("smbstatus-4.22-locks.json"));
    ASSERT_TRUE(json.ok()) << json.error;
    auto text = parseSmbStatusLocksText(recorded("smbstatus-4.22-locks.txt"));
    ASSERT_TRUE(text.ok()) << text.error;
    EXPECT_TRUE(json.value.skipped.empty());
    EXPECT_TRUE(text.value.skipped.empty()) << text.value.skipped.front().cause;
    auto locksByName = [](const std::vector<SmbOpen>& opens) {
        std::map<std::string, std::optional<uint32_t>> m;
        for (const auto& o : opens)
            m[o.filename] = o.locks;
        return m;
    };
    const std::map<std::string, std::optional<uint32_t>> expected{{"a.txt", 2u}, {"b.txt", 0u}};
    EXPECT_EQ(locksByName(json.value.opens), expected);
    EXPECT_EQ(locksByName(text.value.opens), expected);

    // The rows the window shows are the same by both routes, but for the open's id.
    SmbStatusData fallback = json.value;
    fallback.opens = text.value.opens;
    auto files = SmbStatusIndex(json.value).allFiles(), fromText = SmbStatusIndex(fallback).allFiles();
    ASSERT_EQ(files.size(), 2u);
    ASSERT_EQ(fromText.size(), 2u);
    for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(fromText[i].path, files[i].path);
        EXPECT_EQ(fromText[i].user, files[i].user);
        EXPECT_EQ(fromText[i].details.share, "docs");
        EXPECT_EQ(fromText[i].details.locks, files[i].details.locks);
        EXPECT_EQ(fromText[i].details.read, files[i].details.read);
        EXPECT_EQ(fromText[i].details.write, files[i].details.write);
    }
}

TEST(SmbStatusDetails, TimesAreReadInTheirOwnZone)
{
    EXPECT_EQ(parseSambaTime("1970-01-01T00:00:00Z"), 0);
    EXPECT_EQ(parseSambaTime("2024-02-29T12:00:00.5+00:00"), 1709208000);
    // When a session began is shown as smbstatus shows it: to the nearest second.
    EXPECT_EQ(roundedSambaTime("2024-02-29T12:00:00.5+00:00"), 1709208001);
    EXPECT_EQ(roundedSambaTime("2024-02-29T12:00:00.499999+00:00"), 1709208000);
    EXPECT_EQ(roundedSambaTime("1969-12-31T23:59:59.4Z"), -1);
    EXPECT_EQ(parseSambaTime("2024-02-29T13:30:00+0130"), 1709208000);
    EXPECT_EQ(parseSambaTime("2024-02-29T10:00:00-02:00"), 1709208000);
    EXPECT_EQ(parseSambaTime("2000-03-01T00:00:00Z"), 951868800);
    for (const char* bad : {"", "2024-02-29", "2024-02-29T12:00:00", "2024-13-01T00:00:00Z", "2024-02-29T12:00:00Zjunk",
                            "2024-02-29T12:00:00+1", "abcd-02-29T12:00:00Z"})
        EXPECT_FALSE(parseSambaTime(bad)) << bad;
}

}  // namespace
