#pragma once
// The console agent: lets a monitoring console elsewhere on the network find this monitor and work
// it remotely. Two worker threads:
//  - DiscoveryThread answers "list" datagrams on the discovery port by connecting back to the
//    sender on the console's reply port and sending the identity reply;
//  - CommandThread accepts one command per connection on the command port and hands each to one
//    of a few command workers, so that a slow console holds one worker, never the others.
// Each command has a deadline as a whole (however slowly its console reads), and every wait looks
// at agentRunning often, so stop() returns promptly whatever a console is doing.
//
// The command port is unauthenticated: anyone who can reach it can read the sessions, delete the
// history and close sessions. The protocol is kept as consoles expect it; a list of the consoles
// served (Config::allowedConsoles) leaves every other address unanswered, and a firewall should
// protect the ports as well.

#include "base/ConsoleAllowList.h"
#include "console/ConsoleProtocol.h"
#include "sockets/NetSocket.h"
#include "platform/MessageBoxes.h"
#include "monitor/SessionTypes.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vantor {

// What the agent reads and does through the rest of the program. Every call comes on an agent
// thread; implementations are thread-safe and post anything that touches the screen to the GUI
// thread.
class ConsoleAgentHost {
public:
    virtual ~ConsoleAgentHost() = default;
    // The sessions table as last published; null reads as an empty table with zero counts.
    virtual SessionsSnapshotPtr snapshot() = 0;
    // The status of the closing is of no interest to the console.
    virtual void closeSessionByName(const std::string& user, const std::string& computer) = 0;
    virtual void closeAllSessions() = 0;
    // Loads the history, writes the web-based report and returns the report file's path.
    virtual std::filesystem::path generateReport() = 0;
    // Deletes both history logs, silently.
    virtual void deleteLogs() = 0;
    // This computer's name as the system gives it; empty when it cannot be read.
    virtual std::string hostName() = 0;
    // A box that the user should see (a port that cannot be opened); shown on the GUI thread.
    virtual void showBox(const BoxRequest& request) = 0;
};

// This computer's host name, or the system's node name when that fails; empty when neither can be
// read.
std::string localHostName();

class ConsoleAgent {
public:
    struct Config {
        uint16_t discoveryPort = 36869;
        uint16_t consoleReplyPort = 36870;
        // 0 lets the system choose (see commandPort()); tests use it.
        uint16_t commandPort = 36872;
        // Empty: all local addresses, as the program runs. Tests give 127.0.0.1.
        std::string bindAddress;
        // Every wait for a datagram, a connection, a request or the console's answer.
        uint32_t waitSeconds = 3;
        // A whole command, from its connection to its last byte sent, and a whole discovery reply:
        // a console that reads slowly or not at all is dropped when it runs out.
        std::chrono::milliseconds commandDeadline{15'000};
        // Commands served at once; more consoles wait in the listen backlog.
        std::size_t maxCommandsAtOnce = 4;
        // The consoles served, by their address; none: every one. A datagram or a connection from
        // any other address gets no answer at all.
        std::optional<std::vector<Ipv4Network>> allowedConsoles;
        // Told of every request read on the command port, with the console's address, on the
        // worker that serves it before it is served (the service counts and logs them); empty:
        // nobody is told.
        std::function<void(const console::CommandRequest&, const std::string& from)> onCommand;
    };

    explicit ConsoleAgent(ConsoleAgentHost& host);
    ConsoleAgent(ConsoleAgentHost& host, Config config);
    ~ConsoleAgent();
    ConsoleAgent(const ConsoleAgent&) = delete;
    ConsoleAgent& operator=(const ConsoleAgent&) = delete;

    // Opens both ports and starts both threads. A port that cannot be opened is told through the
    // host's showBox ("Can't create socket!" for the discovery port, the system's text for the
    // command port) and only its thread stays down. Starting a running agent does nothing.
    void start();
    // Clears agentRunning and joins every thread; each notices within stopCheckInterval, unless
    // the host is busy with a call of one of them (writing a report, say).
    void stop();

    bool discoveryActive() const { return m_discoveryThread.joinable(); }
    bool commandActive() const { return m_commandThread.joinable(); }
    // The port the command thread listens on (useful when the configured one was 0).
    uint16_t commandPort() const { return m_boundCommandPort; }

    std::atomic<bool> agentRunning{false};

private:
    using Deadline = std::chrono::steady_clock::time_point;
    struct Accepted {
        SocketHandle handle;
        Deadline deadline;
    };

    void DiscoveryThread(std::unique_ptr<NetDatagramSocket> socket);
    void CommandThread(std::unique_ptr<NetSocket> listener);
    void CommandWorker();

    void sendIdentityTo(const std::string& host);
    void serveConnection(NetSocket& connection, Deadline deadline);
    void sendSessions(NetSocket& connection, Deadline deadline);
    void sendReport(NetSocket& connection, Deadline deadline, char* buffer);
    bool sendText(NetSocket& connection, const std::string& bytes, Deadline deadline);
    // The protocol's fixed wait for the console, cut short by the command's deadline and by stop().
    WaitLimit consoleWait(Deadline deadline) const;
    std::string identity();
    bool served(const std::string& address) const;

    ConsoleAgentHost& m_host;
    Config m_config;
    uint16_t m_boundCommandPort = 0;
    std::thread m_discoveryThread;
    std::thread m_commandThread;
    std::vector<std::thread> m_commandWorkers;

    // Accepted connections on their way to a worker; `m_busy` counts those queued or served.
    std::mutex m_queueMutex;
    std::condition_variable m_queueChanged;
    std::deque<Accepted> m_queue;
    std::size_t m_busy = 0;
};

}  // namespace vantor
