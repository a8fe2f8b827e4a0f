#include "service/ServiceCommandLine.h"
#include "service/ServiceLog.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace vantor;

TEST(ServiceCommandLine, DefaultsAndEveryOption)
{
    const auto none = parseServiceCommandLine({});
    EXPECT_TRUE(none.error.empty());
    EXPECT_EQ(none.options.config, "/etc/vantor/vantor.conf");
    EXPECT_EQ(none.options.dataDir, "/var/lib/vantor");
    EXPECT_FALSE(none.options.sambaConfig);
    EXPECT_FALSE(none.options.commandPort);

    const auto all =
        parseServiceCommandLine({"--config", "/c", "--data-dir", "/d", "--samba-config", "/s", "--command-port",
                                 "40000", "--discovery-port", "40001", "--listen", "127.0.0.1"});
    EXPECT_TRUE(all.error.empty()) << all.error;
    EXPECT_EQ(all.options.config, "/c");
    EXPECT_EQ(all.options.dataDir, "/d");
    EXPECT_EQ(all.options.sambaConfig, "/s");
    EXPECT_EQ(all.options.commandPort, 40000);
    EXPECT_EQ(all.options.discoveryPort, 40001);
    EXPECT_EQ(all.options.listen, "127.0.0.1");
    EXPECT_TRUE(parseServiceCommandLine({"--version"}).options.version);
    EXPECT_TRUE(parseServiceCommandLine({"--help"}).options.help);
}

TEST(ServiceCommandLine, RefusesWhatItCannotUse)
{
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--config"},
                                                 {"--config", ""},
                                                 {"--command-port", "0"},
                                                 {"--command-port", "65536"},
                                                 {"--discovery-port", "12ab"},
                                                 {"--demo"},
                                                 {"config"}}) {
        EXPECT_FALSE(parseServiceCommandLine(args).error.empty()) << args[0];
    }
}

TEST(ServiceLog, OneLinePerEventWithItsLevel)
{
    EXPECT_EQ(formatLogLine(LogLevel::Error, "poll failed", true), "<3>poll failed\n");
    EXPECT_EQ(formatLogLine(LogLevel::Notice, "new user", true), "<5>new user\n");
    EXPECT_EQ(formatLogLine(LogLevel::Warning, "mail failed", false), "vantord: warning: mail failed\n");
    // A name from the network cannot forge a second line (or a priority of its own).
    EXPECT_EQ(formatLogLine(LogLevel::Info, "new user a\n<0>b", true), "<6>new user a <0>b\n");
}

TEST(ServiceLog, BoxesBecomeLinesAndAPollsErrorBoxIsLeftToTheEngine)
{
    std::ostringstream out;
    ServiceLog log(out, true);
    bool polling = false;
    LogBoxes boxes(log, [&] { return polling; });
    EXPECT_EQ(boxes.show({"Error", "can't create socket", BoxIcon::Error, BoxButtons::Ok, nullptr}), BoxAnswer::Ok);
    polling = true;
    boxes.show({"Error", "smbd is not running", BoxIcon::Information, BoxButtons::Ok, nullptr});
    boxes.show({"Warning", "white list is empty", BoxIcon::Warning, BoxButtons::Ok, nullptr});
    // Nobody can agree to anything on the service's behalf.
    EXPECT_EQ(boxes.show({"Vantor", "Clear?", BoxIcon::Warning, BoxButtons::YesNo, nullptr}), BoxAnswer::No);
    EXPECT_EQ(out.str(), "<3>can't create socket\n<4>white list is empty\n<4>Clear?\n");
}
