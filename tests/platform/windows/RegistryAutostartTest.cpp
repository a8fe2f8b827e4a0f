#include "platform/netapi/RegistryAutostart.h"

#include "WineDetect.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <optional>

using namespace vantor;
using namespace vantor::windows;

namespace {

// The stored value as RegQueryValueExA gives it: type and bytes, terminating zero included.
struct StoredValue {
    DWORD type = 0;
    std::string bytes;
};

std::optional<StoredValue> readValue(HKEY root, const std::string& keyPath)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::nullopt;
    StoredValue value;
    DWORD size = 0;
    LSTATUS status = RegQueryValueExA(key, autostartValueName, nullptr, &value.type, nullptr, &size);
    if (status == ERROR_SUCCESS) {
        value.bytes.resize(size);
        status = RegQueryValueExA(key, autostartValueName, nullptr, &value.type,
                                  reinterpret_cast<BYTE*>(value.bytes.data()), &size);
    }
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return std::nullopt;
    return value;
}

// A key of its own under HKEY_CURRENT_USER, removed with everything in it afterwards.
class RegistryAutostartTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        keyPath = "Software\\VantorTest\\Run" + std::to_string(GetCurrentProcessId());
        RegDeleteTreeA(HKEY_CURRENT_USER, keyPath.c_str());
    }
    void TearDown() override
    {
        RegDeleteTreeA(HKEY_CURRENT_USER, keyPath.c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\VantorTest");
    }

    std::string keyPath;
};

TEST_F(RegistryAutostartTest, EnableWritesThePathAsAStringWithItsTerminatingZero)
{
    RegistryAutostart autostart(HKEY_CURRENT_USER, keyPath);
    EXPECT_FALSE(autostart.isEnabled());
    // Removing what is not there, not even the key, is no failure.
    EXPECT_TRUE(autostart.disable().ok());

    const std::string exe = "C:\\Program Files\\Vantor\\vantor.exe";
    ASSERT_TRUE(autostart.enable(exe).ok());
    EXPECT_TRUE(autostart.isEnabled());
    const auto stored = readValue(HKEY_CURRENT_USER, keyPath);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(stored->bytes, exe + '\0');  // not quoted

    // Writing again replaces the value; disabling removes it and leaves the key.
    ASSERT_TRUE(autostart.enable("D:\\vantor.exe").ok());
    EXPECT_EQ(readValue(HKEY_CURRENT_USER, keyPath)->bytes, std::string("D:\\vantor.exe") + '\0');
    EXPECT_TRUE(autostart.disable().ok());
    EXPECT_FALSE(autostart.isEnabled());
    EXPECT_FALSE(readValue(HKEY_CURRENT_USER, keyPath));
    EXPECT_TRUE(autostart.disable().ok());
}

TEST_F(RegistryAutostartTest, AnyValueCountsButOnlyUpToTheReadLimit)
{
    RegistryAutostart autostart(HKEY_CURRENT_USER, keyPath);
    ASSERT_TRUE(autostart.enable("").ok());  // the content is not examined
    EXPECT_TRUE(autostart.isEnabled());

    // 999 characters and the terminating zero fill the 1,000-byte buffer exactly; one more does not fit.
    ASSERT_TRUE(autostart.enable(std::string(999, 'x')).ok());
    EXPECT_TRUE(autostart.isEnabled());
    ASSERT_TRUE(autostart.enable(std::string(1000, 'x')).ok());
    EXPECT_FALSE(autostart.isEnabled());
}

TEST_F(RegistryAutostartTest, FailuresCarryTheSystemText)
{
    // A root that is no open key: every call fails the way a denied HKEY_LOCAL_MACHINE does.
    RegistryAutostart broken(reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x7ff0)), "Run");
    EXPECT_FALSE(broken.isEnabled());
    const NetStatus status = broken.enable("C:\\vantor.exe");
    EXPECT_FALSE(status.ok());
    EXPECT_FALSE(status.text.empty());
    EXPECT_FALSE(broken.disable().ok());
}

TEST_F(RegistryAutostartTest, ThePlatformFactoryTakesATestKeyUnderTheCurrentUser)
{
    auto autostart = createPlatformAutostart(keyPath);
    ASSERT_TRUE(autostart->enable("C:\\vantor.exe").ok());
    EXPECT_TRUE(readValue(HKEY_CURRENT_USER, keyPath));
    EXPECT_TRUE(autostart->disable().ok());
}

// The machine-wide value itself, written only inside Wine's throw-away prefix: on a real Windows
// machine this would change what starts at log-on.
TEST(RegistryAutostartMachine, TheRunValueOfTheLocalMachine)
{
    if (!vantor::test::runningUnderWine())
        GTEST_SKIP() << "changes the machine's autostart; run only under Wine";
    auto autostart = createPlatformAutostart();
    ASSERT_TRUE(autostart->disable().ok());
    EXPECT_FALSE(autostart->isEnabled());
    const std::string exe = executablePath().string();
    ASSERT_TRUE(autostart->enable(exe).ok());
    EXPECT_TRUE(autostart->isEnabled());
    const auto stored = readValue(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Run");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->bytes, exe + '\0');
    EXPECT_TRUE(autostart->disable().ok());
    EXPECT_FALSE(autostart->isEnabled());
}

}  // namespace
