// Loads a big history and writes its report, and compares the indexed load with the plain one that
// compares every session with every file line. Prints its figures.
//
//   history_bench [sessions files [literal-sessions literal-files]]
//
// The logs are made by a child process, so that the peak memory measured here is that of the load
// and the report alone.

#include "LiteralHistory.h"
#include "history/HistoryReader.h"
#include "history/HistoryReport.h"
#include "platform/Process.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

using namespace vantor;
using Clock = std::chrono::steady_clock;

namespace {

double secondsSince(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// CPU time of this process so far: the machine is shared, and the wall clock counts the waits.
double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
           + static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long peakRssKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// Sessions of a month among 800 users on 300 computers; most file lines lie in a session, one in
// twenty in none. users.log in the order sessions end, files.log in time order, as the monitor
// writes them.
void makeLogs(const std::filesystem::path& dir, std::size_t sessions, std::size_t files)
{
    std::mt19937_64 rng(20261207);
    const int64_t base = 1'700'000'000;
    struct S {
        int64_t start;
        uint32_t duration;
        int user, computer;
    };
    std::vector<S> ss(sessions);
    for (auto& s : ss) {
        s.user = static_cast<int>(rng() % 800);
        s.computer = static_cast<int>(rng() % 300);
        s.start = base + static_cast<int64_t>(rng() % (30 * 86400));
        s.duration = static_cast<uint32_t>(60 + rng() % (rng() % 4 == 0 ? 28800 : 3600));
    }
    auto userName = [](int u) { return "user" + std::to_string(1000 + u); };
    auto computerName = [](int c) { return "10.20." + std::to_string(c / 250) + "." + std::to_string(c % 250 + 1); };

    struct F {
        int64_t time;
        int user, computer;
        uint64_t id;
    };
    std::vector<F> fs(files);
    for (auto& f : fs) {
        f.id = rng();
        if (rng() % 20 == 0 || ss.empty()) {
            f.user = static_cast<int>(rng() % 800);
            f.computer = static_cast<int>(rng() % 300);
            f.time = base + static_cast<int64_t>(rng() % (30 * 86400));
        } else {
            const S& s = ss[rng() % ss.size()];
            f.user = s.user;
            f.computer = s.computer;
            f.time = s.start + static_cast<int64_t>(rng() % (s.duration + 1));
        }
    }
    std::stable_sort(fs.begin(), fs.end(), [](const F& a, const F& b) { return a.time < b.time; });
    std::stable_sort(ss.begin(), ss.end(),
                     [](const S& a, const S& b) { return a.start + a.duration < b.start + b.duration; });

    std::ofstream users(dir / usersLogName);
    for (const auto& s : ss)
        writeSessionLine(users, s.start, userName(s.user), computerName(s.computer), s.duration);
    std::ofstream out(dir / filesLogName);
    for (const auto& f : fs) {
        const std::string path = "/srv/share/dept" + std::to_string(f.id % 40) + "/project "
                                 + std::to_string(f.id % 997) + "/report-" + std::to_string(f.id % 100000) + ".docx";
        writeFileLine(out, f.time, userName(f.user), computerName(f.computer), path);
    }
}

bool makeLogsInChild(const std::filesystem::path& dir, std::size_t sessions, std::size_t files)
{
    const pid_t pid = fork();
    if (pid == 0) {
        makeLogs(dir, sessions, files);
        _exit(0);
    }
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The load as first written: parse both logs, then count each session's files over the whole store.
std::vector<uint32_t> literalLoad(const std::filesystem::path& dir)
{
    std::vector<FileRecord> files;
    std::vector<SessionRecord> sessions;
    forEachLogLine(dir / filesLogName, [&](std::string_view line, bool tooLong) {
        if (!tooLong)
            if (auto f = parseFileLine(line))
                files.push_back(std::move(*f));
    });
    forEachLogLine(dir / usersLogName, [&](std::string_view line, bool tooLong) {
        if (!tooLong)
            if (auto s = parseSessionLine(line))
                sessions.push_back(std::move(*s));
    });
    return vantor::test::literalCounts(sessions, files);
}

// Opens a page in headless Chromium and returns the seconds until it printed the page as its script
// left it (Chromium's own start included), or a negative number when there is no Chromium.
// With `dumpDom` it prints the page's elements into `dom`; without, it only draws the page (a
// screenshot), which is what a person waits for: printing a large page costs more than showing it.
double chromiumSeconds(const std::filesystem::path& page, const std::filesystem::path& profile, std::string& dom,
                       bool dumpDom)
{
    const std::string chromium = findProgram("chromium");
    if (chromium.find('/') == std::string::npos)
        return -1;
    ProcessOptions o;
    o.timeLimit = std::chrono::seconds(60);
    const auto t = Clock::now();
    std::vector<std::string> argv{chromium,        "--headless",     "--no-sandbox",
                                  "--disable-gpu", "--no-first-run", "--user-data-dir=" + profile.string()};
    if (dumpDom)
        argv.push_back("--dump-dom");
    else
        argv.push_back("--screenshot=" + (profile.parent_path() / "shot.png").string());
    argv.push_back("file://" + page.string());
    ProcessResult r = runProcess(argv, o);
    const double seconds = secondsSince(t);
    dom = r.out;
    return r.succeeded() ? seconds : -1;
}

// The report of the big history in a browser: its size, and Chromium's time to show it less its
// time to show an empty page.
void benchBrowser(const std::filesystem::path& dir, std::size_t sessions)
{
    const auto report = dir / "report.html";
    const double mb = static_cast<double>(std::filesystem::file_size(report)) / 1e6;
    std::printf("report in a browser\n");
    std::printf("  size            %7.1f MB  goal <= 15 MB: %s\n", mb, mb <= 15 ? "met" : "NOT MET");
    const auto blank = dir / "blank.html";
    std::ofstream(blank) << "<!DOCTYPE html><html><body><p>blank</p></body></html>\n";
    std::string dom;
    const double warm = chromiumSeconds(blank, dir / "profile", dom, false);  // a first start fills caches
    const double base = chromiumSeconds(blank, dir / "profile", dom, false);
    const double full = chromiumSeconds(report, dir / "profile", dom, false);
    chromiumSeconds(report, dir / "profile", dom, true);
    if (warm < 0 || base < 0 || full < 0) {
        std::printf("  load            not measured: no headless Chromium (apt install chromium)\n");
        return;
    }
    // The page draws its first page of rows from the data: the count it prints shows it read them all.
    std::string count = std::to_string(sessions);
    for (int at = static_cast<int>(count.size()) - 3; at > 0; at -= 3)
        count.insert(static_cast<std::size_t>(at), ",");
    const bool drawn = dom.find("<span id=\"page-info\">Sessions 1") != std::string::npos
                       && dom.find(" of " + count + " ") != std::string::npos;
    const double load = full - base;
    std::printf("  load            %7.3f s  (Chromium with the report %.3f s, with a blank page %.3f s; first page "
                "of rows drawn: %s)  goal <= 2 s: %s\n",
                load, full, base, drawn ? "yes" : "NO", load <= 2 && drawn ? "met" : "NOT MET");
}

}  // namespace

int main(int argc, char** argv)
{
    const std::size_t sessions = argc > 2 ? std::stoul(argv[1]) : 100'000;
    const std::size_t files = argc > 2 ? std::stoul(argv[2]) : 1'000'000;
    const std::size_t smallSessions = argc > 4 ? std::stoul(argv[3]) : 8'000;
    const std::size_t smallFiles = argc > 4 ? std::stoul(argv[4]) : 80'000;

    char pattern[] = "/tmp/vantor-history-bench-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::filesystem::path root(pattern);
    const auto big = root / "big";
    const auto small = root / "small";
    std::filesystem::create_directories(big);
    std::filesystem::create_directories(small);
    if (!makeLogsInChild(big, sessions, files) || !makeLogsInChild(small, smallSessions, smallFiles)) {
        std::fprintf(stderr, "could not make the logs\n");
        return 1;
    }
    std::printf("history bench: %zu sessions, %zu file lines (users.log %.1f MB, files.log %.1f MB)\n", sessions, files,
                static_cast<double>(std::filesystem::file_size(big / usersLogName)) / 1e6,
                static_cast<double>(std::filesystem::file_size(big / filesLogName)) / 1e6);
    const long rssBefore = peakRssKiB();

    // Load plus report, as the console's "report" command does them.
    const double cpuBefore = cpuSeconds();
    auto t = Clock::now();
    double loadSeconds = 0, reportSeconds = 0, reportCpu = 0;
    bool written = false;
    std::size_t loadedSessions = 0, loadedFiles = 0;
    HistoryStore::instance().withLoaded(big, [&](const HistoryPtr& data) {
        loadSeconds = secondsSince(t);
        loadedSessions = data->sessions().size();
        loadedFiles = data->files().size();
        auto r = Clock::now();
        const double c = cpuSeconds();
        written = generateReport(*data, big, "report.html", 1'702'600'000);
        reportSeconds = secondsSince(r);
        reportCpu = cpuSeconds() - c;
        return 0;
    });
    const double total = secondsSince(t);
    const double cpu = cpuSeconds() - cpuBefore;
    const long peak = peakRssKiB();
    std::printf("  load            %7.3f s  (%zu sessions, %zu files read)\n", loadSeconds, loadedSessions,
                loadedFiles);
    std::printf("  report          %7.3f s  (%.3f s of CPU time; %.1f MB%s)\n", reportSeconds, reportCpu,
                written ? static_cast<double>(std::filesystem::file_size(big / "report.html")) / 1e6 : 0.0,
                written ? "" : ", NOT WRITTEN");
    std::printf("  load + report   %7.3f s   (%.3f s of CPU time)  goal <= 1.5 s: %s\n", total, cpu,
                total <= 1.5 ? "met" : "NOT MET");
    std::printf("  peak memory     %7.1f MB  (%.1f MB before the load)  goal <= 400 MB: %s\n", peak / 1024.0,
                rssBefore / 1024.0, peak / 1024.0 <= 400 ? "met" : "NOT MET");

    // The plain algorithm at a size it can finish, on the same data as the indexed load.
    t = Clock::now();
    const HistoryData indexed = HistoryData::load(small);
    const double indexedSmall = secondsSince(t);
    t = Clock::now();
    const std::vector<uint32_t> literal = literalLoad(small);
    const double literalSmall = secondsSince(t);
    std::vector<uint32_t> counts;
    uint64_t countSum = 0;
    for (const auto& s : indexed.sessions()) {
        counts.push_back(s.fileCount);
        countSum += s.fileCount;
    }
    const bool agree = counts == literal;
    const double comparisons = static_cast<double>(smallSessions) * static_cast<double>(smallFiles);
    const double literalBig = literalSmall / comparisons * static_cast<double>(sessions) * static_cast<double>(files);
    std::printf("literal comparison: %zu sessions x %zu file lines\n", smallSessions, smallFiles);
    std::printf("  indexed load    %7.3f s\n", indexedSmall);
    std::printf("  literal load    %7.3f s  (%.2f ns a comparison)\n", literalSmall, literalSmall / comparisons * 1e9);
    std::printf("  counts agree    %s  (%zu sessions, %llu files counted)\n", agree ? "yes" : "NO", counts.size(),
                static_cast<unsigned long long>(countSum));
    std::printf("  speed-up here   %7.0fx\n", literalSmall / indexedSmall);
    std::printf("  literal at full size, from its cost a comparison: %.0f s; indexed load there %.3f s: %.0fx "
                "(goal >= 100x: %s)\n",
                literalBig, loadSeconds, literalBig / loadSeconds, literalBig / loadSeconds >= 100 ? "met" : "NOT MET");

    if (written)
        benchBrowser(big, sessions);

    std::error_code ec;
    if (std::getenv("VANTOR_BENCH_KEEP"))
        std::printf("kept: %s\n", root.c_str());
    else
        std::filesystem::remove_all(root, ec);
    return agree && written ? 0 : 1;
}
