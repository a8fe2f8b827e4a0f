#include "FaultInjection.h"
#include "TempDir.h"
#include "platform/AtomicFile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sys/stat.h>

using namespace vantor;
using vantor::test::DiskFull;
using vantor::test::TempDir;

namespace {

std::vector<std::string> namesIn(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void makeOld(const std::filesystem::path& file)
{
    std::filesystem::last_write_time(file, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
}

TEST(AtomicFile, ReplacesTheContentAndLeavesNothingBeside)
{
    TempDir dir;
    dir.write("report.html", "old");
    EXPECT_EQ(writeFileAtomically(dir / "report.html", "new content"), std::nullopt);
    EXPECT_EQ(dir.read("report.html"), "new content");
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"report.html"});

    struct stat st { };
    ASSERT_EQ(::stat((dir / "report.html").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0022, 0u) << "nobody else may write the file";

    // A stream's worth of writes, past the internal buffer, arrives whole.
    std::string big(200'000, 'x');
    for (std::size_t i = 0; i < big.size(); i += 997)
        big[i] = static_cast<char>('a' + i % 26);
    AtomicFile file(dir / "big");
    ASSERT_TRUE(file.isOpen()) << file.error();
    for (std::size_t i = 0; i < big.size(); i += 1000)
        file.stream() << big.substr(i, 1000);
    EXPECT_EQ(file.commit(), std::nullopt);
    EXPECT_EQ(dir.read("big"), big);
}

TEST(AtomicFile, NeverWritesThroughALinkOrAnOldName)
{
    TempDir dir;
    TempDir elsewhere;
    elsewhere.write("passwd", "precious");
    const auto victim = elsewhere / "passwd";

    // Links planted where a writer with a fixed temporary name would write, and one with a name of
    // the writer's own pattern left to look like a crash's leftover.
    std::filesystem::create_symlink(victim, dir / "report.html.part");
    const auto planted = dir / ".report.html.aaaaaaaaaaaa.tmp";
    std::filesystem::create_symlink(victim, planted);
    ASSERT_TRUE(isAtomicTemporaryName(dir / "report.html", planted.filename().string()));

    AtomicFile file(dir / "report.html");
    ASSERT_TRUE(file.isOpen()) << file.error();
    EXPECT_TRUE(isAtomicTemporaryName(dir / "report.html", file.temporaryPath().filename().string()));
    EXPECT_NE(file.temporaryPath(), planted);
    file.stream() << "page";
    EXPECT_EQ(file.commit(), std::nullopt);

    EXPECT_EQ(elsewhere.read("passwd"), "precious");
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(planted))) << "the leftover link is removed";
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "report.html.part"));  // not its name: left alone
    EXPECT_EQ(dir.read("report.html"), "page");

    // A target that is itself a link is replaced, not written through.
    std::filesystem::create_symlink(victim, dir / "lists.dat");
    EXPECT_EQ(writeFileAtomically(dir / "lists.dat", "list"), std::nullopt);
    EXPECT_FALSE(std::filesystem::is_symlink(dir / "lists.dat"));
    EXPECT_EQ(elsewhere.read("passwd"), "precious");
}

TEST(AtomicFile, RemovesOnlyLeftoversOfItsOwnTargetThatNobodyWrites)
{
    TempDir dir;
    const auto target = dir / "users.log";
    const std::string stale = ".users.log.bbbbbbbbbbbb.tmp", fresh = ".users.log.cccccccccccc.tmp",
                      other = ".files.log.dddddddddddd.tmp", unlike = ".users.log.short.tmp";
    for (const auto& name : {stale, fresh, other, unlike}) {
        dir.write(name, "x");
        if (name != fresh)
            makeOld(dir / name);
    }
    EXPECT_EQ(writeFileAtomically(target, "log"), std::nullopt);
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{other, fresh, unlike, "users.log"}));

    // A writer at work in this process keeps its file, however old it looks.
    AtomicFile first(target);
    ASSERT_TRUE(first.isOpen());
    makeOld(first.temporaryPath());
    AtomicFile second(target);
    EXPECT_TRUE(std::filesystem::exists(first.temporaryPath()));
    first.stream() << "one";
    EXPECT_EQ(first.commit(), std::nullopt);
    EXPECT_EQ(dir.read("users.log"), "one");
}

TEST(AtomicFile, AFailedWriteKeepsTheOldFileAndSaysWhich)
{
    TempDir dir;
    dir.write("wlist.dat", "alice PC1\n");
    {
        DiskFull full(dir.path(), 4);
        const auto error = writeFileAtomically(dir / "wlist.dat", std::string(100'000, 'x'));
        ASSERT_TRUE(error.has_value());
        EXPECT_NE(error->find((dir / "wlist.dat").string()), std::string::npos) << *error;
        EXPECT_NE(error->find("space"), std::string::npos) << *error;
    }
    EXPECT_EQ(dir.read("wlist.dat"), "alice PC1\n");
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"wlist.dat"});

    // A folder that is not there: the error names the file, nothing is created.
    const auto error = writeFileAtomically(dir / "missing" / "settings.conf", "x");
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->find("settings.conf"), std::string::npos);

    // Dropped without commit: nothing stays behind.
    {
        AtomicFile dropped(dir / "wlist.dat");
        dropped.stream() << "half";
    }
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"wlist.dat"});
}

}  // namespace

TEST(AtomicFile, ANewFileIsItsOwnersAloneAndARewriteKeepsTheModeGiven)
{
    TempDir dir;
    const auto modeOf = [&](const std::string& name) {
        struct stat st { };
        EXPECT_EQ(::stat((dir / name).c_str(), &st), 0);
        return st.st_mode & 07777;
    };
    EXPECT_EQ(writeFileAtomically(dir / "blist.dat", "a <Any>\n"), std::nullopt);
    EXPECT_EQ(appendToFile(dir / "users.log", "1 a b 2\n"), std::nullopt);
    EXPECT_EQ(modeOf("blist.dat"), 0600u);
    EXPECT_EQ(modeOf("users.log"), 0600u);

    // An administrator's choice outlives the rewrite, a set-id bit does not.
    ASSERT_EQ(::chmod((dir / "blist.dat").c_str(), 0640), 0);
    EXPECT_EQ(writeFileAtomically(dir / "blist.dat", "b <Any>\n"), std::nullopt);
    EXPECT_EQ(modeOf("blist.dat"), 0640u);
    ASSERT_EQ(::chmod((dir / "blist.dat").c_str(), 04644), 0);
    EXPECT_EQ(writeFileAtomically(dir / "blist.dat", "c <Any>\n"), std::nullopt);
    EXPECT_EQ(modeOf("blist.dat"), 0644u);
}
