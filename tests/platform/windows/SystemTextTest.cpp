// A name with a letter outside ASCII on every path where the Windows program shows, stores or sends
// text: UTF-8 inside, the ANSI code page in the files readers of the Windows program already have.

#include "TempDir.h"
#include "base/AccessList.h"
#include "history/HistoryLog.h"
#include "platform/Paths.h"
#include "platform/SystemText.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <windows.h>

using namespace vantor;

namespace {

const std::string zoe = "Zo\xc3\xab";  // U+00EB
const std::string pc = "PC-\xc3\x89t\xc3\xa9";  // É, é

std::string bytesOf(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(SystemText, IsTheAnsiCodePageOnDiskAndUtf8Inside)
{
    // The conversion must really happen here: in a Western code page ë is one byte.
    if (GetACP() == 1252)
        EXPECT_EQ(toSystemText(zoe), "Zo\xeb");
    EXPECT_EQ(fromSystemText(toSystemText(zoe)), zoe);
    // Bytes that are not UTF-8 cannot crash or vanish silently: they become a replacement.
    EXPECT_FALSE(toSystemText("a\xff"
                              "b")
                     .empty());
}

TEST(SystemText, ListsAndHistoryKeepTheNameThroughTheirFiles)
{
    test::TempDir dir;
    const auto list = dir / "blist.dat";
    ASSERT_TRUE(writeAccessListFile(list, {{zoe, pc}}));
    EXPECT_EQ(bytesOf(list).substr(0, toSystemText(zoe).size()), toSystemText(zoe));
    ASSERT_TRUE(appendAccessListLine(list, "b\xc3\xb6rje", "<Any>"));
    EXPECT_EQ(loadAccessRowsFile(list), (std::vector<AccessRow>{{zoe, pc}, {"b\xc3\xb6rje", "<Any>"}}));

    std::ostringstream line;
    writeSessionLine(line, 1700000000, zoe + " van Dijk", pc, 60);
    EXPECT_NE(line.str().find(toSystemText(zoe)), std::string::npos);
    const auto record = parseSessionLine(line.str());
    ASSERT_TRUE(record);
    EXPECT_EQ(record->user, zoe + " van Dijk");
    EXPECT_EQ(record->computer, pc);

    std::ostringstream fileLine;
    writeFileLine(fileLine, 1700000000, zoe, pc, "C:\\Shares\\" + zoe + "\\caf\xc3\xa9.txt");
    const auto file = parseFileLine(fileLine.str());
    ASSERT_TRUE(file);
    EXPECT_EQ(file->path, "C:\\Shares\\" + zoe + "\\caf\xc3\xa9.txt");
}

TEST(SystemText, APathTypedInUtf8NamesTheFileWithThoseLetters)
{
    test::TempDir dir;
    const auto bare = resolveInDataDir(dir.path(), zoe + ".html");
    std::ofstream(bare) << "x";
    const std::wstring wide = dir.path().wstring() + L"\\Zo\u00eb.html";
    EXPECT_NE(GetFileAttributesW(wide.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(textFromPath(bare.filename()), zoe + ".html");

    const auto full = resolveInDataDir(dir.path(), textFromPath(dir.path()) + "\\" + pc + ".html");
    EXPECT_EQ(full, dir.path() / L"PC-\u00c9t\u00e9.html");
}

}  // namespace
