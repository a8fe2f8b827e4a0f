// vantor-test-agent: the console agent over the real monitor core and a scripted service, on
// 127.0.0.1 only, for a console on the other side of a process (or platform) boundary.
//
//   vantor-test-agent --discovery-port N --reply-port N --data-dir DIR --stop-file FILE [--seconds N]
//
// Prints "ready <command port>" once both threads run, polls every second (so that a closed
// session leaves the table), and ends when the stop file appears or after --seconds (default 60).
// On its way out it prints "closed <user> <computer>" for every session the service was asked
// to end, for the caller to check.
#include "monitor/SessionMonitor.h"
#include "console/ConsoleAgent.h"
#include "console/SessionMonitorAgentHost.h"
#include "platform/Clock.h"
#include "demo/FakeNetManagement.h"

#include <charconv>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <thread>

using namespace vantor;

namespace {

int usage(const std::string& problem)
{
    std::cerr << "vantor-test-agent: " << problem << '\n'
              << "usage: vantor-test-agent --discovery-port N --reply-port N --data-dir DIR --stop-file FILE"
                 " [--seconds N]\n";
    return 2;
}

bool toNumber(const std::string& text, unsigned& value)
{
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc{} && end == text.data() + text.size();
}

}  // namespace

int main(int argc, char** argv)
{
    std::map<std::string, std::string> options;
    for (int i = 1; i + 1 < argc; i += 2)
        options[argv[i]] = argv[i + 1];
    unsigned discovery = 0, reply = 0, seconds = 60;
    if (!toNumber(options["--discovery-port"], discovery) || discovery == 0 || discovery > 65535)
        return usage("--discovery-port needs a port");
    if (!toNumber(options["--reply-port"], reply) || reply == 0 || reply > 65535)
        return usage("--reply-port needs a port");
    if (options.count("--seconds") && !toNumber(options["--seconds"], seconds))
        return usage("--seconds needs a number");
    const std::filesystem::path dataDir = options["--data-dir"];
    const std::filesystem::path stopFile = options["--stop-file"];
    if (dataDir.empty() || stopFile.empty())
        return usage("--data-dir and --stop-file are needed");

    if (!initializeSockets()) {
        std::cerr << socketsInitializationFailedText << '\n';
        return 1;
    }

    FakeNetManagement net;
    net.addSession("alice", "PC1", {"C:\\Shares\\Docs\\plan.txt", "C:\\Shares\\Docs\\budget.xls"});
    net.addSession("bob", "PC2", {"C:\\Shares\\Public\\readme.txt"});
    RecordingMessageBoxes boxes;
    SessionMonitor monitor({net, boxes, SystemClock::instance(), dataDir});
    monitor.pollSessions();

    SessionMonitorAgentHost host(monitor, {});
    host.setReportGenerator([dataDir] {
        const auto report = dataDir / "report.html";
        std::ofstream(report, std::ios::binary) << "<html><body>vantor test report</body></html>\n";
        return report;
    });

    ConsoleAgent::Config config;
    config.discoveryPort = static_cast<uint16_t>(discovery);
    config.consoleReplyPort = static_cast<uint16_t>(reply);
    config.commandPort = 0;
    config.bindAddress = "127.0.0.1";
    config.waitSeconds = 1;
    ConsoleAgent agent(host, config);
    agent.start();
    if (!agent.discoveryActive() || !agent.commandActive()) {
        for (const auto& box : boxes.shown)
            std::cerr << "vantor-test-agent: " << box.text << '\n';
        std::cerr << "vantor-test-agent: the agent's ports cannot be opened\n";
        return 1;
    }
    std::cout << "ready " << agent.commandPort() << std::endl;

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    std::error_code ec;
    while (std::chrono::steady_clock::now() < deadline && !std::filesystem::exists(stopFile, ec)) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        monitor.pollSessions();
    }
    agent.stop();
    for (const auto& call : net.deleteCalls())
        std::cout << "closed " << call.user << ' ' << call.computer << '\n';
    std::cout << "stopped" << std::endl;
    return 0;
}
