#include "ScopedTimeZone.h"
#include "FaultInjection.h"
#include "TempDir.h"
#include "history/HistoryLog.h"
#include "history/HistoryReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

using namespace vantor;
using vantor::test::DiskFull;
using vantor::test::ReadFault;
using vantor::test::TempDir;

TEST(LogLines, SessionAndFileLinesDecodeTheirOwnSubstitutes)
{
    auto s = parseSessionLine("1110204309 BUILD_ADMIN PC_7 3725\n");
    ASSERT_TRUE(s);
    EXPECT_EQ(*s, (SessionRecord{1110204309, "BUILD ADMIN", "PC 7", 3725, 0}));

    auto f = parseFileLine("1110204400 BUILD?ADMIN PC?7 C:\\Shared?Docs\\Annual?Report_v2.doc\n");
    ASSERT_TRUE(f);
    EXPECT_EQ(*f, (FileRecord{1110204400, "C:\\Shared Docs\\Annual Report_v2.doc", "BUILD ADMIN", "PC 7"}));

    // '?' is no substitute in users.log, '_' none in files.log.
    EXPECT_EQ(parseSessionLine("1 a?b c 2        \n")->user, "a?b");
    EXPECT_EQ(parseFileLine("1 a_b c d        \n")->user, "a_b");
}

TEST(LogLines, TheTenCharacterRuleCountsTheLineEndAsOne)
{
    EXPECT_FALSE(parseSessionLine("12 a b 4\n"));  // 9 with its line end
    EXPECT_TRUE(parseSessionLine("123 a b 4\n"));  // 10
    EXPECT_TRUE(parseSessionLine("123 a b 4\r\n"));  // CR LF is one line end
    EXPECT_FALSE(parseSessionLine("12 a b 4\r\n"));
    EXPECT_FALSE(parseSessionLine("123 a b 4"));  // the last line, without a line end: 9
    EXPECT_TRUE(parseFileLine("123 a b c\n"));
    EXPECT_FALSE(parseFileLine("\n"));
    EXPECT_FALSE(parseFileLine(""));
}

TEST(LogLines, MalformedRecordsAreSkippedNotGuessed)
{
    const char* bad[] = {
        "1110204309 BUILD_ADMIN PC_7\n",  // a field missing
        "1110204309 BUILD_ADMIN PC_7 37x5\n",  // not a number
        "-1110204309 BUILD_ADMIN PC_7 3725\n",  // signs are not digits
        "4294967296 BUILD_ADMIN PC_7 3725\n",  // over 32 bits
        "99999999999 BUILD_ADMIN PC_7 3725\n", "          \n",
    };
    for (const char* line : bad)
        EXPECT_FALSE(parseSessionLine(line)) << line;

    const std::string longName(256, 'u');
    EXPECT_FALSE(parseSessionLine("1 " + longName + " c 2\n"));
    EXPECT_TRUE(parseSessionLine("1 " + longName.substr(1) + " c 2\n"));
    EXPECT_FALSE(parseFileLine("1 u c " + std::string(1100, 'p') + "\n"));  // over 1023 characters

    // Tabs separate fields; what follows the fourth field is ignored; 32 bits read as signed.
    auto s = parseSessionLine("\t4294967295\tu\t\tc  7 trailing words\n");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->start, -1);
    EXPECT_EQ(s->duration, 7u);
    EXPECT_EQ(s->end(), 6);
}

// Whatever a name holds, its line is one line of four fields, and the user and computer of a file
// line decode exactly as those of the session line written for the same session.
TEST(LogLines, WrittenNamesRoundTripAndTieFilesToTheirSession)
{
    const std::string euro = "\xE2\x82\xAC";  // three bytes
    const std::vector<std::string> names = {
        "plain",     "two words", "under_score",
        "ques?tion", "tab\there", "new\nline",
        "cr\rlf",    "",          std::string(254, 'x') + euro,
        "  ",        "\x01\x7F",
    };
    for (const auto& user : names) {
        for (const auto& computer : {std::string("PC 7"), std::string("host_1")}) {
            std::ostringstream u, f;
            writeSessionLine(u, 1110204309, user, computer, 3725);
            writeFileLine(f, 1110204400, user, computer, "/srv/share/a b?c_d\nx");
            const std::string usersLine = u.str(), filesLine = f.str();
            ASSERT_EQ(std::count(usersLine.begin(), usersLine.end(), '\n'), 1) << usersLine;
            ASSERT_EQ(std::count(filesLine.begin(), filesLine.end(), '\n'), 1) << filesLine;
            ASSERT_LE(usersLine.size(), maxLogLine);

            auto s = parseSessionLine(usersLine);
            auto r = parseFileLine(filesLine);
            ASSERT_TRUE(s) << usersLine;
            ASSERT_TRUE(r) << filesLine;
            EXPECT_EQ(r->user, s->user);
            EXPECT_EQ(r->computer, s->computer);
            EXPECT_EQ(r->path, "/srv/share/a b c_d x");
            EXPECT_LE(s->user.size(), maxLogField);
            // A cut never splits the last UTF-8 sequence: the euro sign goes whole or not at all.
            if (user.size() > maxLogField) {
                EXPECT_EQ(s->user, std::string(254, 'x'));
            }

            const auto h = HistoryData::fromText(filesLine, usersLine);
            ASSERT_EQ(h.sessions().size(), 1u);
            EXPECT_EQ(h.sessions()[0].fileCount, 1u) << "user '" << user << "'";
        }
    }
    // An empty name is written as one substitute and reads back as a single blank in both logs.
    std::ostringstream u;
    writeSessionLine(u, 1, "", "c", 2);
    EXPECT_EQ(u.str(), "1 _ c 2\n");
}

