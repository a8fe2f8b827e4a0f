#include "TempDir.h"
#include "platform/InstanceLock.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace vantor;
using vantor::test::TempDir;

TEST(InstanceLock, OneHolderPerFolderUntilItLetsGo)
{
    TempDir dir, other;
    auto first = InstanceLock::acquire(dir.path());
    ASSERT_TRUE(first.lock) << first.error;

    // A second start on the same folder learns who holds it; another folder is free.
    const auto second = InstanceLock::acquire(dir.path());
    EXPECT_FALSE(second.lock);
    ASSERT_TRUE(second.holder);
    EXPECT_EQ(*second.holder, static_cast<long>(::getpid()));
    EXPECT_EQ(alreadyRunningText(*second.holder),
              "Vantor is already running with this data folder (pid " + std::to_string(::getpid()) + ")");
    EXPECT_TRUE(InstanceLock::acquire(other.path()).lock);

    first.lock.reset();
    EXPECT_TRUE(InstanceLock::acquire(dir.path()).lock) << "released when the holder ends";

    // The lock file is written to, perhaps as root: a link planted in its place is not followed.
    TempDir planted, fresh;
    planted.write("target", "precious");
    std::filesystem::create_symlink(planted / "target", fresh / InstanceLock::fileName);
    const auto linked = InstanceLock::acquire(fresh.path());
    EXPECT_FALSE(linked.lock);
    EXPECT_FALSE(linked.holder);
    EXPECT_NE(linked.error.find(InstanceLock::fileName), std::string::npos) << linked.error;
    EXPECT_EQ(planted.read("target"), "precious");
}
