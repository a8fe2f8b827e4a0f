// A demo that is killed cannot stop its server or remove its accounts; the next demo start does.
#include "platform/Process.h"
#include "demo/PrivateSambaServer.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace vantor;
using namespace vantor::samba;

namespace {

bool accountExists(const std::string& name)
{
    return ::getpwnam(name.c_str()) != nullptr;
}

std::vector<std::string> linesOf(const std::filesystem::path& file)
{
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

}  // namespace

TEST(KilledDemo, TheNextStartStopsAndRemovesWhatItLeft)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root (the demo's clients are real accounts)";
    // A prefix of this run alone, so that parallel runs never touch each other's servers.
    const std::string prefix = "vantor-kdt" + std::to_string(::getpid());
    struct Sweep {
        std::string prefix;
        ~Sweep() { PrivateSambaServer::removeAbandoned(prefix); }
    } sweepEvenOnFailure{prefix};

    const std::string output = "/tmp/" + prefix + ".out";
    std::vector<std::string> said;
    {
        ChildProcess demo;
        ChildProcess::Options options;
        options.newSession = true;
        options.outputFile = output;
        std::string error;
        ASSERT_TRUE(demo.start({VANTOR_KILLED_DEMO_HELPER, prefix}, options, error)) << error;
        for (int i = 0; i < 600 && demo.running() && said.size() < 2; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            said = linesOf(output);
        }
        ASSERT_GE(said.size(), 2u) << "the demo did not start";
        ::kill(demo.pid(), SIGKILL);
        for (int i = 0; i < 100 && demo.running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(demo.running());
    }
    std::filesystem::remove(output);
    const std::filesystem::path root = said[0];
    const std::string account = said[1];
    const std::string config = (root / "smb.conf").string();

    // What the killed demo left: its server, its account and its folder (its client ends by itself
    // when its input closes, but is looked for too).
    EXPECT_TRUE(std::filesystem::exists(root));
    EXPECT_TRUE(accountExists(account));
    EXPECT_FALSE(processesWithArgument(config).empty());

    // A demo that still runs keeps everything.
    PrivateSambaServer::Options running;
    running.rootPrefix = prefix;
    running.traceable = true;
    PrivateSambaServer alive(running);
    std::string error;
    ASSERT_TRUE(alive.start(error)) << error;

    const auto removed = PrivateSambaServer::removeAbandoned(prefix);
    EXPECT_EQ(removed, std::vector<std::filesystem::path>{root});
    EXPECT_FALSE(std::filesystem::exists(root));
    EXPECT_FALSE(accountExists(account));
    EXPECT_TRUE(processesWithArgument(config).empty());
    EXPECT_TRUE(processesWithArgument(account + "%").empty());

    EXPECT_TRUE(std::filesystem::exists(alive.root()));
    EXPECT_TRUE(alive.smbdRunning());
    alive.stop();
}