TEST(LogLines, LinesLongerThanTheReadBufferAndSplitAcrossIt)
{
    TempDir dir;
    std::string content;
    // Fill past the 1 MiB block so that records straddle its end, with one enormous line between.
    for (int i = 0; content.size() < (1u << 20) - 20; ++i)
        content += std::to_string(1000000 + i) + " u c 5\n";
    content += std::string(3u << 20, 'z') + "\n";
    content += "1110204309 last_one pc 60";  // no line end at the end of the file
    dir.write("users.log", content);

    std::size_t lines = 0, tooLong = 0, records = 0;
    std::string last;
    ASSERT_TRUE(forEachLogLine(dir / "users.log", [&](std::string_view line, bool longLine) {
        ++lines;
        tooLong += longLine;
        if (!longLine && parseSessionLine(line))
            ++records;
        last = std::string(line);
    }));
    EXPECT_EQ(tooLong, 1u);
    EXPECT_EQ(records, lines - 1);
    EXPECT_EQ(last, "1110204309 last_one pc 60");
    EXPECT_FALSE(forEachLogLine(dir / "missing.log", [](std::string_view, bool) {}));
}

class TrimTest : public ::testing::Test {
protected:
    TempDir dir;
    const int64_t now = 1'700'000'000;
};

TEST_F(TrimTest, KeepsTheLimitInclusiveAndAnEmptyLineAfterEachRecord)
{
    dir.write("users.log", std::to_string(now - 3600) + " kept pc 10\n" + std::to_string(now - 3601)
                               + " dropped pc 10\n\nshort\n" + std::to_string(now) + " also_kept pc 1\r\n");
    dir.write("files.log", std::to_string(now - 3601) + " old pc /a\n" + std::to_string(now - 10) + " new pc /b?c\n");
    const auto before = HistoryData::load(dir.path());

    ASSERT_TRUE(trimLogs(dir.path(), 0, now));  // "1 Hour"
    EXPECT_EQ(dir.readText("users.log"),
              std::to_string(now - 3600) + " kept pc 10\n\n" + std::to_string(now) + " also_kept pc 1\n\n");
    EXPECT_EQ(dir.readText("files.log"), std::to_string(now - 10) + " new pc /b?c\n\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "users.log2"));
    EXPECT_FALSE(std::filesystem::exists(dir / "files.log2"));

    // Trimmed again with a wider limit, the empty lines are harmless and nothing doubles.
    ASSERT_TRUE(trimLogs(dir.path(), 9, now));
    const auto after = HistoryData::load(dir.path());
    ASSERT_EQ(after.sessions().size(), 2u);
    EXPECT_EQ(after.sessions()[0], before.sessions()[0]);
    EXPECT_EQ(after.sessions()[1].user, "also kept");
    EXPECT_EQ(after.files(), std::vector<FileRecord>{before.files()[1]});
    EXPECT_EQ(dir.readText("files.log"), std::to_string(now - 10) + " new pc /b?c\n\n");
}

TEST_F(TrimTest, EachChoiceHasItsLimitAndSeparatorsTrimNothing)
{
    const int32_t limits[] = {3600, 7200, 10800, 0, 86400, 172800, 259200, 0, 604800, 2592000};
    for (int32_t index = 0; index < 10; ++index) {
        if (limits[index] == 0) {
            dir.write("users.log", "1 a b 2 and more\n");
            EXPECT_FALSE(trimLogs(dir.path(), index, now));
            EXPECT_EQ(dir.readText("users.log"), "1 a b 2 and more\n");
            continue;
        }
        dir.write("users.log", std::to_string(now - limits[index]) + " in pc 1\n"
                                   + std::to_string(now - limits[index] - 1) + " out pc 1\n");
        ASSERT_TRUE(trimLogs(dir.path(), index, now));
        EXPECT_EQ(dir.readText("users.log"), std::to_string(now - limits[index]) + " in pc 1\n\n") << index;
    }
    EXPECT_FALSE(trimLogs(dir.path(), -1, now));
    EXPECT_FALSE(trimLogs(dir.path(), 10, now));
}

TEST_F(TrimTest, MissingLogsBecomeEmptyOnes)
{
    ASSERT_TRUE(trimLogs(dir.path(), 0, now));
    EXPECT_TRUE(std::filesystem::exists(dir / "users.log"));
    EXPECT_EQ(dir.readText("users.log"), "");
    EXPECT_EQ(dir.readText("files.log"), "");
}

TEST_F(TrimTest, AReadOrWriteErrorLeavesTheLogAsItWasAndNamesIt)
{
    if (!vantor::test::faultsCanBeInjected())
        GTEST_SKIP() << "no fault injection here";
    // Big enough that the reader needs more than one read, and every record would be dropped.
    std::string log;
    for (int i = 0; log.size() < 3'000'000; ++i)
        log += std::to_string(1000 + i) + " user" + std::to_string(i) + " pc 10\n";
    dir.write("users.log", log);
    dir.write("files.log", std::to_string(now) + " kept pc /a\n");
    std::string why;
    {
        ReadFault badSector(dir / "users.log", 1'500'000);
        EXPECT_FALSE(trimLogs(dir.path(), 0, now, &why));
    }
    EXPECT_EQ(dir.read("users.log"), log);
    EXPECT_NE(why.find((dir / "users.log").string()), std::string::npos) << why;
    EXPECT_EQ(dir.readText("files.log"), std::to_string(now) + " kept pc /a\n\n") << "the other log is trimmed";

    const std::string kept = std::to_string(now) + " kept pc 10\n";
    dir.write("users.log", kept + log);
    {
        DiskFull full(dir.path());
        EXPECT_FALSE(trimLogs(dir.path(), 0, now, &why));
    }
    EXPECT_EQ(dir.read("users.log"), kept + log);
    EXPECT_NE(why.find("users.log"), std::string::npos) << why;
    EXPECT_NE(why.find("files.log"), std::string::npos) << why;

    // A leftover link at the name earlier versions wrote through is removed, not written through.
    TempDir elsewhere;
    elsewhere.write("shadow", "precious");
    std::filesystem::create_symlink(elsewhere / "shadow", dir / "users.log2");
    ASSERT_TRUE(trimLogs(dir.path(), 0, now));
    EXPECT_EQ(dir.readText("users.log"), kept + "\n");
    EXPECT_EQ(elsewhere.read("shadow"), "precious");
    // Nor is a log that was replaced by a link appended to.
    std::filesystem::remove(dir / "files.log");
    std::filesystem::create_symlink(elsewhere / "shadow", dir / "files.log");
    EXPECT_FALSE(appendToLog(dir.path(), filesLogName, "1 a b /c\n"));
    EXPECT_EQ(elsewhere.read("shadow"), "precious");
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(dir / "users.log2")));
}

