// A fault inside the agent's work must not end the program: the thread it hit stops, the rest of
// the program (and the process) goes on, and the fault is told once.
#include "AgentFixture.h"
#include "platform/ThreadGuard.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

using namespace vantor;
using vantor::test::LoopbackAgent;

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
    LoopbackAgent a(host, 2);
    testing::internal::CaptureStderr();
    // The identity needs the snapshot, which throws in the worker serving the command.
    EXPECT_FALSE(a.client->identity("127.0.0.1"));
    a.agent.stop();
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("a console command failed: the table is gone"), std::string::npos) << log;
}

}  // namespace
