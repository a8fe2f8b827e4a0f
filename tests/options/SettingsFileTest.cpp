#include "options/SettingsFile.h"

#include "base/ConsoleAllowList.h"
#include "base/ListenAddress.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>

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

class SettingsBadLine : public testing::TestWithParam<BadLine> { };

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
                    BadLine{"reportLimitIndex = 99999999999", "number"}, BadLine{"dailyReportTime = 2359", "hh:mm"},
                    BadLine{"reportPath = report.txt", ".htm"}, BadLine{"reportPath =", ".htm"},
                    BadLine{"hideLocalUsers = 0", "set again"},
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
    for (const char* text :
         {"", ":80", "1.2.3:80", "1.2.3.4.5:80", "256.1.1.1:80", "1.2.3.4:", "1.2.3.4:+80", "1.2.3.4:0", "1.2.3.010:80",
          "::1:80", "[]:80", "[::1%eth0]:80", "[host]:80", "1.2.3.4 :80"})
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
    EXPECT_EQ(
        std::distance(std::filesystem::directory_iterator(file.parent_path()), std::filesystem::directory_iterator()),
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

TEST(SettingsFile, SavingChangesOnlyTheChangedValuesAndKeepsTheAdministratorsLines)
{
    const std::string before = "# Vantor, set up by the administrator\r\n"
                               "useBlackList = 0\r\n"
                               "\n"
                               "  # the relay of the head office\n"
                               "smtpServer = relay.corp.test   \n"
                               "anOptionOfANewerVersion = 7\n"
                               "smtpPort = seven\n"
                               "smtpServer = second.line.test\n"
                               "noHistory = 1";
    MonitorSettings s;
    parseSettings(before, s);
    EXPECT_EQ(updateSettingsText(before, s), before);  // nothing changed, not a byte

    s.smtpServer = "relay2.corp.test";
    s.smtpPort = 587;  // its line was bad: the default held, and now the new value does
    s.mailOnNewUser = 1;  // no line of its own yet
    const std::string after = updateSettingsText(before, s);
    EXPECT_EQ(after, "# Vantor, set up by the administrator\r\n"
                     "useBlackList = 0\r\n"
                     "\n"
                     "  # the relay of the head office\n"
                     "smtpServer = relay2.corp.test\n"
                     "anOptionOfANewerVersion = 7\n"
                     "smtpPort = 587\n"
                     "smtpServer = second.line.test\n"
                     "noHistory = 1\n"
                     "mailOnNewUser = 1\n");
    MonitorSettings loaded;
    parseSettings(after, loaded);
    EXPECT_EQ(formatSettings(loaded), formatSettings(s));

    // Through the file: the comments of the sample stay where they were.
    TempDir dir;
    dir.write("vantor.conf", before);
    ASSERT_FALSE(saveSettingsFile(dir / "vantor.conf", s));
    std::ifstream in(dir / "vantor.conf", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), after);
}

TEST(SettingsFile, ConsoleAndServerListsAreReadStrictly)
{
    const ConsoleAllowList list = parseConsoleAllowList(" 192.168.1.20,10.0.0.0/24\t127.0.0.1/32, 0.0.0.0/0 ,");
    ASSERT_FALSE(list.error);
    EXPECT_EQ(list.networks, (std::vector<Ipv4Network>{{0xC0A80114, 32}, {0x0A000000, 24}, {0x7F000001, 32}, {0, 0}}));
    const std::vector<Ipv4Network> lan = parseConsoleAllowList("192.168.1.77/26, 10.9.8.7").networks;
    EXPECT_EQ(lan[0], (Ipv4Network{0xC0A80140, 26}));  // the host bits go
    for (const char* in : {"192.168.1.64", "192.168.1.127", "10.9.8.7"})
        EXPECT_TRUE(consoleAllowed(lan, in)) << in;
    for (const char* out : {"192.168.1.63", "192.168.1.128", "10.9.8.6", "", "192.168.1.070", "::ffff:10.9.8.7"})
        EXPECT_FALSE(consoleAllowed(lan, out)) << out;
    EXPECT_TRUE(parseConsoleAllowList("").networks.empty());
    EXPECT_FALSE(parseConsoleAllowList("").error);

    // One bad entry and nothing is allowed: a typing mistake must not let in more than meant.
    for (const char* bad : {"10.0.0.1, pc07", "10.0.0.0/33", "10.0.0.0/", "10.0.0.0/08", "10.0.0/24", "::1",
                            "10.0.0.1/24/8", "10.0.0.256", "10.0.0.1;10.0.0.2"}) {
        const ConsoleAllowList refused = parseConsoleAllowList(bad);
        EXPECT_TRUE(refused.error) << bad;
        EXPECT_TRUE(refused.networks.empty()) << bad;
    }
    MonitorSettings s;
    const auto problems =
        parseSettings("consoleListen = pc07\nconsoleAllow = 10.0.0.1, pc07\nconsoleListen = 1.2.3.4\n", s);
    ASSERT_EQ(problems.size(), 3u);
    EXPECT_NE(problems[1].text.find("\"pc07\""), std::string::npos) << problems[1].text;
    EXPECT_EQ(s.consoleListen, "");
    EXPECT_EQ(s.consoleAllow, "");

    EXPECT_TRUE(remoteServerListed("fs1, FS2.corp.test ,fs3", "\\\\fs2.CORP.test"));
    EXPECT_TRUE(remoteServerListed("", ""));  // this computer
    EXPECT_TRUE(remoteServerListed("fs1, FS2.corp.test ,fs3", "fs1 "));
    for (const char* other : {"fs", "fs2", "fs4", "corp.test", "fs1, fs3"})
        EXPECT_FALSE(remoteServerListed("fs1, FS2.corp.test ,fs3", other)) << other;
    EXPECT_FALSE(remoteServerListed("", "fs1"));
}

// The sample configuration the package installs speaks of every option of the table and of no
// other, each line (the commented examples too) loads without a problem, and what it sets is the
// service's defaults: an administrator who reads it reads what the service does unconfigured.
TEST(SettingsFile, TheSampleConfigurationNamesEveryOptionWithItsDefault)
{
    std::ifstream in(std::string(VANTOR_SOURCE_DIR) + "/src/service/vantor.conf");
    ASSERT_TRUE(in) << "src/service/vantor.conf";
    std::string line, active, examples;
    std::set<std::string> named;
    while (std::getline(in, line)) {
        const auto eq = line.find(" =");
        const bool example = line.rfind("#", 0) == 0 && eq != std::string::npos && line.find(' ') == eq;
        if (line.empty() || (line[0] == '#' && !example))
            continue;
        (example ? examples : active) += (example ? line.substr(1) : line) + "\n";
        named.insert(line.substr(example ? 1 : 0, eq - (example ? 1 : 0)));
    }
    std::set<std::string> keys;
    for (const SettingKey& key : settingKeys())
        keys.insert(key.name);
    EXPECT_EQ(named, keys);

    MonitorSettings loaded;
    for (const auto& problem : parseSettings(active, loaded))
        ADD_FAILURE() << "line " << problem.line << ": " << problem.text;
    MonitorSettings tried;
    EXPECT_TRUE(parseSettings(examples, tried).empty()) << examples;

    MonitorSettings defaults;
    defaults.historyDays = 90;  // the service's own default (vantord)
    for (const SettingKey& key : settingKeys())
        EXPECT_EQ(key.write(loaded), key.write(defaults)) << key.name;
}
