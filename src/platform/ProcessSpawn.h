#pragma once
// What the runners of external tools share: descriptors that close themselves, close-on-exec pipes,
// the spawn attributes every tool starts with, and the reaping. POSIX only; internal to the
// platform's runners (Process.cpp, ChildProcess.cpp, LineHelper.cpp).

#include <chrono>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

namespace vantor::process {

using SteadyClock = std::chrono::steady_clock;

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd)
        : m_fd(fd)
    {
    }
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    int release()
    {
        int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

struct Pipe {
    Fd read, write;
    bool open()
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return false;
        read.reset(fds[0]);
        write.reset(fds[1]);
        return true;
    }
};

class SpawnAttrs {
public:
    SpawnAttrs()
    {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attr);
    }
    ~SpawnAttrs()
    {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
    }
    SpawnAttrs(const SpawnAttrs&) = delete;
    SpawnAttrs& operator=(const SpawnAttrs&) = delete;

    // The child starts with default signal dispositions and an empty mask, whatever the calling
    // thread has blocked or ignored.
    void resetSignals(short extraFlags)
    {
        sigset_t all, none;
        sigfillset(&all);
        sigemptyset(&none);
        posix_spawnattr_setsigdefault(&attr, &all);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setflags(&attr,
                                 static_cast<short>(POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | extraFlags));
    }

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
};

// Starts argv[0] (a path when it has a '/', else looked up on PATH) with the actions and attributes
// of `sa`; posix_spawn's error number, 0 when it started.
int spawn(pid_t& pid, const std::vector<std::string>& argv, SpawnAttrs& sa);
// waitpid that survives EINTR. Returns the pid, 0 (still running with WNOHANG) or -1.
pid_t waitFor(pid_t pid, int& status, int flags);
// Kills the child and its process group, and reaps it.
void killGroupAndReap(pid_t pid, int& status);
// Closes `fd` when open and marks it closed.
void closeFd(int& fd);
// Writes all of `data` to a pipe whose reader may have gone. The SIGPIPE that would bring is kept
// blocked on this thread and taken back, so neither the program nor another thread sees it.
// False when not all of it was written.
bool writeAll(int fd, const std::string& data);

}  // namespace vantor::process
