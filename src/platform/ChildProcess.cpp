// ChildProcess: a long-running child started with posix_spawn and ended by its destructor.

#include "platform/Process.h"

#include "platform/ProcessSpawn.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <pthread.h>
#include <sys/wait.h>
#include <thread>

namespace vantor {

using namespace process;

ChildProcess::~ChildProcess()
{
    stop();
}

bool ChildProcess::start(const std::vector<std::string>& argv, const Options& options, std::string& error)
{
    if (m_pid > 0) {
        error = "already running";
        return false;
    }
    if (argv.empty() || argv[0].empty()) {
        error = "no program given";
        return false;
    }
    Pipe in;
    if (options.inputPipe && !in.open()) {
        error = std::strerror(errno);
        return false;
    }
    SpawnAttrs sa;
    if (options.inputPipe)
        posix_spawn_file_actions_adddup2(&sa.actions, in.read.get(), 0);
    else
        posix_spawn_file_actions_addopen(&sa.actions, 0, "/dev/null", O_RDONLY, 0);
    const char* outPath = options.outputFile.empty() ? "/dev/null" : options.outputFile.c_str();
    posix_spawn_file_actions_addopen(&sa.actions, 1, outPath, O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&sa.actions, 1, 2);
    sa.resetSignals(options.newSession ? POSIX_SPAWN_SETSID : 0);

    pid_t pid = -1;
    if (int rc = spawn(pid, argv, sa); rc != 0) {
        error = argv[0] + ": " + std::strerror(rc);
        return false;
    }
    m_pid = pid;
    m_group = options.newSession;
    m_status.reset();
    if (options.inputPipe) {
        m_input = in.write.release();
    }
    return true;
}

bool ChildProcess::running()
{
    if (m_pid <= 0)
        return false;
    int status = 0;
    pid_t r = waitFor(m_pid, status, WNOHANG);
    if (r == m_pid) {
        m_status = status;
        m_pid = -1;
        return false;
    }
    return r == 0;
}

bool ChildProcess::writeInput(const std::string& data)
{
    if (m_input < 0)
        return false;
    return writeAll(m_input, data);
}

void ChildProcess::closeInput()
{
    if (m_input >= 0) {
        ::close(m_input);
        m_input = -1;
    }
}

void ChildProcess::stop(std::chrono::milliseconds grace)
{
    closeInput();
    if (m_pid <= 0)
        return;
    const pid_t target = m_group ? -m_pid : m_pid;
    ::kill(target, SIGTERM);
    const auto deadline = SteadyClock::now() + grace;
    bool ended = false;
    while (!ended && SteadyClock::now() < deadline) {
        // WNOWAIT leaves it a zombie: its pid, and so its group id, cannot be reused until it is
        // reaped below, so signalling the group stays safe.
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == m_pid)
            ended = true;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Whatever is left of it or of its group is killed.
    ::kill(target, SIGKILL);
    int status = 0;
    waitFor(m_pid, status, 0);
    m_status = status;
    m_pid = -1;
}

}  // namespace vantor
