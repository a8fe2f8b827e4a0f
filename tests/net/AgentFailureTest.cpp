// A fault inside the agent's work must not end the program: the thread it hit stops, the rest of
// the program (and the process) goes on, and the fault is told once.
#include "FreePort.h"
#include "console/ConsoleAgent.h"
#include "console/ConsoleClient.h"
#include "platform/ThreadGuard.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

using namespace vantor;

namespace {

class BrokenHost final : public ConsoleAgentHost {
public:
    SessionsSnapshotPtr snapshot() override { throw std::runtime_error("the table is gone"); }
    void closeSessionByName(const std::string&, const std::string&) override { }
    void closeAllSessions() override { }
    std::filesystem::path generateReport() override { return {}; }
    void deleteLogs() override { }
    std::string hostName() override { return "pc"; }
    void showBox(const BoxRequest&) override { }
};

TEST(ThreadGuard, CatchesAndTellsEachFailureOnce)
{
    std::ostringstream log;
    EXPECT_TRUE(runGuarded(
        "work", [] {}, log));
    EXPECT_FALSE(runGuarded(
        "the test's worker", [] { throw std::runtime_error("disk on fire"); }, log));
    EXPECT_FALSE(runGuarded(
        "the test's worker", [] { throw std::runtime_error("disk on fire"); }, log));
    EXPECT_FALSE(runGuarded(
        "the test's worker", [] { throw 42; }, log));
    EXPECT_EQ(log.str(), "vantor: the test's worker failed: disk on fire\n"
                         "vantor: the test's worker failed: an unknown exception\n");
}

TEST(ThreadGuard, AnAgentThreadThatThrowsStopsAloneAndTheProgramGoesOn)
{
    BrokenHost host;
    ConsoleAgent::Config config;
    config.bindAddress = "127.0.0.1";
    config.commandPort = 0;
    config.discoveryPort = 0;
    config.waitSeconds = 1;
    ConsoleAgent agent(host, config);
    agent.start();
    ASSERT_TRUE(agent.commandActive());

    console::ConsoleClient::Config clientConfig;
    clientConfig.commandPort = agent.commandPort();
    clientConfig.timeoutSeconds = 2;
    console::ConsoleClient client(clientConfig);
    testing::internal::CaptureStderr();
    // The identity needs the snapshot, which throws in the worker serving the command.
    EXPECT_FALSE(client.identity("127.0.0.1"));
    agent.stop();
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("a console command failed: the table is gone"), std::string::npos) << log;
}

}  // namespace
