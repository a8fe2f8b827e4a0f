#include "options/SettingsFile.h"

#include "base/ListenAddress.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

using namespace vantor;
using vantor::test::TempDir;

namespace {

MonitorSettings everythingChanged()
{
    MonitorSettings s;
    s.serverName = std::string("fileserver");
    s.hideLocalUsers = 1;
    s.hideSystemRequests = 1;
    s.popupOnNewUser = 1;
    s.beepOnNewUser = 1;
    s.noHistory = 1;
    s.mailOnNewUser = 1;
    s.dailyReport = 1;
    s.reportAutoUpdate = 1;
    s.reportLimit = 1;
    s.logOpenedFiles = 0;
    s.useBlackList = 0;
    s.reportLimitIndex = 9;
    s.mailAddress = "ops@corp.test";
    s.smtpServer = "smtp.corp.test";
    s.dailyReportTime = "07:45";
    s.reportPath = std::string("/srv/www/vantor report.html");
    s.metricsListen = "[::1]:36874";
    s.metricsPerSession = 1;
    s.historyDays = 30;
    return s;
}

}  // namespace

TEST(SettingsFile, EveryOptionSurvivesARoundTrip)
{
    const MonitorSettings saved = everythingChanged();
    const std::string text = formatSettings(saved);
    // Every key of the table is written, one line each, by its own name.
    for (const auto& k : settingKeys())
        EXPECT_NE(text.find("\n" + std::string(k.name) + " = "), std::string::npos) << k.name;
    EXPECT_NE(text.find("\nuseBlackList = 0\n"), std::string::npos);

    MonitorSettings loaded;
    EXPECT_TRUE(parseSettings(text, loaded).empty());
    EXPECT_EQ(formatSettings(loaded), text);
    EXPECT_EQ(loaded.useBlackList, 0);
    EXPECT_EQ(loaded.reportLimitIndex, 9);
    EXPECT_EQ(loaded.reportPath.get(), "/srv/www/vantor report.html");
    EXPECT_EQ(loaded.serverName.get(), "fileserver");
}

TEST(SettingsFile, CommentsBlanksAndCrLfAreAccepted)
{
    MonitorSettings s;
    const auto problems = parseSettings("# white list only\r\n\r\n   \n  useBlackList=0  \r\n"
                                        "\t# smtpServer = commented.out\nmailAddress = a@b # not a comment\n",
                                        s);
    EXPECT_TRUE(problems.empty());
    EXPECT_EQ(s.useBlackList, 0);
    EXPECT_EQ(s.smtpServer, MonitorSettings{}.smtpServer);
    EXPECT_EQ(s.mailAddress, "a@b # not a comment");
}

struct BadLine {
    const char* line;
    const char* mentions;
};

class SettingsBadLine : public testing::TestWithParam<BadLine> {};

TEST_P(SettingsBadLine, IsReportedWithItsLineAndTheRestStillLoads)
{
    const BadLine bad = GetParam();
    MonitorSettings s;
    const std::string text = std::string("hideLocalUsers = 1\n# two\n") + bad.line + "\nmailOnNewUser = 1\n";
    const auto problems = parseSettings(text, s);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].line, 3);
    EXPECT_NE(problems[0].text.find(bad.mentions), std::string::npos) << problems[0].text;
    // The lines around it load, and the bad line's option keeps its default.
    EXPECT_EQ(s.hideLocalUsers, 1);
    EXPECT_EQ(s.mailOnNewUser, 1);
    const MonitorSettings defaults;
    EXPECT_EQ(s.useBlackList, defaults.useBlackList);
    EXPECT_EQ(s.reportLimitIndex, defaults.reportLimitIndex);
    EXPECT_EQ(s.dailyReportTime, defaults.dailyReportTime);
    EXPECT_EQ(s.reportPath.get(), defaults.reportPath.get());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsBadLine,
    testing::Values(BadLine{"useBlackList 0", "key = value"}, BadLine{"useBlacklist = 0", "unknown option"},
                    BadLine{"= 0", "unknown option"}, BadLine{"useBlackList = 2", "0 or 1"},
                    BadLine{"useBlackList = no", "0 or 1"}, BadLine{"useBlackList =", "0 or 1"},
                    BadLine{"useBlackList = 0x0", "0 or 1"}, BadLine{"reportLimitIndex = 3", "reportLimitIndex"},
                    BadLine{"reportLimitIndex = 10", "reportLimitIndex"},
                    BadLine{"reportLimitIndex = 99999999999", "number"},
                    BadLine{"dailyReportTime = 2359", "hh:mm"}, BadLine{"reportPath = report.txt", ".htm"},
                    BadLine{"reportPath =", ".htm"}, BadLine{"hideLocalUsers = 0", "set again"},
                    BadLine{"metricsListen = localhost:36874", "ADDRESS:PORT"},
                    BadLine{"metricsPerSession = 2", "0 or 1"}, BadLine{"historyDays = -1", "historyDays"},
                    BadLine{"historyDays = 36501", "historyDays"}));

