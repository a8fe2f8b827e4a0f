#pragma once
// Running external tools (Samba's smbstatus, smbcontrol, pdbedit, ...) with an argument vector,
// never through a shell, and with a time limit. POSIX only.
//
// Every function here is safe to call from several threads at once: the pipes are made close-on-exec
// so that one thread's child never inherits another's, and each call reaps exactly its own child.

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vantor {

struct ProcessOptions {
    // After this the tool's process group is killed and the call returns TimedOut.
    std::chrono::milliseconds timeLimit{10'000};
    // Bytes written to the tool's standard input (at most 64 KiB); empty: /dev/null.
    std::string input;
    // Output beyond this (stdout and stderr together) kills the tool: a runaway tool must not eat
    // the monitor's memory.
    std::size_t maxOutput = 256u * 1024 * 1024;
};

struct ProcessResult {
    enum class Outcome {
        Exited,  // exitCode holds the exit status
        Signalled,  // signal holds the signal that ended it
        TimedOut,  // killed after the time limit
        OutputTooLarge,  // killed after it wrote more than maxOutput
        StartFailed,  // never ran: startError holds the errno (ENOENT: no such program)
    };
    Outcome outcome = Outcome::StartFailed;
    int exitCode = -1;
    int signal = 0;
    int startError = 0;
    std::string out;
    std::string err;

    bool exitedWith(int code) const { return outcome == Outcome::Exited && exitCode == code; }
    bool succeeded() const { return exitedWith(0); }
};

// Runs argv[0] with argv (argv[0] with a '/' is a path, otherwise it is looked up on PATH), waits
// for it to end or for the time limit, and returns what it wrote and how it ended.
ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});

// Looks `name` up on PATH, then in /usr/bin, /usr/sbin, /bin and /sbin (PATH is often short under
// pkexec or cron). A name with a '/' is returned as it is; an unknown name comes back unchanged, so
// that running it reports ENOENT.
std::string findProgram(const std::string& name);

// A long-running child (a private smbd, an smbclient held open by a test or the demo).
// The destructor ends it: SIGTERM, a bounded wait, then SIGKILL, and reaps it.
class ChildProcess {
public:
    struct Options {
        bool newSession = false;  // setsid: its own session and process group
        bool inputPipe = false;  // writeInput() feeds its stdin; otherwise /dev/null
        std::string outputFile;  // stdout and stderr appended here; empty: /dev/null
    };

    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Returns false with errno-text in `error` when it cannot start.
    bool start(const std::vector<std::string>& argv, const Options& options, std::string& error);

    pid_t pid() const { return m_pid; }
    bool running();
    // The exit status once ended (waitpid's raw status), if known.
    std::optional<int> waitStatus() const { return m_status; }

    // Writes to its stdin; false when it has gone (no SIGPIPE reaches the program).
    bool writeInput(const std::string& data);
    void closeInput();

    // SIGTERM, wait up to `grace`, then SIGKILL; always reaps. With newSession the whole process
    // group is signalled.
    void stop(std::chrono::milliseconds grace = std::chrono::milliseconds(3000));

private:
    pid_t m_pid = -1;
    int m_input = -1;
    bool m_group = false;
    std::optional<int> m_status;
};

// A long-lived helper spoken to in lines: each request is one line on its standard input, each
// reply one line on its standard output. It runs in its own process group; what it writes on its
// standard error is kept (the last few KiB) for error texts. One caller at a time.
class LineHelper {
public:
    LineHelper() = default;
    ~LineHelper();
    LineHelper(const LineHelper&) = delete;
    LineHelper& operator=(const LineHelper&) = delete;

    // Starts it; false with the errno in `startError` when it cannot run.
    bool start(const std::vector<std::string>& argv, int& startError);
    // Whether it has been started and has not ended (reaps it once it has).
    bool running();
    pid_t pid() const { return m_pid; }

    struct Reply {
        enum class Outcome {
            Line,  // `line` holds the reply, without its line end
            Gone,  // it ended (or closed its output) before a whole reply came
            TimedOut,  // no whole reply within the limit: it has been stopped
            TooLong,  // the reply grew beyond maxReply: it has been stopped
        };
        Outcome outcome = Outcome::Gone;
        std::string line;
    };
    // Sends `request` (a line end is added) and waits at most `limit` for one reply line.
    Reply exchange(const std::string& request, std::chrono::milliseconds limit,
                   std::size_t maxReply = 256u * 1024 * 1024);

    // Its standard error lately.
    const std::string& errorOutput() const { return m_err; }

    // Closes its input (it ends by itself), waits up to `grace`, then kills its group; reaps it.
    void stop(std::chrono::milliseconds grace = std::chrono::milliseconds(500));

private:
    void drainError();

    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
    int m_errFd = -1;
    std::string m_pending;  // bytes of the next reply already read
    std::string m_err;
};

}  // namespace vantor
