// The program as a user starts it: what must work without a display, and a second start on a
// folder that a running Vantor holds.
#include "TempDir.h"
#include "platform/InstanceLock.h"
#include "platform/Process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <unistd.h>

using namespace vantor;

namespace {

class WithoutDisplay : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
            if (const char* v = std::getenv(name))
                m_saved.emplace_back(name, v);
            ::unsetenv(name);
        }
        ::setenv("XDG_DATA_HOME", (m_home.path() / "data").c_str(), 1);
    }
    void TearDown() override
    {
        ::unsetenv("QT_QPA_PLATFORM");
        for (const auto& [name, value] : m_saved)
            ::setenv(name.c_str(), value.c_str(), 1);
    }
    ProcessResult vantor(std::vector<std::string> args)
    {
        args.insert(args.begin(), VANTOR_PROGRAM);
        ProcessOptions options;
        options.timeLimit = std::chrono::seconds(60);
        return runProcess(args, options);
    }
    vantor::test::TempDir m_home;

private:
    std::vector<std::pair<std::string, std::string>> m_saved;
};

}  // namespace

TEST_F(WithoutDisplay, HelpAndVersionAnswer)
{
    auto r = vantor({"--help"});
    EXPECT_TRUE(r.succeeded()) << r.err;
    EXPECT_EQ(r.out.rfind("Usage: vantor", 0), 0u) << r.out;
    r = vantor({"--version"});
    EXPECT_TRUE(r.succeeded()) << r.err;
    EXPECT_EQ(r.out, "vantor " VANTOR_VERSION_TEXT "\n");
    r = vantor({"--bogus"});
    EXPECT_TRUE(r.exitedWith(2));
}

TEST_F(WithoutDisplay, ASecondStartOnAHeldFolderSaysWhoHoldsItAndLeaves)
{
    const auto folder = m_home.path() / "held";
    std::filesystem::create_directories(folder);
    const auto held = InstanceLock::acquire(folder);
    ASSERT_TRUE(held.lock) << held.error;
    const auto r = vantor({"--data-dir", folder.string()});
    EXPECT_TRUE(r.exitedWith(1)) << r.err;
    EXPECT_EQ(r.err, "Vantor is already running with this data folder (pid " + std::to_string(::getpid()) + ")\n");
}

TEST_F(WithoutDisplay, ASecondStartBringsTheRunningWindowUpAndLeaves)
{
    const auto folder = m_home.path() / "shared";
    std::filesystem::create_directories(folder);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ChildProcess first;
    ChildProcess::Options options;
    options.outputFile = (m_home.path() / "first.log").string();
    std::string error;
    ASSERT_TRUE(first.start({VANTOR_PROGRAM, "--data-dir", folder.string()}, options, error)) << error;

    // Until the running one listens, a second start can only say who holds the folder.
    ProcessResult second;
    for (int attempt = 0; attempt < 100 && first.running(); ++attempt) {
        if (InstanceLock::acquire(folder).holder) {
            second = vantor({"--data-dir", folder.string()});
            if (second.exitedWith(0))
                break;
            EXPECT_TRUE(second.exitedWith(1)) << second.err;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    EXPECT_TRUE(second.exitedWith(0)) << second.err;
    EXPECT_NE(second.err.find("its window is brought up"), std::string::npos) << second.err;
    EXPECT_TRUE(first.running());
    first.stop();
}
