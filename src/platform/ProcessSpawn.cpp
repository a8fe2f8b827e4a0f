#include "platform/ProcessSpawn.h"

#include <cerrno>
#include <sys/wait.h>

extern char** environ;

namespace vantor::process {

namespace {

std::vector<char*> argvPointers(const std::vector<std::string>& argv)
{
    std::vector<char*> ptrs;
    ptrs.reserve(argv.size() + 1);
    for (const auto& a : argv)
        ptrs.push_back(const_cast<char*>(a.c_str()));
    ptrs.push_back(nullptr);
    return ptrs;
}

}  // namespace

int spawn(pid_t& pid, const std::vector<std::string>& argv, SpawnAttrs& sa)
{
    // A tool gets its own three descriptors and nothing else: a descriptor another thread opened
    // without close-on-exec (a library's socket, a stream being read) would otherwise live on in
    // the tool, and in a long-lived helper for as long as it runs. After the other actions, which
    // have put the tool's pipes at 0, 1 and 2.
    posix_spawn_file_actions_addclosefrom_np(&sa.actions, 3);
    auto ptrs = argvPointers(argv);
    if (argv[0].find('/') != std::string::npos)
        return posix_spawn(&pid, argv[0].c_str(), &sa.actions, &sa.attr, ptrs.data(), environ);
    return posix_spawnp(&pid, argv[0].c_str(), &sa.actions, &sa.attr, ptrs.data(), environ);
}

pid_t waitFor(pid_t pid, int& status, int flags)
{
    for (;;) {
        pid_t r = ::waitpid(pid, &status, flags);
        if (r >= 0 || errno != EINTR)
            return r;
    }
}

void killGroupAndReap(pid_t pid, int& status)
{
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
    waitFor(pid, status, 0);
}

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool writeAll(int fd, const std::string& data)
{
    sigset_t pipeSet, old;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSet, &old);
    bool ok = true;
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (!ok) {
        timespec zero{0, 0};
        while (sigtimedwait(&pipeSet, nullptr, &zero) == SIGPIPE) { }
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return ok;
}

}  // namespace vantor::process
