// Measures the console agent on 127.0.0.1: 1,000 sequential "id" requests (goal: at most 2 s in
// all) and "sess" of a 10,000-row table (goal: at most 200 ms each). Prints its figures.
#include "console/ConsoleAgent.h"
#include "console/ConsoleProtocol.h"
#include "sockets/NetSocket.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

using namespace vantor;
using Clock = std::chrono::steady_clock;

namespace {

class BenchHost final : public ConsoleAgentHost {
public:
    SessionsSnapshotPtr snapshot() override { return snap; }
    void closeSessionByName(const std::string&, const std::string&) override { }
    void closeAllSessions() override { }
    std::filesystem::path generateReport() override { return {}; }
    void deleteLogs() override { }
    std::string hostName() override { return localHostName(); }
    void showBox(const BoxRequest& request) override { std::fprintf(stderr, "box: %s\n", request.text.c_str()); }
    SessionsSnapshotPtr snap;
};

// One command: connect, send, read until the agent closes. Returns the bytes received.
std::string ask(uint16_t port, const std::string& request)
{
    NetSocket s;
    if (!s.Create() || !s.Connect(port, "127.0.0.1", 3))
        return {};
    s.SendAll(request.data(), static_cast<int32_t>(request.size()));
    std::string got;
    char buffer[64 * 1024];
    for (int32_t n; (n = s.Receive(buffer, sizeof buffer, 3)) > 0;)
        got.append(buffer, static_cast<std::size_t>(n));
    return got;
}

double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

int main()
{
    BenchHost host;
    auto snap = std::make_shared<SessionsSnapshot>();
    for (int i = 0; i < 10000; ++i)
        snap->rows.push_back(
            {"user" + std::to_string(i), "192.168.10." + std::to_string(i % 250), static_cast<uint32_t>(i % 40)});
    snap->currentSessionsCount = 10000;
    snap->openFilesTotal = 123456;
    host.snap = snap;

    ConsoleAgent::Config config;
    config.bindAddress = "127.0.0.1";
    config.commandPort = 0;
    config.discoveryPort = 0;  // unbound: discovery is not measured here
    config.waitSeconds = 1;
    ConsoleAgent agent(host, config);
    agent.start();
    if (!agent.commandActive()) {
        std::fprintf(stderr, "cannot start the agent\n");
        return 1;
    }
    const uint16_t port = agent.commandPort();
    const std::string id = console::commandMessage(console::wordId);
    const std::string sess = console::commandMessage(console::wordSess);

    int failures = 0;
    const auto idStart = Clock::now();
    for (int i = 0; i < 1000; ++i) {
        if (ask(port, id).empty())
            ++failures;
    }
    const double idTotal = ms(Clock::now() - idStart);
    std::printf("id: 1000 sequential requests in %.1f ms (%.3f ms each), %d failed; goal <= 2000 ms\n", idTotal,
                idTotal / 1000, failures);

    std::vector<double> times;
    std::size_t bytes = 0;
    for (int i = 0; i < 20; ++i) {
        const auto start = Clock::now();
        const std::string reply = ask(port, sess);
        times.push_back(ms(Clock::now() - start));
        bytes = reply.size();
        if (reply.empty() || reply.back() != console::sessionsEnd)
            ++failures;
    }
    std::sort(times.begin(), times.end());
    std::printf("sess: 10000 rows (%zu bytes) median %.1f ms, worst %.1f ms over %zu runs; goal <= 200 ms\n", bytes,
                times[times.size() / 2], times.back(), times.size());
    agent.stop();
    return failures == 0 ? 0 : 1;
}
