#include "platform/Paths.h"
#include "platform/SystemError.h"
#include "platform/netapi/ShellExplorer.h"
#include "platform/netapi/WindowsError.h"

#include "WineDetect.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace vantor;
using namespace vantor::windows;

namespace {

TEST(WindowsPaths, FilesLieBesideTheExecutable)
{
    const std::filesystem::path dir = executableDirectory();
    const std::filesystem::path exe = executablePath();
    EXPECT_TRUE(exe.is_absolute());
    EXPECT_EQ(exe.extension(), ".exe");
    EXPECT_EQ(exe.parent_path(), dir);
    EXPECT_TRUE(std::filesystem::exists(exe));
    EXPECT_EQ(defaultDataDirectory(), dir);
    // The separator that makes a report name a path is the backslash.
    EXPECT_EQ(resolveInDataDir(dir, "report.html"), dir / "report.html");
    EXPECT_EQ(resolveInDataDir(dir, "C:\\www\\report.html"), std::filesystem::path("C:\\www\\report.html"));
}

TEST(WindowsErrors, TextsComeFromTheSystemAndTheNetworkMessages)
{
    const std::string denied = systemErrorText(5);
    EXPECT_NE(denied.find("ccess"), std::string::npos) << denied;  // "Access is denied."
    EXPECT_NE(denied.back(), '\n');
    EXPECT_NE(denied.back(), '\r');

    EXPECT_EQ(windowsErrorText(0x7fff1234), "Error " + std::to_string(0x7fff1234));
}

TEST(WindowsErrors, NetworkManagementCodesAreLookedUpInTheirOwnMessages)
{
#ifndef VANTOR_TEST_NETMSG
    GTEST_SKIP() << "built without a message compiler: no stand-in for netmsg.dll";
#endif
    // NERR_ServerNotStarted lives in netmsg.dll, not in the system table. Wine has no netmsg.dll,
    // so a module of the same kind stands in for it.
    const std::wstring messages = (executableDirectory() / "vantor_test_netmsg.dll").wstring();
    EXPECT_EQ(windowsErrorText(2114, messages), "The Server service is not started.");
    EXPECT_EQ(windowsErrorText(2312, messages), "A session does not exist with that computer name.");
    // Codes outside the network range never come from that module.
    EXPECT_NE(windowsErrorText(5, messages).find("ccess"), std::string::npos);
    // A module that lacks the text, or is missing, leaves the code's own fallback.
    EXPECT_EQ(windowsErrorText(2999, messages), "Error 2999");
    EXPECT_EQ(windowsErrorText(2114, L"no-such-module-vantor.dll"), "Error 2114");
    if (!vantor::test::runningUnderWine()) {
        EXPECT_NE(windowsErrorText(2114), "Error 2114");
    }
}

struct ShellCall {
    HWND owner = nullptr;
    std::string verb, file, directory;
    bool parameters = false;
    INT show = 0;
};
ShellCall lastShellCall;
HINSTANCE shellAnswer = nullptr;

HINSTANCE WINAPI recordShellExecute(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory, INT show)
{
    lastShellCall = {owner, verb, file, directory ? directory : "", parameters != nullptr, show};
    return shellAnswer;
}

TEST(ShellExplorer, ExploresTheFolderOrTheComputersNetworkPath)
{
    ShellExplorer shell(&recordShellExecute);
    shellAnswer = reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(42));
    HWND window = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));

    EXPECT_TRUE(shell.exploreFolder("C:\\Shares\\Docs", window));
    EXPECT_EQ(lastShellCall.owner, window);
    EXPECT_EQ(lastShellCall.verb, "explore");
    EXPECT_EQ(lastShellCall.file, "C:\\Shares\\Docs");
    EXPECT_EQ(lastShellCall.directory, "C:\\Shares\\Docs");
    EXPECT_FALSE(lastShellCall.parameters);
    EXPECT_EQ(lastShellCall.show, SW_SHOW);

    shellAnswer = reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(SE_ERR_FNF));
    EXPECT_FALSE(shell.exploreComputer("PC1", nullptr));
    EXPECT_EQ(lastShellCall.file, "\\\\PC1");
    EXPECT_EQ(lastShellCall.directory, "\\\\PC1");
}

}  // namespace
