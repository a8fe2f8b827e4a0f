// LineHelper: a long-lived helper spoken to one line at a time.

#include "platform/Process.h"

#include "platform/ProcessSpawn.h"

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/wait.h>
#include <thread>

namespace vantor {

using namespace process;

namespace {

constexpr std::size_t keptErrorBytes = 4096;

}  // namespace

LineHelper::~LineHelper()
{
    stop();
}

bool LineHelper::start(const std::vector<std::string>& argv, int& startError)
{
    stop();
    startError = 0;
    if (argv.empty() || argv[0].empty()) {
        startError = EINVAL;
        return false;
    }
    Pipe in, out, err;
    if (!in.open() || !out.open() || !err.open()) {
        startError = errno;
        return false;
    }
    SpawnAttrs sa;
    posix_spawn_file_actions_adddup2(&sa.actions, in.read.get(), 0);
    posix_spawn_file_actions_adddup2(&sa.actions, out.write.get(), 1);
    posix_spawn_file_actions_adddup2(&sa.actions, err.write.get(), 2);
    posix_spawnattr_setpgroup(&sa.attr, 0);
    sa.resetSignals(POSIX_SPAWN_SETPGROUP);
    pid_t pid = -1;
    if (int rc = spawn(pid, argv, sa); rc != 0) {
        startError = rc;
        return false;
    }
    m_pid = pid;
    m_in = in.write.release();
    m_out = out.read.release();
    m_errFd = err.read.release();
    ::fcntl(m_errFd, F_SETFL, O_NONBLOCK);
    m_pending.clear();
    m_err.clear();
    return true;
}

bool LineHelper::running()
{
    if (m_pid <= 0)
        return false;
    int status = 0;
    if (waitFor(m_pid, status, WNOHANG) == 0)
        return true;
    // Ended: what is left of it goes.
    stop(std::chrono::milliseconds(0));
    return false;
}

void LineHelper::drainError()
{
    char buf[4096];
    for (;;) {
        ssize_t n = ::read(m_errFd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        m_err.append(buf, static_cast<std::size_t>(n));
    }
    if (m_err.size() > keptErrorBytes)
        m_err.erase(0, m_err.size() - keptErrorBytes);
}

LineHelper::Reply LineHelper::exchange(const std::string& request, std::chrono::milliseconds limit,
                                       std::size_t maxReply)
{
    Reply reply;
    if (m_pid <= 0)
        return reply;
    const auto deadline = SteadyClock::now() + limit;

    // A helper that has gone: the write fails, and the helper is stopped.
    const bool writeFailed = !writeAll(m_in, request + "\n");
    if (writeFailed) {
        stop(std::chrono::milliseconds(0));
        return reply;
    }

    char buf[65536];
    for (;;) {
        const std::size_t end = m_pending.find('\n');
        if (end != std::string::npos) {
            reply.outcome = Reply::Outcome::Line;
            reply.line = m_pending.substr(0, end);
            m_pending.erase(0, end + 1);
            drainError();
            return reply;
        }
        if (m_pending.size() > maxReply) {
            stop(std::chrono::milliseconds(0));
            reply.outcome = Reply::Outcome::TooLong;
            return reply;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
        if (left <= 0) {
            stop(std::chrono::milliseconds(0));
            reply.outcome = Reply::Outcome::TimedOut;
            return reply;
        }
        pollfd fds[2] = {{m_out, POLLIN, 0}, {m_errFd, POLLIN, 0}};
        const int pr = ::poll(fds, 2, static_cast<int>(std::min<long long>(left, 1000)));
        if (pr < 0 && errno != EINTR) {
            stop(std::chrono::milliseconds(0));
            return reply;
        }
        if (pr <= 0)
            continue;
        if (fds[1].revents & POLLIN)
            drainError();
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            ssize_t got = ::read(m_out, buf, sizeof buf);
            if (got < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (got <= 0) {
                drainError();
                stop(std::chrono::milliseconds(0));
                return reply;
            }
            m_pending.append(buf, static_cast<std::size_t>(got));
        }
    }
}

void LineHelper::stop(std::chrono::milliseconds grace)
{
    // What it said before it went is kept for the caller's error text.
    if (m_errFd >= 0)
        drainError();
    closeFd(m_in);
    if (m_pid > 0) {
        // Its input closed, it ends by itself; within the grace it may finish what it was doing.
        const auto deadline = SteadyClock::now() + grace;
        int status = 0;
        bool ended = false;
        for (;;) {
            siginfo_t info{};
            if (::waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0
                && info.si_pid == m_pid) {
                ended = true;
                break;
            }
            if (SteadyClock::now() >= deadline)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        // Still a zombie at worst (WNOWAIT): its group id cannot have been reused.
        ::kill(-m_pid, SIGKILL);
        if (!ended)
            ::kill(m_pid, SIGKILL);
        waitFor(m_pid, status, 0);
        m_pid = -1;
    }
    closeFd(m_out);
    closeFd(m_errFd);
    m_pending.clear();
}

}  // namespace vantor
