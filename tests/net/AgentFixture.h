#pragma once
// A console agent on 127.0.0.1 with a fake host, and the raw exchanges a console makes with it.

#include "FreePort.h"
#include "TempDir.h"
#include "console/ConsoleAgent.h"
#include "console/ConsoleClient.h"
#include "sockets/NetSocket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vantor::test {

class FakeAgentHost final : public ConsoleAgentHost {
public:
    SessionsSnapshotPtr snapshot() override
    {
        std::lock_guard lock(mutex);
        return snap;
    }
    void closeSessionByName(const std::string& user, const std::string& computer) override
    {
        std::lock_guard lock(mutex);
        closed.emplace_back(user, computer);
    }
    void closeAllSessions() override
    {
        std::lock_guard lock(mutex);
        ++closeAllCount;
    }
    std::filesystem::path generateReport() override
    {
        std::lock_guard lock(mutex);
        ++reportsGenerated;
        return reportFile;
    }
    void deleteLogs() override
    {
        std::lock_guard lock(mutex);
        ++deleteCount;
    }
    std::string hostName() override
    {
        std::lock_guard lock(mutex);
        return name;
    }
    void showBox(const BoxRequest& request) override
    {
        std::lock_guard lock(mutex);
        boxes.push_back(request);
    }

    void setSessions(std::vector<SessionEntry> rows, uint32_t count, uint32_t files)
    {
        auto s = std::make_shared<SessionsSnapshot>();
        s->rows = std::move(rows);
        s->currentSessionsCount = count;
        s->openFilesTotal = files;
        std::lock_guard lock(mutex);
        snap = std::move(s);
    }

    void setName(std::string n)
    {
        std::lock_guard lock(mutex);
        name = std::move(n);
    }
    void clearSnapshot()
    {
        std::lock_guard lock(mutex);
        snap.reset();
    }
    void setReportFile(std::filesystem::path p)
    {
        std::lock_guard lock(mutex);
        reportFile = std::move(p);
    }

    std::mutex mutex;
    SessionsSnapshotPtr snap;
    std::string name = "pc07";
    std::filesystem::path reportFile;
    std::vector<std::pair<std::string, std::string>> closed;
    int closeAllCount = 0;
    int deleteCount = 0;
    int reportsGenerated = 0;
    std::vector<BoxRequest> boxes;
};

// Connects to the command port, sends `request`, and collects everything until the agent closes
// the connection (at most `seconds`).
struct RawExchange {
    std::string received;
    bool closedByAgent = false;
};

inline NetSocket connectTo(uint16_t port)
{
    NetSocket s;
    EXPECT_TRUE(s.Create());
    EXPECT_TRUE(s.Connect(port, "127.0.0.1", 2));
    return s;
}

inline RawExchange readToClose(NetSocket& s, uint32_t seconds = 5)
{
    RawExchange r;
    char buffer[64 * 1024];
    for (;;) {
        const int32_t n = s.Receive(buffer, sizeof buffer, seconds);
        if (n <= 0)
            break;
        r.received.append(buffer, static_cast<std::size_t>(n));
    }
    r.closedByAgent = s.lastReceive() == NetSocket::ReceiveStatus::Closed;
    return r;
}

inline RawExchange askAgent(uint16_t port, const std::string& request, uint32_t seconds = 5)
{
    NetSocket s = connectTo(port);
    EXPECT_EQ(s.SendAll(request.data(), static_cast<int32_t>(request.size())), static_cast<int32_t>(request.size()));
    return readToClose(s, seconds);
}

struct AgentFixture : ::testing::Test {
    // Short waits keep the tests quick; the tests of the 3-second bound set it themselves.
    void startAgent(uint32_t waitSeconds = 1, std::chrono::milliseconds commandDeadline = std::chrono::seconds(5),
                    std::size_t maxCommandsAtOnce = 4)
    {
        if (!replyListener.isValid()) {  // kept when a test starts a second agent
            ASSERT_TRUE(replyListener.Listen(0, "127.0.0.1"));
        }
        // The discovery port is probed and bound again by the agent; another process may take it in
        // between, so try a few.
        for (int attempt = 0; attempt < 5; ++attempt) {
            ConsoleAgent::Config config;
            config.bindAddress = "127.0.0.1";
            config.commandPort = 0;
            config.discoveryPort = freeUdpPort();
            config.consoleReplyPort = replyListener.LocalPort();
            config.waitSeconds = waitSeconds;
            config.commandDeadline = commandDeadline;
            config.maxCommandsAtOnce = maxCommandsAtOnce;
            config.allowedConsoles = allowedConsoles;
            config.onCommand = [this](const console::CommandRequest&, const std::string& from) {
                std::lock_guard lock(host.mutex);
                commandsFrom.push_back(from);
            };
            agent = std::make_unique<ConsoleAgent>(host, config);
            agent->start();
            if (agent->discoveryActive() && agent->commandActive()) {
                discoveryPort = config.discoveryPort;
                commandPort = agent->commandPort();
                return;
            }
            agent.reset();
            host.boxes.clear();
        }
        FAIL() << "cannot start the agent on 127.0.0.1";
    }

    void TearDown() override
    {
        if (agent)
            agent->stop();
    }

    void sendDatagram(const std::string& bytes)
    {
        NetDatagramSocket out;
        ASSERT_TRUE(out.Create("", 0));
        ASSERT_EQ(out.SendTo(bytes.data(), static_cast<int32_t>(bytes.size()), "127.0.0.1", discoveryPort),
                  static_cast<int32_t>(bytes.size()));
    }

    TempDir dir;
    FakeAgentHost host;
    // The agent's list of consoles (none: every one), and the address of each command it read.
    std::optional<std::vector<Ipv4Network>> allowedConsoles;
    std::vector<std::string> commandsFrom;
    NetSocket replyListener;
    std::unique_ptr<ConsoleAgent> agent;
    uint16_t discoveryPort = 0;
    uint16_t commandPort = 0;
};

// An agent serving `host` on a command port of its own choosing on 127.0.0.1 (no discovery), and a
// console that talks to it.
struct LoopbackAgent {
    explicit LoopbackAgent(ConsoleAgentHost& host, uint32_t consoleTimeoutSeconds = 3)
        : agent(host, config())
    {
        agent.start();
        EXPECT_TRUE(agent.commandActive());
        console::ConsoleClient::Config c;
        c.commandPort = agent.commandPort();
        c.timeoutSeconds = consoleTimeoutSeconds;
        client.emplace(c);
    }
    static ConsoleAgent::Config config()
    {
        ConsoleAgent::Config c;
        c.bindAddress = "127.0.0.1";
        c.commandPort = 0;
        c.discoveryPort = 0;
        c.waitSeconds = 1;
        return c;
    }

    ConsoleAgent agent;
    std::optional<console::ConsoleClient> client;
};

inline std::string bytes(const char* data, std::size_t n)
{
    return std::string(data, n);
}

}  // namespace vantor::test
