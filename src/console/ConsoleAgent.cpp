#include "console/ConsoleAgent.h"

#include "console/ConsoleProtocol.h"
#include "sockets/SocketPlatform.h"
#include "platform/SystemText.h"
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

// A row as consoles read it: names in the system's text, as the Windows agent has always sent them.
SessionEntry onTheWire(const SessionEntry& row)
{
    SessionEntry sent = row;
    sent.user = toSystemText(row.user);
    sent.computer = toSystemText(row.computer);
    return sent;
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
    const bool listening = m_config.bindAddress.empty() ? listener->Listen(m_config.commandPort)
                                                        : listener->Listen(m_config.commandPort, m_config.bindAddress);
    if (listening) {
        m_boundCommandPort = listener->LocalPort();
        m_commandThread = std::thread([this, socket = std::move(listener)]() mutable {
            runGuarded("the console agent's command thread", [&] { CommandThread(std::move(socket)); });
        });
        for (std::size_t i = 0; i < std::max<std::size_t>(m_config.maxCommandsAtOnce, 1); ++i)
            m_commandWorkers.emplace_back(&ConsoleAgent::CommandWorker, this);
    } else {
        m_host.showBox({errorCaption, socketErrorText(listener->lastError()), BoxIcon::Information, BoxButtons::Ok});
    }
}

void ConsoleAgent::stop()
{
    agentRunning = false;
    {
        std::lock_guard lock(m_queueMutex);
        m_queueChanged.notify_all();
    }
    if (m_discoveryThread.joinable())
        m_discoveryThread.join();
    if (m_commandThread.joinable())
        m_commandThread.join();
    for (auto& worker : m_commandWorkers)
        worker.join();
    m_commandWorkers.clear();
    // Connections accepted but never served end here, unanswered.
    for (const Accepted& waiting : m_queue)
        NetSocket closing(waiting.handle);
    m_queue.clear();
    m_busy = 0;
}

WaitLimit ConsoleAgent::consoleWait(Deadline deadline) const
{
    const auto perWait = std::chrono::steady_clock::now() + std::chrono::seconds(m_config.waitSeconds);
    return WaitLimit::until(std::min(perWait, deadline), &agentRunning);
}

bool ConsoleAgent::sendText(NetSocket& connection, const std::string& bytes, Deadline deadline)
{
    // The deadline is the command's as a whole: a send that would not wait still ends it, or a
    // console that reads fast enough could keep a worker for as long as the reply goes on.
    if (std::chrono::steady_clock::now() >= deadline)
        return false;
    const auto size = static_cast<int32_t>(bytes.size());
    return connection.SendAll(bytes.data(), size, WaitLimit::until(deadline, &agentRunning)) == size;
}

std::string ConsoleAgent::identity()
{
    const SessionsSnapshotPtr snap = m_host.snapshot();
    return console::identityMessage(toSystemText(m_host.hostName()), snap ? snap->currentSessionsCount : 0,
                                    snap ? snap->openFilesTotal : 0);
}

// --- discovery ------------------------------------------------------------------------------------