TEST(DeleteLogs, TheConsoleTriesBoth)
{
    TempDir dir;
    dir.write("files.log", "x");
    deleteLogs(dir.path());
    EXPECT_FALSE(std::filesystem::exists(dir / "files.log"));
    dir.write("users.log", "x");
    dir.write("files.log", "x");
    dir.write("report.html", "r");
    deleteLogs(dir.path());
    EXPECT_FALSE(std::filesystem::exists(dir / "users.log"));
    EXPECT_FALSE(std::filesystem::exists(dir / "files.log"));
    EXPECT_TRUE(std::filesystem::exists(dir / "report.html"));
}

TEST(ClearHistory, ConfirmsWhenBothLogsAreGoneAndTellsWhyWhenOneStays)
{
    TempDir dir;
    RecordingMessageBoxes boxes;

    dir.write("users.log", "x");
    dir.write("files.log", "x");
    dir.write("report.html", "r");
    int owner = 0;
    EXPECT_TRUE(clearHistory(dir.path(), boxes, &owner));
    EXPECT_FALSE(std::filesystem::exists(dir / "users.log"));
    EXPECT_FALSE(std::filesystem::exists(dir / "files.log"));
    EXPECT_TRUE(std::filesystem::exists(dir / "report.html"));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "History has been cleared!");
    EXPECT_EQ(boxes.shown[0].caption, "Vantor");
    EXPECT_EQ(boxes.shown[0].icon, BoxIcon::Information);
    EXPECT_EQ(boxes.shown[0].owner, &owner);

    // Without files.log (opened files not logged) the history is cleared all the same.
    dir.write("users.log", "x");
    EXPECT_TRUE(clearHistory(dir.path(), boxes));
    EXPECT_FALSE(std::filesystem::exists(dir / "users.log"));
    EXPECT_EQ(boxes.shown.size(), 2u);

    // A log that cannot go (here a folder of that name with something in it) is an error, not a
    // confirmation, and files.log is kept.
    std::filesystem::create_directories(dir / "users.log" / "x");
    dir.write("files.log", "x");
    EXPECT_FALSE(clearHistory(dir.path(), boxes));
    EXPECT_TRUE(std::filesystem::exists(dir / "files.log"));
    ASSERT_EQ(boxes.shown.size(), 3u);
    EXPECT_EQ(boxes.shown[2].caption, "Error");
    EXPECT_EQ(boxes.shown[2].text.rfind("The history could not be cleared: ", 0), 0u);
}
