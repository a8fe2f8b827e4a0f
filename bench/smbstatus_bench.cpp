// Times the monitor's work on `smbstatus --json` documents: parsing, the backend's answers, a
// whole poll through SessionMonitor, and the sessions table's rebuild. Prints its figures.
//
//   vantor-bench-smbstatus [RECORDED.json]
//
// The 200-session document (600 opens) and the 10,000-session one are generated in exactly the
// shape of RECORDED, a document recorded from a private smbd (tests/data/samba/smbstatus-small.json).
// As root with Samba installed it also times real polls against a private server with 200
// sessions (VANTOR_BENCH_SESSIONS), on the JSON route and on the fallback.

#include "SmbStatusDocument.h"
#include "monitor/DeskCommands.h"
#include "monitor/SessionMonitor.h"
#include "platform/Clock.h"
#include "platform/Process.h"
#include "demo/PrivateSambaServer.h"
#include "platform/samba/SambaNetManagement.h"
#include "demo/SmbClientHolder.h"
#include "platform/samba/SmbStatusParser.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>
#include <pwd.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

using namespace vantor;
using Ms = std::chrono::duration<double, std::milli>;

namespace {

struct Figures {
    double median = 0, best = 0, cpuMedian = 0;
};

double threadCpuMs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Wall time, and this thread's CPU time: on a shared, loaded machine the CPU time is the steadier
// figure of the work itself.
Figures timeIt(int runs, const std::function<void()>& fn)
{
    std::vector<double> ms, cpu;
    fn();  // warm-up
    for (int i = 0; i < runs; ++i) {
        const double c0 = threadCpuMs();
        auto t0 = std::chrono::steady_clock::now();
        fn();
        ms.push_back(Ms(std::chrono::steady_clock::now() - t0).count());
        cpu.push_back(threadCpuMs() - c0);
    }
    std::sort(ms.begin(), ms.end());
    std::sort(cpu.begin(), cpu.end());
    return {ms[ms.size() / 2], ms.front(), cpu[cpu.size() / 2]};
}

void print(const char* what, const Figures& f)
{
    std::printf("  %-56s wall median %9.3f ms, best %9.3f ms; cpu median %9.3f ms\n", what, f.median, f.best,
                f.cpuMedian);
}

class NullFiles final : public FileInspector {
public:
    bool isDirectoryOrUnreadable(const std::string&) const override { return false; }
};

// `parseGoalMs`: the most the parse may take (CPU time), or 0 for none.
void benchDocument(const std::string& label, const std::string& doc, int runs, double parseGoalMs = 0)
{
    auto parsed = samba::parseSmbStatusJson(doc);
    if (!parsed.ok()) {
        std::printf("%s: parse failed: %s\n", label.c_str(), parsed.error.c_str());
        return;
    }
    std::printf("\n%s: %zu sessions, %zu opens, %.0f KB\n", label.c_str(), parsed.value.sessions.size(),
                parsed.value.opens.size(), static_cast<double>(doc.size()) / 1024.0);

    const Figures parse = timeIt(runs, [&] {
        auto r = samba::parseSmbStatusJson(doc);
        if (!r.ok())
            std::abort();
    });
    print("parse (parseSmbStatusJson)", parse);
    if (parseGoalMs > 0)
        std::printf("  %-56s goal <= %.0f ms of CPU time: %s\n", "", parseGoalMs,
                    parse.cpuMedian <= parseGoalMs ? "met" : "NOT MET");
    print("parse + index + session list (enumSessions after the run)", timeIt(runs, [&] {
              samba::SmbStatusIndex index(samba::parseSmbStatusJson(doc).value);
              if (index.sessions().empty())
                  std::abort();
          }));

    // The backend with the tool's run replaced by the document: everything but the process.
    auto now = std::chrono::steady_clock::now();
    SambaOptions o;
    o.run = [&](const std::vector<std::string>&, const ProcessOptions&) {
        ProcessResult r;
        r.outcome = ProcessResult::Outcome::Exited;
        r.exitCode = 0;
        r.out = doc;
        return r;
    };
    o.now = [&] { return now; };
    SambaNetManagement net(o);
    RecordingMessageBoxes boxes;
    ManualClock clock;
    NullFiles files;
    const auto dataDir = std::filesystem::temp_directory_path();

    // The first poll: every session is a newcomer, whose open files the new-user event reads.
    print("first poll (SessionMonitor, every user new)", timeIt(std::max(3, runs / 10), [&] {
              SessionMonitor monitor({net, boxes, clock, dataDir, &files});
              now += std::chrono::seconds(5);
              monitor.pollSessions();
              if (monitor.sessionRows().empty() || !boxes.shown.empty())
                  std::abort();
          }));

    SessionMonitor monitor({net, boxes, clock, dataDir, &files});
    monitor.pollSessions();
    DeskCommands(monitor).clickSessionRow(0);
    print("steady poll: parse + poll + table rebuild + open files", timeIt(runs, [&] {
              now += std::chrono::seconds(5);
              monitor.pollSessions();
          }));

    SessionsFetch fetch = monitor.fetchSessions("");
    print("table rebuild only (applySessions of a fetched poll)", timeIt(runs, [&] { monitor.applySessions(fetch); }));
}

// The listings the poll falls back to while smbstatus cannot write the opens as JSON, made from a
// whole document: its sessions (--json -b), its tree connects (--json -S), and its opens as the
// text listing (-L -B) writes them.
struct FallbackListings {
    std::string sessions, tcons, text;
};

FallbackListings fallbackListings(const std::string& doc)
{
    const nlohmann::json whole = nlohmann::json::parse(doc);
    FallbackListings f;
    f.sessions = nlohmann::json{{"sessions", whole.at("sessions")}}.dump();
    f.tcons = nlohmann::json{{"tcons", whole.at("tcons")}}.dump();
    f.text = "\nLocked files:\n"
             "Pid          User(ID)   DenyMode   Access      R/W        Oplock           SharePath   Name   Time\n"
             "--------------------------------------------------------------------------------------------------\n";
    char line[1024];
    for (const auto& [path, file] : whole.at("open_files").items())
        for (const auto& [key, open] : file.at("opens").items()) {
            std::snprintf(line, sizeof line, "%-11s  %-9d  %-10s  0x%-8x  %-10s  %-15s  %s   %s   %s\n",
                          open.at("server_id").at("pid").get<std::string>().c_str(), open.value("uid", 0), "DENY_NONE",
                          0x3u, "RDWR", "NONE", file.at("service_path").get<std::string>().c_str(),
                          file.at("filename").get<std::string>().c_str(), "Wed Dec  9 04:07:17 2026");
            f.text += line;
        }
    return f;
}

// One poll's listing through the backend, the tools' runs replaced by the documents, on the JSON
// route and on the fallback; the fallback may cost at most twice the JSON route.
void benchFallback(const std::string& label, const std::string& doc, int runs)
{
    const FallbackListings f = fallbackListings(doc);
    auto exited = [](int code, std::string out, std::string err = {}) {
        ProcessResult r;
        r.outcome = ProcessResult::Outcome::Exited;
        r.exitCode = code;
        r.out = std::move(out);
        r.err = std::move(err);
        return r;
    };
    auto listing = [&](bool jsonBreaks) {
        SambaOptions o;
        o.reuseWindow = std::chrono::milliseconds(0);
        o.run = [&, jsonBreaks](const std::vector<std::string>& argv, const ProcessOptions&) {
            const std::string last = argv.back(), before = argv[argv.size() - 2];
            if (before == "--json" && last == "-B")
                return jsonBreaks ? exited(
                           1, "", "PANIC: assert failed at ../../source3/utils/status_json.c(141): tomap == 0\n")
                                  : exited(0, doc);
            if (last == "-b")
                return exited(0, f.sessions);
            if (last == "-S")
                return exited(0, f.tcons);
            return exited(0, f.text);
        };
        return o;
    };
    SambaNetManagement json(listing(false)), fallback(listing(true));
    std::vector<NetSessionInfo> sessions;
    std::vector<NetFileInfo> files;
    auto poll = [&](SambaNetManagement& net) {
        if (!net.enumSessions({}, sessions).ok() || sessions.empty() || !net.enumAllFiles({}, files).ok())
            std::abort();
    };
    poll(fallback);
    if (fallback.listingNotes().route.empty()) {
        std::printf("%s: the fallback was not taken\n", label.c_str());
        std::abort();
    }
    std::printf("\n%s: a poll's sessions and every user's files, without the tools' processes\n", label.c_str());
    const Figures a = timeIt(runs, [&] { poll(json); });
    const Figures b = timeIt(runs, [&] { poll(fallback); });
    print("JSON route (--json -B)", a);
    print("fallback (--json -b, --json -S, -L -B as text)", b);
    const double ratio = b.cpuMedian / a.cpuMedian;
    std::printf("  %-56s %.2fx the JSON route's CPU time; goal <= 2x: %s\n", "fallback", ratio,
                ratio <= 2.0 ? "met" : "NOT MET");
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// A whole poll (the sessions, then every user's files: one listing) of the backend, its own
// work and that of the tools it runs.
struct PollFigures {
    double wallMedian = 0, cpuMedian = 0;
};

double processCpuMs()
{
    rusage self{}, children{};
    ::getrusage(RUSAGE_SELF, &self);
    ::getrusage(RUSAGE_CHILDREN, &children);
    auto ms = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
    };
    return ms(self.ru_utime) + ms(self.ru_stime) + ms(children.ru_utime) + ms(children.ru_stime);
}

PollFigures timePolls(SambaNetManagement& net, int runs, std::size_t& sessionsSeen, std::size_t& filesSeen)
{
    std::vector<NetSessionInfo> sessions;
    std::vector<NetFileInfo> files;
    std::vector<double> wall, cpu;
    for (int i = 0; i <= runs; ++i) {
        net.invalidate();
        const double c0 = processCpuMs();
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = net.enumSessions({}, sessions).ok() && net.enumAllFiles({}, files).ok();
        const double w = Ms(std::chrono::steady_clock::now() - t0).count();
        const double c = processCpuMs() - c0;
        if (!ok)
            return {};
        if (i == 0)
            continue;  // warm-up
        wall.push_back(w);
        cpu.push_back(c);
    }
    sessionsSeen = sessions.size();
    filesSeen = files.size();
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    return {wall[wall.size() / 2], cpu[cpu.size() / 2]};
}

// The poll by both routes against a private smbd that `count` smbclient processes hold a file
// each on, plus one client of Samba's Python bindings: first with no special open (the JSON
// route), then while that client holds a file with full access (the fallback).
void benchRealSmbstatus(const std::string& doc200, int count, const std::string& fullAccessClient)
{
    if (::geteuid() != 0 || findProgram("smbd").find('/') == std::string::npos) {
        std::printf("\nreal smbstatus: skipped (needs root and Samba)\n");
        return;
    }
    samba::PrivateSambaServer::Options so;
    so.shares = {"docs"};
    samba::PrivateSambaServer server(so);
    std::string error;
    if (!server.start(error)) {
        std::printf("\nreal smbstatus: private server failed: %s\n", error.c_str());
        return;
    }
    const std::string user = server.addUser("bench", "pw", error);
    if (user.empty()) {
        std::printf("\nreal smbstatus: no account: %s\n", error.c_str());
        return;
    }
    const struct passwd* pw = ::getpwnam(user.c_str());
    for (int i = 0; i <= count; ++i) {
        const auto file = server.sharePath("docs") / ("f" + std::to_string(i) + ".txt");
        std::ofstream(file) << "x";
        // The owner holds every right on its file, which anyone may read and write: full access is
        // granted.
        if (pw && ::chown(file.c_str(), pw->pw_uid, pw->pw_gid) != 0)
            std::printf("cannot give %s to %s\n", file.c_str(), user.c_str());
        std::filesystem::permissions(file, std::filesystem::perms::all);
    }
    std::vector<std::unique_ptr<samba::SmbClientHolder>> clients(static_cast<std::size_t>(count));
    {
        // Four at a time: each waits for smbclient to log on and to answer its open.
        std::vector<std::thread> starters;
        std::atomic<int> next{0}, failed{0};
        for (int t = 0; t < 4; ++t)
            starters.emplace_back([&] {
                for (int i; (i = next++) < count;) {
                    samba::SmbClientHolder::Options co;
                    co.port = server.port();
                    co.share = "docs";
                    co.user = user;
                    co.password = "pw";
                    auto c = std::make_unique<samba::SmbClientHolder>(co);
                    std::string e;
                    if (!c->connect(e, std::chrono::seconds(60)) || !c->open("f" + std::to_string(i) + ".txt"))
                        ++failed;
                    clients[static_cast<std::size_t>(i)] = std::move(c);
                }
            });
        for (auto& t : starters)
            t.join();
        if (failed > 0)
            std::printf("\nreal smbstatus: %d of %d clients did not connect or open\n", failed.load(), count);
    }
    LineHelper fullAccess;
    int startError = 0;
    const bool haveFullAccess = fullAccess.start(
        {"/usr/bin/python3", fullAccessClient, server.configFile().string(), user, "pw", std::to_string(server.port())},
        startError);

    const std::vector<std::string> argv{findProgram("smbstatus"), "-s", server.configFile().string(), "--json"};
    std::printf("\nreal smbstatus against a private smbd with %d smbclient sessions holding a file each:\n", count);
    print("one smbstatus --json run (process + Samba's work)", timeIt(10, [&] { runProcess(argv); }));

    // The cost of a process that does nothing but hand over 750 KB, for comparison.
    const auto file = server.root() / "doc200.json";
    std::ofstream(file, std::ios::binary) << doc200;
    print("`cat` of the 200-session document (process cost alone)", timeIt(10, [&] {
              runProcess({"cat", file.string()});
          }));

    SambaOptions o;
    o.configFile = server.configFile().string();
    SambaNetManagement net(o);
    std::size_t sessions = 0, files = 0;
    const PollFigures json = timePolls(net, 10, sessions, files);
    const bool jsonRoute = net.listingNotes().route.empty();
    std::printf("  %-56s wall median %9.3f ms; cpu (with the tools) %9.3f ms; %zu sessions, %zu files%s\n",
                "a poll on the JSON route (--json -B)", json.wallMedian, json.cpuMedian, sessions, files,
                jsonRoute ? "" : " (NOT the JSON route)");
    if (!haveFullAccess) {
        std::printf("  the full-access client did not start (error %d): no fallback figures\n", startError);
        return;
    }
    const auto reply = fullAccess.exchange("open f" + std::to_string(count) + ".txt", std::chrono::seconds(60));
    if (reply.outcome != LineHelper::Reply::Outcome::Line || reply.line != "opened") {
        std::printf("  the full-access client answered \"%s\" %s: no fallback figures\n", reply.line.c_str(),
                    fullAccess.errorOutput().c_str());
        return;
    }
    const PollFigures fallback = timePolls(net, 10, sessions, files);
    const bool fellBack = net.listingNotes().route == "text-opens";
    std::printf("  %-56s wall median %9.3f ms; cpu (with the tools) %9.3f ms; %zu sessions, %zu files%s\n",
                "a poll on the fallback (--json -b, --json -S, -L -B)", fallback.wallMedian, fallback.cpuMedian,
                sessions, files, fellBack ? "" : " (NOT the fallback)");
    if (json.wallMedian <= 0 || fallback.wallMedian <= 0 || !jsonRoute || !fellBack) {
        std::printf("  a poll failed or took the wrong route: no ratio\n");
        return;
    }
    const double wallRatio = fallback.wallMedian / json.wallMedian, cpuRatio = fallback.cpuMedian / json.cpuMedian;
    std::printf("  %-56s %.2fx the JSON route's wall time; goal <= 2x: %s\n", "fallback, real", wallRatio,
                wallRatio <= 2.0 ? "met" : "NOT MET");
    std::printf("  %-56s %.2fx the JSON route's CPU time; goal <= 2x: %s\n", "fallback, real", cpuRatio,
                cpuRatio <= 2.0 ? "met" : "NOT MET");
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string recordedPath = argc > 1 ? argv[1] : VANTOR_RECORDED_SMBSTATUS;
    // The real server's sessions: VANTOR_BENCH_SESSIONS, 200 unless set.
    const char* n = std::getenv("VANTOR_BENCH_SESSIONS");
    const int sessions = n && std::atoi(n) > 0 ? std::atoi(n) : 200;
    const std::string recorded = readFile(recordedPath);
    if (recorded.empty()) {
        std::fprintf(stderr, "cannot read %s\n", recordedPath.c_str());
        return 1;
    }
    std::string error;
    const std::string doc200 = bench::generateSmbStatusDocument(recorded, 200, 3, error);
    const std::string doc10k = bench::generateSmbStatusDocument(recorded, 10'000, 3, error);
    if (doc200.empty() || doc10k.empty()) {
        std::fprintf(stderr, "cannot generate documents: %s\n", error.c_str());
        return 1;
    }
    std::printf("Documents generated in the shape of %s\n", recordedPath.c_str());
    benchDocument("recorded", recorded, 200);
    benchDocument("200 sessions", doc200, 50);
    // The parse took 289 ms here before it read the sessions' details; reading them must not cost more.
    benchDocument("10,000 sessions", doc10k, 5, 289);
    benchFallback("200 sessions", doc200, 50);
    benchRealSmbstatus(doc200, sessions, VANTOR_FULL_ACCESS_CLIENT);
    return 0;
}
