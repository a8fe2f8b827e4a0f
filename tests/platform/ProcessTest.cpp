#include "platform/Process.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fcntl.h>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace vantor;
using namespace std::chrono_literals;

namespace {

std::size_t openFdCount()
{
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

// Alive and not a zombie.
bool processAlive(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return false;
    auto close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

TEST(Process, CapturesBothStreamsAndTheExitCode)
{
    auto r = runProcess({"/bin/sh", "-c", "echo out; echo err >&2; exit 3"});
    EXPECT_EQ(r.outcome, ProcessResult::Outcome::Exited);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.out, "out\n");
    EXPECT_EQ(r.err, "err\n");
    EXPECT_FALSE(r.succeeded());

    // Arguments reach the tool as they are: no shell splits or expands them.
    r = runProcess({"printf", "%s|", "a b", "$HOME", "*"});
    EXPECT_TRUE(r.succeeded());
    EXPECT_EQ(r.out, "a b|$HOME|*|");

    // Large outputs on both streams at once must not deadlock on a full pipe.
    r = runProcess({"/bin/sh", "-c", "head -c 3000000 /dev/zero; head -c 2000000 /dev/zero >&2"});
    EXPECT_TRUE(r.succeeded());
    EXPECT_EQ(r.out.size(), 3'000'000u);
    EXPECT_EQ(r.err.size(), 2'000'000u);

    ProcessOptions in;
    in.input = "line one\nline two\n";
    r = runProcess({"cat"}, in);
    EXPECT_EQ(r.out, in.input);
}

TEST(Process, ReportsWhyAToolDidNotEndNormally)
{
    auto r = runProcess({"/nonexistent/tool"});
    EXPECT_EQ(r.outcome, ProcessResult::Outcome::StartFailed);
    EXPECT_EQ(r.startError, ENOENT);
    r = runProcess({"no-such-tool-on-the-path-xyz"});
    EXPECT_EQ(r.outcome, ProcessResult::Outcome::StartFailed);
    EXPECT_EQ(r.startError, ENOENT);

    r = runProcess({"/bin/sh", "-c", "kill -9 $$"});
    EXPECT_EQ(r.outcome, ProcessResult::Outcome::Signalled);
    EXPECT_EQ(r.signal, SIGKILL);

    ProcessOptions small;
    small.maxOutput = 1000;
    r = runProcess({"/bin/sh", "-c", "while :; do echo xxxxxxxxxxxxxxxx; done"}, small);
    EXPECT_EQ(r.outcome, ProcessResult::Outcome::OutputTooLarge);
}

TEST(Process, TimeLimitKillsTheToolAndWhatItStarted)
{
    ProcessOptions o;
    o.timeLimit = 300ms;
    const auto start = std::chrono::steady_clock::now();
    // The background sleep keeps the pipes open: only killing the group ends the wait.
    auto r = runProcess({"/bin/sh", "-c", "sleep 30 & echo $!; wait"}, o);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.outcome, ProcessResult::Outcome::TimedOut);
    EXPECT_LT(took, 5s);
    const pid_t grandchild = std::atoi(r.out.c_str());
    ASSERT_GT(grandchild, 0) << r.out;
    bool gone = false;
    for (int i = 0; i < 100 && !gone; ++i) {
        gone = !processAlive(grandchild);
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(gone);

    // A tool that closes its output but goes on running is caught by the limit too.
    r = runProcess({"/bin/sh", "-c", "exec >&- 2>&-; sleep 30"}, o);
    EXPECT_EQ(r.outcome, ProcessResult::Outcome::TimedOut);
}

TEST(Process, ParallelRunsLeakNoDescriptorsAndNoChildren)
{
    const std::size_t fdsBefore = openFdCount();
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                ProcessOptions o;
                o.timeLimit = i % 5 == 0 ? 50ms : 5000ms;
                auto r =
                    runProcess({"/bin/sh", "-c", i % 5 == 0 ? "sleep 5" : "echo " + std::to_string(t * 100 + i)}, o);
                const bool right = i % 5 == 0 ? r.outcome == ProcessResult::Outcome::TimedOut
                                              : r.out == std::to_string(t * 100 + i) + "\n";
                if (!right)
                    ++failures;
            }
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(openFdCount(), fdsBefore);
    int status = 0;
    EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST(ChildProcess, FeedsInputAndStopsWithinBoundedTime)
{
    test::TempDir dir;
    const auto log = dir / "out.txt";
    {
        ChildProcess cat;
        std::string error;
        ChildProcess::Options o;
        o.inputPipe = true;
        o.outputFile = log.string();
        ASSERT_TRUE(cat.start({"cat"}, o, error)) << error;
        EXPECT_TRUE(cat.writeInput("hello\n"));
        cat.closeInput();
        for (int i = 0; i < 100 && cat.running(); ++i)
            std::this_thread::sleep_for(10ms);
        EXPECT_FALSE(cat.running());
        EXPECT_EQ(dir.read("out.txt"), "hello\n");
    }

    // A child that ignores SIGTERM is killed after the grace time; writing to a child that has gone
    // fails instead of raising SIGPIPE.
    ChildProcess stubborn;
    std::string error;
    ChildProcess::Options o;
    o.inputPipe = true;
    o.newSession = true;
    ASSERT_TRUE(stubborn.start({"/bin/sh", "-c", "trap '' TERM; exec 0<&-; sleep 30"}, o, error)) << error;
    std::this_thread::sleep_for(100ms);
    const auto start = std::chrono::steady_clock::now();
    stubborn.stop(300ms);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_FALSE(stubborn.running());
    EXPECT_FALSE(stubborn.writeInput("x\n"));

    ChildProcess gone;
    ASSERT_TRUE(gone.start({"true"}, o, error)) << error;
    for (int i = 0; i < 100 && gone.running(); ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(gone.writeInput(std::string(100000, 'x')));
}

}  // namespace

TEST(Process, AToolAndALongLivedHelperGetOnlyTheirOwnDescriptors)
{
    // A descriptor another part of the program opened without close-on-exec, high up where no
    // pipe of the tool's lands.
    const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int stray = ::fcntl(devNull, F_DUPFD, 500);
    ::close(devNull);
    ASSERT_GE(stray, 500);
    const std::string path = "/proc/self/fd/" + std::to_string(stray);
    EXPECT_EQ(runProcess({"/usr/bin/test", "-e", path}, {}).exitCode, 1);
    EXPECT_EQ(runProcess({"/usr/bin/test", "-e", "/proc/self/fd/2"}, {}).exitCode, 0);

    LineHelper helper;
    int startError = 0;
    ASSERT_TRUE(helper.start({"cat"}, startError)) << startError;
    EXPECT_FALSE(std::filesystem::exists("/proc/" + std::to_string(helper.pid()) + "/fd/" + std::to_string(stray)));
    EXPECT_TRUE(std::filesystem::exists("/proc/" + std::to_string(helper.pid()) + "/fd/0"));
    ::close(stray);
}
