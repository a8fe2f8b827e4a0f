#include "net/ConsoleAgent.h"

#include "net/ConsoleProtocol.h"
#include "net/SocketPlatform.h"
#include "platform/ThreadGuard.h"

#include <chrono>
#include <cstring>
#include <fstream>

namespace vantor {

namespace {

constexpr const char* cantCreateSocketText = "Can't create socket!";
constexpr const char* errorCaption = "Error";

// Rows go out in pieces of about this size: the bytes on the wire are the same as one send per row,
// with far fewer system calls for a long table.
constexpr std::size_t sendBatchBytes = 64 * 1024;

bool sendText(NetSocket& connection, const std::string& bytes)
{
    return connection.SendAll(bytes.data(), static_cast<int32_t>(bytes.size())) == static_cast<int32_t>(bytes.size());
}

}  // namespace

std::string localHostName()
{
    return sockets::hostName();
}

ConsoleAgent::ConsoleAgent(ConsoleAgentHost& host)
    : ConsoleAgent(host, Config{})
{
}

ConsoleAgent::ConsoleAgent(ConsoleAgentHost& host, Config config)
    : m_host(host)
    , m_config(std::move(config))
{
}

ConsoleAgent::~ConsoleAgent()
{
    stop();
}

void ConsoleAgent::start()
{
    if (m_discoveryThread.joinable() || m_commandThread.joinable())
        return;
    agentRunning = true;

    auto datagrams = std::make_unique<NetDatagramSocket>();
    if (datagrams->Create(m_config.bindAddress, m_config.discoveryPort))
        m_discoveryThread = std::thread([this, socket = std::move(datagrams)]() mutable {
            runGuarded("the console agent's discovery thread", [&] { DiscoveryThread(std::move(socket)); });
        });
    else
        m_host.showBox({errorCaption, cantCreateSocketText, BoxIcon::Error, BoxButtons::Ok});

    auto listener = std::make_unique<NetSocket>();
    const bool listening = m_config.bindAddress.empty()
        ? listener->Listen(m_config.commandPort)
        : listener->Listen(m_config.commandPort, m_config.bindAddress);
    if (listening) {
        m_boundCommandPort = listener->LocalPort();
        m_commandThread = std::thread([this, socket = std::move(listener)]() mutable {
            runGuarded("the console agent's command thread", [&] { CommandThread(std::move(socket)); });
        });
    } else {
        m_host.showBox({errorCaption, socketErrorText(listener->lastError()), BoxIcon::Information, BoxButtons::Ok});
    }
}

void ConsoleAgent::stop()
{
    agentRunning = false;
    if (m_discoveryThread.joinable())
        m_discoveryThread.join();
    if (m_commandThread.joinable())
        m_commandThread.join();
}

std::string ConsoleAgent::identity()
{
    const SessionsSnapshotPtr snap = m_host.snapshot();
    return console::identityMessage(m_host.hostName(), snap ? snap->currentSessionsCount : 0,
                                    snap ? snap->openFilesTotal : 0);
}

// --- discovery ------------------------------------------------------------------------------------

void ConsoleAgent::DiscoveryThread(std::unique_ptr<NetDatagramSocket> socket)
{
    char buffer[console::discoveryBufferSize + 1];
    while (agentRunning) {
        std::memset(buffer, 0, sizeof buffer);
        const int32_t n = socket->ReceiveFrom(buffer, console::discoveryBufferSize, m_config.waitSeconds);
        if (n > 0 && console::isDiscoveryRequest(std::string_view(buffer, static_cast<std::size_t>(n)))) {
            sendIdentityTo(socket->senderText());
        } else if (n < 0) {
            // A wait that fails at once would fail again at once; don't spin on it.
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
}

void ConsoleAgent::sendIdentityTo(const std::string& host)
{
    NetSocket reply;
    if (!reply.Create())
        return;
    // Bounded, so that a sender that is not there (or a forged sender address) cannot keep the
    // thread from the next datagram or from stopping.
    if (!reply.Connect(m_config.consoleReplyPort, host, m_config.waitSeconds))
        return;
    reply.SetSendTimeout(m_config.sendTimeoutSeconds);
    sendText(reply, identity());
}

// --- commands -------------------------------------------------------------------------------------

void ConsoleAgent::CommandThread(std::unique_ptr<NetSocket> listener)
{
    using std::chrono::steady_clock;
    while (agentRunning) {
        const auto waitStart = steady_clock::now();
        const SocketHandle accepted = listener->Accept(m_config.waitSeconds);
        if (accepted == invalidSocket) {
            // An accept that fails at once (out of descriptors, say) would fail again at once: give
            // the system a moment instead of spinning on it.
            if (m_config.waitSeconds > 0 && steady_clock::now() - waitStart < std::chrono::milliseconds(100))
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        NetSocket connection(accepted);
        connection.SetSendTimeout(m_config.sendTimeoutSeconds);
        serveConnection(connection);
    }
}

void ConsoleAgent::serveConnection(NetSocket& connection)
{
    using Kind = console::CommandRequest::Kind;
    std::memset(m_commandBuffer, 0, sizeof m_commandBuffer);
    const int32_t n = connection.Receive(m_commandBuffer, console::commandBufferSize, m_config.waitSeconds);
    if (n <= 0)
        return;
    const console::CommandRequest request =
        console::parseCommandRequest(std::string_view(m_commandBuffer, static_cast<std::size_t>(n)));
    switch (request.kind) {
    case Kind::Sessions:
        sendSessions(connection);
        break;
    case Kind::Report:
        sendReport(connection);
        break;
    case Kind::Identity:
        sendText(connection, identity());
        break;
    case Kind::DeleteLogs:
        m_host.deleteLogs();
        break;
    case Kind::CloseSession:
        m_host.closeSessionByName(request.user, request.computer);
        break;
    case Kind::CloseAll:
        m_host.closeAllSessions();
        break;
    case Kind::Ignored:
        break;
    }
}

void ConsoleAgent::sendSessions(NetSocket& connection)
{
    const SessionsSnapshotPtr snap = m_host.snapshot();
    std::string batch;
    if (snap) {
        for (const SessionEntry& row : snap->rows) {
            batch += console::sessionRowMessage(row);
            // Once a send has failed (the console has gone or stopped reading), the rest would
            // only wait out the send time-out again, piece after piece: the command ends there.
            if (batch.size() >= sendBatchBytes) {
                if (!sendText(connection, batch))
                    return;
                batch.clear();
            }
        }
    }
    batch += console::sessionsEndMessage();
    sendText(connection, batch);
}

void ConsoleAgent::sendReport(NetSocket& connection)
{
    const std::filesystem::path path = m_host.generateReport();

    // The file is opened once, for its size and for its bytes, so that a report rewritten in the
    // meantime cannot make the bytes disagree with the size that the console was told.
    std::ifstream file;
    if (!path.empty())
        file.open(path, std::ios::binary);
    uint64_t size = 0;
    if (file) {
        file.seekg(0, std::ios::end);
        const auto end = file.tellg();
        file.seekg(0, std::ios::beg);
        if (end > 0)
            size = static_cast<uint64_t>(end);
    }
    const auto announced = static_cast<uint32_t>(size & 0xFFFFFFFFu);
    if (!sendText(connection, console::reportSizeMessage(announced)))
        return;

    std::memset(m_commandBuffer, 0, sizeof m_commandBuffer);
    const int32_t n = connection.Receive(m_commandBuffer, console::commandBufferSize, m_config.waitSeconds);
    if (n <= 0 || !console::isReportWanted(std::string_view(m_commandBuffer, static_cast<std::size_t>(n))))
        return;
    if (!file)
        return;

    uint64_t left = announced;
    char chunk[console::commandBufferSize];
    while (left > 0) {
        file.read(chunk, static_cast<std::streamsize>(std::min<uint64_t>(left, sizeof chunk)));
        const auto got = file.gcount();
        if (got <= 0)
            break;
        if (connection.SendAll(chunk, static_cast<int32_t>(got)) != got)
            break;
        left -= static_cast<uint64_t>(got);
    }
}

}  // namespace vantor
