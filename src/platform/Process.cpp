#include "platform/Process.h"

#include "platform/ProcessSpawn.h"

#include <cerrno>
#include <cstdlib>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace vantor {

using namespace process;

ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options)
{
    ProcessResult result;
    if (argv.empty() || argv[0].empty()) {
        result.startError = EINVAL;
        return result;
    }

    Pipe out, err, in;
    if (!out.open() || !err.open() || (!options.input.empty() && !in.open())) {
        result.startError = errno;
        return result;
    }
    if (!options.input.empty()) {
        // The whole input goes into the pipe before the child starts: no writer has to wait on the
        // child, and no SIGPIPE can reach us when the child ignores its input.
        if (options.input.size() > 65536) {
            result.startError = E2BIG;
            return result;
        }
        ::fcntl(in.write.get(), F_SETFL, O_NONBLOCK);
        std::size_t done = 0;
        while (done < options.input.size()) {
            ssize_t n = ::write(in.write.get(), options.input.data() + done, options.input.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                result.startError = n < 0 ? errno : EIO;
                return result;
            }
            done += static_cast<std::size_t>(n);
        }
        in.write.reset();
    }

    SpawnAttrs sa;
    if (options.input.empty())
        posix_spawn_file_actions_addopen(&sa.actions, 0, "/dev/null", O_RDONLY, 0);
    else
        posix_spawn_file_actions_adddup2(&sa.actions, in.read.get(), 0);
    posix_spawn_file_actions_adddup2(&sa.actions, out.write.get(), 1);
    posix_spawn_file_actions_adddup2(&sa.actions, err.write.get(), 2);
    // Its own process group, so that a time-out also ends whatever the tool started.
    posix_spawnattr_setpgroup(&sa.attr, 0);
    sa.resetSignals(POSIX_SPAWN_SETPGROUP);

    pid_t pid = -1;
    if (int rc = spawn(pid, argv, sa); rc != 0) {
        result.startError = rc;
        return result;
    }
    in.read.reset();
    out.write.reset();
    err.write.reset();

    const auto deadline = SteadyClock::now() + options.timeLimit;
    bool outOpen = true, errOpen = true;
    char buf[65536];
    int status = 0;
    auto remainingMs = [&] {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
        return left < 0 ? 0 : static_cast<int>(std::min<long long>(left, 1000));
    };

    while (outOpen || errOpen) {
        if (SteadyClock::now() >= deadline) {
            killGroupAndReap(pid, status);
            result.outcome = ProcessResult::Outcome::TimedOut;
            return result;
        }
        pollfd fds[2];
        nfds_t n = 0;
        if (outOpen)
            fds[n++] = {out.read.get(), POLLIN, 0};
        if (errOpen)
            fds[n++] = {err.read.get(), POLLIN, 0};
        int pr = ::poll(fds, n, remainingMs());
        if (pr < 0 && errno != EINTR) {
            killGroupAndReap(pid, status);
            result.outcome = ProcessResult::Outcome::StartFailed;
            result.startError = errno;
            return result;
        }
        if (pr <= 0)
            continue;
        for (nfds_t i = 0; i < n; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const bool isOut = fds[i].fd == out.read.get();
            ssize_t got = ::read(fds[i].fd, buf, sizeof buf);
            if (got < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (got <= 0) {
                (isOut ? outOpen : errOpen) = false;
                continue;
            }
            (isOut ? result.out : result.err).append(buf, static_cast<std::size_t>(got));
            if (result.out.size() + result.err.size() > options.maxOutput) {
                killGroupAndReap(pid, status);
                result.outcome = ProcessResult::Outcome::OutputTooLarge;
                return result;
            }
        }
    }

    // Both pipes are closed; the tool is ending or has handed them to nobody. Wait for it within
    // what is left of the time limit.
    for (;;) {
        pid_t r = waitFor(pid, status, WNOHANG);
        if (r == pid)
            break;
        if (r < 0) {
            result.outcome = ProcessResult::Outcome::StartFailed;
            result.startError = errno;
            return result;
        }
        if (SteadyClock::now() >= deadline) {
            killGroupAndReap(pid, status);
            result.outcome = ProcessResult::Outcome::TimedOut;
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (WIFEXITED(status)) {
        result.outcome = ProcessResult::Outcome::Exited;
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.outcome = ProcessResult::Outcome::Signalled;
        result.signal = WTERMSIG(status);
    }
    return result;
}

std::string findProgram(const std::string& name)
{
    if (name.empty() || name.find('/') != std::string::npos)
        return name;
    std::vector<std::string> dirs;
    if (const char* path = std::getenv("PATH")) {
        std::string p = path;
        std::size_t start = 0;
        for (;;) {
            std::size_t colon = p.find(':', start);
            std::string dir = p.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
            if (!dir.empty())
                dirs.push_back(dir);
            if (colon == std::string::npos)
                break;
            start = colon + 1;
        }
    }
    for (const char* d : {"/usr/bin", "/usr/sbin", "/bin", "/sbin"})
        dirs.emplace_back(d);
    for (const auto& dir : dirs) {
        std::string candidate = dir + "/" + name;
        struct stat st { };
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return name;
}

}  // namespace vantor
