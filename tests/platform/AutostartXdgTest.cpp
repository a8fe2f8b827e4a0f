#include "TempDir.h"
#include "platform/AutostartXdg.h"
#include "platform/SystemError.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>

using namespace vantor;
using vantor::test::TempDir;

namespace {

TEST(DesktopExec, QuotesTheProgramPathAsTheFormatWants)
{
    EXPECT_EQ(desktopExecArgument("/usr/bin/vantor"), "\"/usr/bin/vantor\"");
    EXPECT_EQ(desktopExecArgument("/opt/my apps/vantor"), "\"/opt/my apps/vantor\"");
    // A literal backslash takes four, a dollar sign two backslashes; '%' is doubled.
    EXPECT_EQ(desktopExecArgument("/a\\b"), "\"/a\\\\\\\\b\"");
    EXPECT_EQ(desktopExecArgument("/$HOME/x"), "\"/\\\\$HOME/x\"");
    EXPECT_EQ(desktopExecArgument("/100%/x"), "\"/100%%/x\"");
    EXPECT_EQ(desktopExecArgument("/say \"hi\"/`x`"), "\"/say \\\\\"hi\\\\\"/\\\\`x\\\\`\"");
    // A line break must not end the Exec line.
    EXPECT_EQ(desktopExecArgument("/a\nb"), "\"/a\\nb\"");
}

TEST(XdgAutostart, WritesReadsAndRemovesTheEntry)
{
    TempDir root;
    auto autostart = createPlatformAutostart(root / "etc/xdg/autostart");
    EXPECT_FALSE(autostart->isEnabled());
    EXPECT_TRUE(autostart->disable().ok());  // nothing to remove is a success

    ASSERT_TRUE(autostart->enable("/opt/vantor/bin/vantor").ok());
    EXPECT_TRUE(autostart->isEnabled());
    std::string entry = root.read("etc/xdg/autostart/vantor.desktop");
    EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_NE(entry.find("\nType=Application\n"), std::string::npos);
    EXPECT_NE(entry.find("\nExec=\"/opt/vantor/bin/vantor\"\n"), std::string::npos);
    struct stat st { };
    ASSERT_EQ(stat((root / "etc/xdg/autostart/vantor.desktop").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);  // every user's session must read it

    // Writing again replaces it, and leaves no temporary file behind.
    ASSERT_TRUE(autostart->enable("/usr/bin/vantor").ok());
    EXPECT_NE(root.read("etc/xdg/autostart/vantor.desktop").find("Exec=\"/usr/bin/vantor\"\n"), std::string::npos);
    int files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(root / "etc/xdg/autostart"))
        ++files;
    EXPECT_EQ(files, 1);

    ASSERT_TRUE(autostart->disable().ok());
    EXPECT_FALSE(autostart->isEnabled());
    EXPECT_FALSE(std::filesystem::exists(root / "etc/xdg/autostart/vantor.desktop"));
}

TEST(XdgAutostart, ARefusedWriteGivesTheSystemsText)
{
    TempDir root;
    root.write("blocker", "a file where the directory should be");
    auto autostart = createPlatformAutostart(root / "blocker" / "autostart");
    NetStatus status = autostart->enable("/usr/bin/vantor");
    EXPECT_FALSE(status.ok());
    EXPECT_EQ(status.code, static_cast<uint32_t>(ENOTDIR));
    EXPECT_EQ(status.text, systemErrorText(ENOTDIR));
    EXPECT_FALSE(autostart->isEnabled());
}

TEST(XdgAutostart, OnlyAReadableFileCountsAsTheEntry)
{
    TempDir root;
    std::filesystem::create_directories(root / "autostart" / "vantor.desktop");
    XdgAutostart autostart(root / "autostart");
    EXPECT_FALSE(autostart.isEnabled());  // a directory of that name is no entry
    EXPECT_FALSE(autostart.disable().ok());
}

TEST(XdgAutostart, AUsersEntryStandsInForTheMachineWideOne)
{
    TempDir root;
    ASSERT_TRUE(XdgAutostart(root / "etc/autostart").enable("/usr/bin/vantor").ok());
    XdgAutostart user(root / "etc/autostart", root / "home/autostart");
    EXPECT_TRUE(user.isEnabled());  // the machine-wide entry starts it for this user too

    // Switched off: the machine-wide entry stays (root's), hidden for this user alone.
    ASSERT_TRUE(user.disable().ok());
    EXPECT_FALSE(user.isEnabled());
    EXPECT_TRUE(XdgAutostart(root / "etc/autostart").isEnabled());
    EXPECT_TRUE(desktopEntryHidden(root.read("home/autostart/vantor.desktop")));

    ASSERT_TRUE(user.enable("/opt/vantor/bin/vantor").ok());
    EXPECT_TRUE(user.isEnabled());
    EXPECT_NE(root.read("home/autostart/vantor.desktop").find("\nExec=\"/opt/vantor/bin/vantor\"\n"),
              std::string::npos);

    // Without a machine-wide entry, switching off removes the user's own.
    std::filesystem::remove(root / "etc/autostart/vantor.desktop");
    ASSERT_TRUE(user.disable().ok());
    EXPECT_FALSE(std::filesystem::exists(root / "home/autostart/vantor.desktop"));
    EXPECT_FALSE(user.isEnabled());
}

TEST(DesktopEntry, HiddenCountsOnlyAsTrueInTheMainGroup)
{
    EXPECT_TRUE(desktopEntryHidden("[Desktop Entry]\nName=x\nHidden = true\r\n"));
    EXPECT_FALSE(desktopEntryHidden("[Desktop Entry]\nHidden=false\n"));
    EXPECT_FALSE(desktopEntryHidden("[Desktop Entry]\nHidden=True\n"));  // values are case-sensitive
    EXPECT_FALSE(desktopEntryHidden("[Desktop Entry]\n#Hidden=true\n"));
    EXPECT_FALSE(desktopEntryHidden("[Desktop Action x]\nHidden=true\n"));
    EXPECT_FALSE(desktopEntryHidden("Hidden=true"));  // before any group
}

}  // namespace
