#include "LiteralHistory.h"
#include "TempDir.h"
#include "history/HistoryReader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

using namespace vantor;
using vantor::test::TempDir;

namespace {

std::vector<uint32_t> counts(const HistoryData& h)
{
    std::vector<uint32_t> out;
    for (const auto& s : h.sessions())
        out.push_back(s.fileCount);
    return out;
}

}  // namespace

TEST(HistoryReader, CountsFilesWithinInclusiveWindowsByExactNames)
{
    const std::string files = "1110204309 BUILD?ADMIN PC?7 /at_start\n"
                              "1110204400 BUILD?ADMIN PC?7 C:\\Docs\\a.txt\n"
                              "1110208034 BUILD?ADMIN PC?7 /at_end\n"
                              "1110208035 BUILD?ADMIN PC?7 /one_second_late\n"
                              "1110204308 BUILD?ADMIN PC?7 /one_second_early\n"
                              "1110204400 BUILD?ADMIN PC?8 /other_computer\n"
                              "1110204400 build?admin PC?7 /other_case\n";
    const auto h = HistoryData::fromText(files, "1110204309 BUILD_ADMIN PC_7 3725\n1110204309 build_admin PC_7 0\n");
    ASSERT_EQ(h.sessions().size(), 2u);
    EXPECT_EQ(h.sessions()[0].fileCount, 3u);
    EXPECT_EQ(h.sessions()[1].fileCount, 0u);
    EXPECT_EQ(h.countFilesInSession("BUILD ADMIN", "PC 8", 0, INT32_MAX), 1u);
    EXPECT_EQ(h.countFilesInSession("BUILD ADMIN", "PC 7", 1110204400, 1110204400), 1u);
    EXPECT_EQ(h.countFilesInSession("nobody", "PC 7", 0, INT32_MAX), 0u);

    EXPECT_TRUE(h.sessionCoversFile("BUILD ADMIN", "PC 7", 1110208034, 1110204309));
    EXPECT_FALSE(h.sessionCoversFile("BUILD ADMIN", "PC 7", 1110208035, 1110204309));
    EXPECT_FALSE(h.sessionCoversFile("BUILD ADMIN", "PC 7", 1110204400, 1110204310));  // no session starts there

    std::vector<std::string> paths;
    for (auto i : h.filesInWindow("BUILD ADMIN", "PC 7", 1110204309, 1110208034))
        paths.push_back(h.files()[i].path);
    EXPECT_EQ(paths, (std::vector<std::string>{"/at_start", "C:\\Docs\\a.txt", "/at_end"}));
}

TEST(HistoryReader, OverlappingSessionsOfOnePairBothCountTheOverlap)
{
    const auto h =
        HistoryData::fromText("150 u c /both\n120 u c /first\n250 u c /second\n", "100 u c 100\n140 u c 200\n");
    EXPECT_EQ(counts(h), (std::vector<uint32_t>{2, 2}));
}

TEST(HistoryReader, MissingLogsAndReloading)
{
    TempDir dir;
    EXPECT_TRUE(HistoryData::load(dir.path()).sessions().empty());

    dir.write("files.log", "1110204400 BUILD?ADMIN PC?7 C:\\Docs\\a.txt\n");
    auto onlyFiles = HistoryData::load(dir.path());
    EXPECT_TRUE(onlyFiles.sessions().empty());
    EXPECT_EQ(onlyFiles.files().size(), 1u);

    dir.write("users.log", "1110204309 BUILD_ADMIN PC_7 3725\n");
    auto first = loadHistory(dir.path());
    auto second = loadHistory(dir.path());
    ASSERT_EQ(second->sessions().size(), 1u);
    EXPECT_EQ(second->sessions(), first->sessions());
    EXPECT_EQ(second->sessions()[0].fileCount, 1u);

    std::filesystem::remove(dir / "files.log");
    EXPECT_EQ(HistoryData::load(dir.path()).sessions()[0].fileCount, 0u);
}

// Random histories, with the shapes that make an index go wrong: files out of time order, equal
// times, several pairs, sessions sharing a start, windows at the 32-bit edges.
TEST(HistoryReader, TakesMemoryForTheRecordsItFindsNotForTheFileSize)
{
    TempDir dir;
    dir.write("files.log", "1110204309 a b /x\n");
    // A 48 MB log of which only the first line is a record (the rest could be a damaged disk's
    // zeros): the reader must not set aside room for a million records.
    std::filesystem::resize_file(dir / "files.log", 48'000'000);
    const auto data = HistoryData::load(dir.path());
    EXPECT_EQ(data.files().size(), 1u);
    EXPECT_LT(data.files().capacity(), 1024u);
}

TEST(HistoryReader, AgreesWithTheLiteralAlgorithm)
{
    std::mt19937 rng(7);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const std::vector<std::string> users = {"ann", "Ann", "bob", "cd"};
    const std::vector<std::string> computers = {"pc1", "PC1", "pc2"};
    for (int round = 0; round < 40; ++round) {
        std::string filesLog, usersLog;
        const bool edge = round % 5 == 0;
        auto time = [&]() -> uint32_t {
            if (edge)
                return static_cast<uint32_t>(INT32_MAX - 50)
                       + static_cast<uint32_t>(pick(100));  // some read as negative
            return static_cast<uint32_t>(1000 + pick(300));
        };
        for (int i = 0, n = pick(60); i < n; ++i)
            filesLog += std::to_string(time()) + " " + users[pick(4)] + " " + computers[pick(3)] + " /f"
                        + std::to_string(i) + "\n";
        for (int i = 0, n = pick(30); i < n; ++i)
            usersLog += std::to_string(time()) + " " + users[pick(4)] + " " + computers[pick(3)] + " "
                        + std::to_string(pick(4) == 0 ? 0 : pick(120)) + "\n";
        const auto h = HistoryData::fromText(filesLog, usersLog);

        EXPECT_EQ(counts(h), vantor::test::literalCounts(h.sessions(), h.files())) << usersLog << filesLog;
        for (const auto& s : h.sessions())
            for (const auto& f : h.files()) {
                ASSERT_EQ(h.sessionCoversFile(f.user, f.computer, f.time, s.start),
                          vantor::test::literalCovers(h.sessions(), f.user, f.computer, f.time, s.start));
            }
        for (const auto& s : h.sessions()) {
            std::vector<std::size_t> expected;
            for (std::size_t i = 0; i < h.files().size(); ++i) {
                const auto& f = h.files()[i];
                if (f.user == s.user && f.computer == s.computer && s.start <= f.time && f.time <= s.end())
                    expected.push_back(i);
            }
            EXPECT_EQ(h.filesInWindow(s.user, s.computer, s.start, s.end()), expected);
        }
    }
}

// The console's load and the window's load never run at once, and a load's user keeps its result
// while another load is made.
TEST(HistoryStore, LoadsAndTheirUseDoNotOverlap)
{
    TempDir dir;
    dir.write("users.log", "1110204309 a b 10\n");
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    auto work = [&] {
        for (int i = 0; i < 200; ++i)
            HistoryStore::instance().withLoaded(dir.path(), [&](const HistoryPtr& data) {
                if (inside.fetch_add(1) != 0)
                    overlapped = true;
                std::this_thread::yield();
                EXPECT_EQ(data->sessions().size(), 1u);
                inside.fetch_sub(1);
                return 0;
            });
    };
    auto kept = loadHistory(dir.path());
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_FALSE(overlapped);
    EXPECT_EQ(kept->sessions().size(), 1u);
}
