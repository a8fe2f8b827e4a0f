#include "platform/Process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace vantor {

namespace {

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

std::vector<char*> argvPointers(const std::vector<std::string>& argv)
{
    std::vector<char*> ptrs;
    ptrs.reserve(argv.size() + 1);
    for (const auto& a : argv)
        ptrs.push_back(const_cast<char*>(a.c_str()));
    ptrs.push_back(nullptr);
    return ptrs;
}

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

// waitpid that survives EINTR. Returns the pid, 0 (still running with WNOHANG) or -1.
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

}  // namespace

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

// --- ChildProcess --------------------------------------------------------------------------------

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
    // A child that has gone turns the write into SIGPIPE: keep it blocked on this thread and take
    // it back if it came, so neither the program nor another thread sees it.
    sigset_t pipeSet, old;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSet, &old);
    bool ok = true;
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(m_input, data.data() + done, data.size() - done);
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

// --- LineHelper ----------------------------------------------------------------------------------

namespace {

constexpr std::size_t keptErrorBytes = 4096;

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

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

    // A helper that has gone turns the write into SIGPIPE: keep it blocked on this thread and take
    // it back if it came.
    sigset_t pipeSet, old;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSet, &old);
    const std::string line = request + "\n";
    std::size_t done = 0;
    bool writeFailed = false;
    while (done < line.size()) {
        ssize_t n = ::write(m_in, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            writeFailed = true;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (writeFailed) {
        timespec zero{0, 0};
        while (sigtimedwait(&pipeSet, nullptr, &zero) == SIGPIPE) { }
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
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