TEST(SettingsFile, ListenAddressesReadBackAsWritten)
{
    for (const char* text : {"127.0.0.1:36874", "0.0.0.0:1", "[::1]:65535", "[fe80::1:2]:80", "[::ffff:10.0.0.1]:9"}) {
        const auto address = parseListenAddress(text);
        ASSERT_TRUE(address) << text;
        EXPECT_EQ(listenAddressText(*address), text);
    }
    EXPECT_EQ(parseListenAddress("[::1]:36874")->host, "::1");
    for (const char* text : {"", ":80", "1.2.3:80", "1.2.3.4.5:80", "256.1.1.1:80", "1.2.3.4:", "1.2.3.4:+80",
                             "1.2.3.4:0", "1.2.3.010:80", "::1:80", "[]:80", "[::1%eth0]:80", "[host]:80",
                             "1.2.3.4 :80"})
        EXPECT_FALSE(parseListenAddress(text)) << text;
}

TEST(SettingsFile, AValueCannotAddALineOfItsOwn)
{
    MonitorSettings s;
    s.serverName = std::string("evil\nuseBlackList = 1\r\nnoHistory = 1");
    s.useBlackList = 0;
    MonitorSettings loaded;
    EXPECT_TRUE(parseSettings(formatSettings(s), loaded).empty());
    EXPECT_EQ(loaded.useBlackList, 0);
    EXPECT_EQ(loaded.noHistory, 0);
}

TEST(SettingsFile, LoadNamesTheFileAndLineAndAMissingFileIsNoError)
{
    TempDir dir;
    MonitorSettings s;
    const SettingsLoad none = loadSettingsFile(dir / "absent.conf", s);
    EXPECT_FALSE(none.found);
    EXPECT_FALSE(none.error);
    EXPECT_EQ(s.useBlackList, 1);

    dir.write("vantor.conf", "useBlackList = 0\nsmtpServer\n");
    const SettingsLoad load = loadSettingsFile(dir / "vantor.conf", s);
    EXPECT_TRUE(load.found);
    ASSERT_EQ(load.messages.size(), 1u);
    EXPECT_EQ(load.messages[0].rfind((dir / "vantor.conf").string() + ":2: ", 0), 0u) << load.messages[0];
    EXPECT_EQ(s.useBlackList, 0);
}

TEST(SettingsFile, SaveReplacesTheFileWholeOrNotAtAll)
{
    TempDir dir;
    const auto file = dir.path() / "etc" / "vantor.conf";  // the folder is made on the way
    ASSERT_FALSE(saveSettingsFile(file, everythingChanged()));
    MonitorSettings loaded;
    const SettingsLoad load = loadSettingsFile(file, loaded);
    EXPECT_TRUE(load.messages.empty());
    EXPECT_EQ(loaded.useBlackList, 0);
    // Nothing but the file is left in its folder: no temporary beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(file.parent_path()),
                            std::filesystem::directory_iterator()),
              1);

    // A folder that cannot be made (a file stands in its place) is an error that names it, and
    // the program is told rather than left believing the options are kept.
    dir.write("blocker", "x");
    const auto error = saveSettingsFile(dir.path() / "blocker" / "vantor.conf", loaded);
    ASSERT_TRUE(error);
    EXPECT_NE(error->find("blocker"), std::string::npos);
}

#ifndef _WIN32
TEST(SettingsFile, TheStandaloneFileLiesInTheUsersConfigFolder)
{
    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = old ? old : "";
    setenv("XDG_CONFIG_HOME", "/tmp/cfg-test", 1);
    EXPECT_EQ(defaultSettingsFile(), std::filesystem::path("/tmp/cfg-test/vantor/vantor.conf"));
    // A relative XDG path is to be ignored, as the XDG rules say.
    setenv("XDG_CONFIG_HOME", "relative", 1);
    setenv("HOME", std::getenv("HOME") ? std::getenv("HOME") : "/root", 1);
    EXPECT_EQ(defaultSettingsFile(), std::filesystem::path(std::getenv("HOME")) / ".config/vantor/vantor.conf");
    if (old)
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
}
#endif