void ConsoleAgent::DiscoveryThread(std::unique_ptr<NetDatagramSocket> socket)
{
    char buffer[console::discoveryBufferSize + 1];
    while (agentRunning) {
        std::memset(buffer, 0, sizeof buffer);
        const int32_t n = socket->ReceiveFrom(buffer, console::discoveryBufferSize,
                                              WaitLimit{std::chrono::seconds(m_config.waitSeconds), &agentRunning});
        if (n > 0 && console::isDiscoveryRequest(std::string_view(buffer, static_cast<std::size_t>(n)))
            && served(socket->senderText())) {
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
    const Deadline deadline = std::chrono::steady_clock::now() + m_config.commandDeadline;
    if (!reply.Connect(m_config.consoleReplyPort, host, consoleWait(deadline)))
        return;
    sendText(reply, identity(), deadline);
}

// --- commands -------------------------------------------------------------------------------------

void ConsoleAgent::CommandThread(std::unique_ptr<NetSocket> listener)
{
    using std::chrono::steady_clock;
    const std::size_t slots = std::max<std::size_t>(m_config.maxCommandsAtOnce, 1);
    while (agentRunning) {
        {
            // Only as many connections as workers are taken from the backlog: the rest wait there.
            std::unique_lock lock(m_queueMutex);
            if (!m_queueChanged.wait_for(lock, stopCheckInterval, [&] { return m_busy < slots || !agentRunning; }))
                continue;
        }
        if (!agentRunning)
            break;
        const auto waitStart = steady_clock::now();
        const SocketHandle accepted =
            listener->Accept(WaitLimit{std::chrono::seconds(m_config.waitSeconds), &agentRunning});
        if (accepted == invalidSocket) {
            // An accept that fails at once (out of descriptors, say) would fail again at once: give
            // the system a moment instead of spinning on it.
            if (agentRunning && steady_clock::now() - waitStart < std::chrono::milliseconds(100)
                && m_config.waitSeconds > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        std::lock_guard lock(m_queueMutex);
        m_queue.push_back({accepted, steady_clock::now() + m_config.commandDeadline});
        ++m_busy;
        m_queueChanged.notify_all();
    }
}

void ConsoleAgent::CommandWorker()
{
    for (;;) {
        Accepted next{};
        {
            std::unique_lock lock(m_queueMutex);
            m_queueChanged.wait(lock, [&] { return !m_queue.empty() || !agentRunning; });
            if (!agentRunning)
                return;
            next = m_queue.front();
            m_queue.pop_front();
        }
        // A command that throws ends only itself: the worker and its place in the count go on.
        runGuarded("a console command", [&] {
            NetSocket connection(next.handle);
            serveConnection(connection, next.deadline);
        });
        std::lock_guard lock(m_queueMutex);
        --m_busy;
        m_queueChanged.notify_all();
    }
}

bool ConsoleAgent::served(const std::string& address) const
{
    return !m_config.allowedConsoles || consoleAllowed(*m_config.allowedConsoles, address);
}

void ConsoleAgent::serveConnection(NetSocket& connection, Deadline deadline)
{
    using Kind = console::CommandRequest::Kind;
    const std::string peer = sockets::formatIpv4(connection.PeerAddress().address);
    // Closed unread: a console that is not served learns nothing, not even the protocol.
    if (!served(peer))
        return;
    // One request buffer per command, cleared so that a short request never compares with anything
    // but NULs. One byte more than a receive takes, so the text is always terminated.
    char buffer[console::commandBufferSize + 1] = {};
    const int32_t n = connection.Receive(buffer, console::commandBufferSize, consoleWait(deadline));
    if (n <= 0)
        return;
    const console::CommandRequest request =
        console::parseCommandRequest(std::string_view(buffer, static_cast<std::size_t>(n)));
    if (m_config.onCommand)
        m_config.onCommand(request, peer);
    switch (request.kind) {
    case Kind::Sessions:
        sendSessions(connection, deadline);
        break;
    case Kind::Report:
        sendReport(connection, deadline, buffer);
        break;
    case Kind::Identity:
        sendText(connection, identity(), deadline);
        break;
    case Kind::DeleteLogs:
        m_host.deleteLogs();
        break;
    case Kind::CloseSession:
        m_host.closeSessionByName(fromSystemText(request.user), fromSystemText(request.computer));
        break;
    case Kind::CloseAll:
        m_host.closeAllSessions();
        break;
    case Kind::Ignored:
        break;
    }
}

void ConsoleAgent::sendSessions(NetSocket& connection, Deadline deadline)
{
    const SessionsSnapshotPtr snap = m_host.snapshot();
    std::string batch;
    if (snap) {
        for (const SessionEntry& row : snap->rows) {
            batch += console::sessionRowMessage(onTheWire(row));
            // Once a send has failed (the console has gone, or its command ran out of time), the
            // rest would fail too: the command ends there.
            if (batch.size() >= sendBatchBytes) {
                if (!sendText(connection, batch, deadline))
                    return;
                batch.clear();
            }
        }
    }
    batch += console::sessionsEndMessage();
    sendText(connection, batch, deadline);
}

void ConsoleAgent::sendReport(NetSocket& connection, Deadline deadline, char* buffer)
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
    if (!sendText(connection, console::reportSizeMessage(announced), deadline))
        return;

    std::memset(buffer, 0, console::commandBufferSize + 1);
    const int32_t n = connection.Receive(buffer, console::commandBufferSize, consoleWait(deadline));
    if (n <= 0 || !console::isReportWanted(std::string_view(buffer, static_cast<std::size_t>(n))))
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
        if (connection.SendAll(chunk, static_cast<int32_t>(got), WaitLimit::until(deadline, &agentRunning)) != got)
            break;
        left -= static_cast<uint64_t>(got);
    }
}

}  // namespace vantor
