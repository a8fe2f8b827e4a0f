#include "console/ConsoleClient.h"

#include "sockets/NetSocket.h"

#include <chrono>

namespace vantor::console {

namespace {

using Clock = std::chrono::steady_clock;

// An identity or report-size reply is a few dozen bytes; a peer that sends more without a NUL is
// not an agent.
constexpr std::size_t longestShortReply = 1024;
// A long reply (the sessions, the report, what comes before the agent closes a command's
// connection) must keep coming: at least this many bytes in every time-out, or be complete.
constexpr uint64_t leastProgress = 1024;
// Bytes an agent may send on a command connection before closing it; it sends none.
constexpr uint64_t mostBytesBeforeClose = 64 * 1024;

// The time an exchange has left. A short reply gets one time-out in all, however its bytes are
// spread; a long one a fresh time-out whenever `leastProgress` more bytes have arrived. So a peer
// that trickles a byte a second is given up on within the time-out, not after an hour.
class Pace {
public:
    Pace(uint32_t seconds, uint64_t progress)
        : m_seconds(seconds)
        , m_progress(progress)
        , m_end(Clock::now() + std::chrono::seconds(seconds))
    {
    }

    // How long the next receive may wait (whole seconds, the socket layer's unit); 0 when the
    // exchange has run out of time.
    uint32_t nextWait(uint64_t received)
    {
        const auto now = Clock::now();
        if (received - m_mark >= m_progress) {
            m_mark = received;
            m_end = now + std::chrono::seconds(m_seconds);
        }
        if (now >= m_end)
            return 0;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_end - now).count();
        return static_cast<uint32_t>((left + 999) / 1000);
    }

    std::string slowText() const
    {
        if (m_progress == UINT64_MAX)
            return "no complete answer within " + std::to_string(m_seconds) + " s";
        return "the agent sends too slowly (less than " + std::to_string(m_progress) + " bytes in "
               + std::to_string(m_seconds) + " s)";
    }

private:
    uint32_t m_seconds;
    uint64_t m_progress;
    uint64_t m_mark = 0;
    Clock::time_point m_end;
};

std::string where(const std::string& host, uint16_t port)
{
    return host + " port " + std::to_string(port);
}

struct Connection {
    NetSocket socket;
    std::string error;
};

Connection connectTo(const std::string& host, uint16_t port, uint32_t seconds)
{
    Connection c;
    if (!c.socket.Create()) {
        c.error = "cannot create a socket: " + socketErrorText(c.socket.lastError());
    } else if (!c.socket.Connect(port, host, seconds)) {
        c.error = "cannot connect to " + where(host, port) + ": " + socketErrorText(c.socket.lastError());
    } else {
        c.socket.SetSendTimeout(seconds);
    }
    return c;
}

bool sendAll(NetSocket& socket, const std::string& bytes)
{
    return socket.SendAll(bytes.data(), static_cast<int32_t>(bytes.size())) == static_cast<int32_t>(bytes.size());
}

std::string receiveFailure(const NetSocket& socket, uint32_t seconds)
{
    switch (socket.lastReceive()) {
    case NetSocket::ReceiveStatus::TimedOut:
        return "no answer within " + std::to_string(seconds) + " s";
    case NetSocket::ReceiveStatus::Closed:
        return "the agent closed the connection";
    default:
        return socketErrorText(socket.lastError());
    }
}

// Reads one NUL-terminated message, all of it within `seconds`. Bytes that came behind the NUL are
// kept in `rest`.
std::optional<std::string> readMessage(NetSocket& socket, uint32_t seconds, std::string& rest, std::string& error)
{
    std::string bytes;
    char buffer[1024];
    Pace pace(seconds, UINT64_MAX);
    for (;;) {
        const auto nul = bytes.find('\0');
        if (nul != std::string::npos) {
            rest = bytes.substr(nul + 1);
            bytes.resize(nul + 1);
            return bytes;
        }
        if (bytes.size() > longestShortReply) {
            error = "the reply is not of this protocol";
            return std::nullopt;
        }
        const uint32_t wait = pace.nextWait(bytes.size());
        if (wait == 0) {
            error = pace.slowText();
            return std::nullopt;
        }
        const int32_t n = socket.Receive(buffer, sizeof buffer, wait);
        if (n <= 0) {
            error = receiveFailure(socket, seconds);
            return std::nullopt;
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
}

// The agent closes the connection when it has carried a command out.
Outcome<Done> awaitClose(NetSocket& socket, uint32_t seconds)
{
    char buffer[4096];
    uint64_t received = 0;
    Pace pace(seconds, UINT64_MAX);
    for (;;) {
        const uint32_t wait = pace.nextWait(received);
        if (wait == 0)
            return {std::nullopt, "the command was sent, but the agent did not finish it: " + pace.slowText()};
        const int32_t n = socket.Receive(buffer, sizeof buffer, wait);
        if (n <= 0)
            break;
        received += static_cast<uint64_t>(n);
        if (received > mostBytesBeforeClose)
            return {std::nullopt, "the command was sent, but the agent answered with data it should not send"};
    }
    if (socket.lastReceive() == NetSocket::ReceiveStatus::Closed)
        return {Done{}, {}};
    return {std::nullopt, "the command was sent, but the agent did not finish it: " + receiveFailure(socket, seconds)};
}

Outcome<Done> sendCommand(const ConsoleClient::Config& config, const std::string& host, const std::string& message)
{
    Connection c = connectTo(host, config.commandPort, config.timeoutSeconds);
    if (!c.error.empty())
        return {std::nullopt, c.error};
    if (!sendAll(c.socket, message))
        return {std::nullopt,
                "cannot send to " + where(host, config.commandPort) + ": " + socketErrorText(c.socket.lastError())};
    return awaitClose(c.socket, config.timeoutSeconds);
}

}  // namespace

Outcome<std::vector<DiscoveredAgent>>
ConsoleClient::discover(const std::string& target, const std::function<void(const DiscoveredAgent&)>& onReply)
{
    NetSocket listener;
    const bool listening = m_config.replyBindAddress.empty()
                               ? listener.Listen(m_config.replyPort)
                               : listener.Listen(m_config.replyPort, m_config.replyBindAddress);
    if (!listening)
        return {std::nullopt, "cannot listen on port " + std::to_string(m_config.replyPort)
                                  + " for replies: " + socketErrorText(listener.lastError())};

    NetDatagramSocket datagram;
    if (!datagram.Create("", 0))
        return {std::nullopt, "cannot create a datagram socket: " + socketErrorText(datagram.lastError())};
    const std::string request = commandMessage(wordList);
    if (datagram.SendTo(request.data(), static_cast<int32_t>(request.size()), target, m_config.discoveryPort) < 0)
        return {std::nullopt, "cannot send to " + where(target, m_config.discoveryPort) + ": "
                                  + socketErrorText(datagram.lastError())};

    std::vector<DiscoveredAgent> found;
    const auto deadline = Clock::now() + std::chrono::seconds(m_config.timeoutSeconds);
    while (Clock::now() < deadline) {
        // Whole seconds are the socket layer's unit: wait in steps of one until the deadline.
        NetSocket reply(listener.Accept(1));
        if (!reply.isValid())
            continue;
        std::string rest, error;
        const auto message = readMessage(reply, 1, rest, error);
        const auto identity = message ? parseIdentityReply(*message) : std::nullopt;
        if (!identity)
            continue;
        DiscoveredAgent agent{ipv4Text(reply.PeerAddress().address), *identity};
        if (onReply)
            onReply(agent);
        found.push_back(std::move(agent));
    }
    return {std::move(found), {}};
}

Outcome<Identity> ConsoleClient::identity(const std::string& host)
{
    Connection c = connectTo(host, m_config.commandPort, m_config.timeoutSeconds);
    if (!c.error.empty())
        return {std::nullopt, c.error};
    if (!sendAll(c.socket, commandMessage(wordId)))
        return {std::nullopt, "cannot send to " + where(host, m_config.commandPort)};
    std::string rest, error;
    const auto message = readMessage(c.socket, m_config.timeoutSeconds, rest, error);
    if (!message)
        return {std::nullopt, where(host, m_config.commandPort) + ": " + error};
    auto parsed = parseIdentityReply(*message);
    if (!parsed)
        return {std::nullopt, where(host, m_config.commandPort) + ": the identity reply is malformed"};
    return {std::move(parsed), {}};
}

Outcome<std::vector<SessionEntry>> ConsoleClient::sessions(const std::string& host)
{
    Connection c = connectTo(host, m_config.commandPort, m_config.timeoutSeconds);
    if (!c.error.empty())
        return {std::nullopt, c.error};
    if (!sendAll(c.socket, commandMessage(wordSess)))
        return {std::nullopt, "cannot send to " + where(host, m_config.commandPort)};
    SessionsReplyReader reader;
    char buffer[16 * 1024];
    uint64_t received = 0;
    Pace pace(m_config.timeoutSeconds, leastProgress);
    while (reader.state() == SessionsReplyReader::State::Reading) {
        const uint32_t wait = pace.nextWait(received);
        if (wait == 0)
            return {std::nullopt,
                    where(host, m_config.commandPort) + ": the sessions list is incomplete (" + pace.slowText() + ")"};
        const int32_t n = c.socket.Receive(buffer, sizeof buffer, wait);
        if (n <= 0)
            return {std::nullopt, where(host, m_config.commandPort) + ": the sessions list is incomplete ("
                                      + receiveFailure(c.socket, m_config.timeoutSeconds) + ")"};
        received += static_cast<uint64_t>(n);
        reader.feed(std::string_view(buffer, static_cast<std::size_t>(n)));
    }
    if (reader.state() == SessionsReplyReader::State::Malformed)
        return {std::nullopt, where(host, m_config.commandPort) + ": the sessions list is malformed"};
    return {reader.rows(), {}};
}

Outcome<uint32_t> ConsoleClient::report(const std::string& host, std::ostream& out,
                                        const std::function<void(uint32_t)>& onSize,
                                        const std::function<void(uint64_t, uint32_t)>& onProgress)
{
    Connection c = connectTo(host, m_config.commandPort, m_config.timeoutSeconds);
    if (!c.error.empty())
        return {std::nullopt, c.error};
    if (!sendAll(c.socket, commandMessage(wordReport)))
        return {std::nullopt, "cannot send to " + where(host, m_config.commandPort)};
    std::string rest, error;
    const auto message = readMessage(c.socket, m_config.timeoutSeconds, rest, error);
    if (!message)
        return {std::nullopt, where(host, m_config.commandPort) + ": " + error};
    const auto size = parseReportSizeReply(*message);
    if (!size)
        return {std::nullopt, where(host, m_config.commandPort) + ": the report size reply is malformed"};
    if (onSize)
        onSize(*size);
    if (*size == 0) {
        sendAll(c.socket, commandMessage(wordNoRep));
        return {std::nullopt, "the agent on " + host + " has no report"};
    }
    if (!sendAll(c.socket, commandMessage(wordRep)))
        return {std::nullopt, "cannot send to " + where(host, m_config.commandPort)};

    uint64_t received = 0;
    bool tooMuch = false;
    // Never more than was announced goes to `out`: a peer cannot fill the disk behind the size.
    auto take = [&](const char* data, std::size_t n) {
        if (received + n > *size) {
            tooMuch = true;
            n = static_cast<std::size_t>(*size - received);
        }
        out.write(data, static_cast<std::streamsize>(n));
        received += n;
        if (onProgress)
            onProgress(received, *size);
    };
    if (!rest.empty())
        take(rest.data(), rest.size());
    char buffer[64 * 1024];
    Pace pace(m_config.timeoutSeconds, leastProgress);
    std::string stalled;
    while (!tooMuch) {
        const uint32_t wait = pace.nextWait(received);
        if (wait == 0) {
            stalled = pace.slowText();
            break;
        }
        const int32_t n = c.socket.Receive(buffer, sizeof buffer, wait);
        if (n <= 0)
            break;
        take(buffer, static_cast<std::size_t>(n));
    }
    if (tooMuch)
        return {std::nullopt, "the agent sent more than the " + std::to_string(*size) + " bytes it announced"};
    if (!stalled.empty() || c.socket.lastReceive() != NetSocket::ReceiveStatus::Closed)
        return {std::nullopt, "the report stopped arriving after " + std::to_string(received) + " of "
                                  + std::to_string(*size) + " bytes ("
                                  + (stalled.empty() ? receiveFailure(c.socket, m_config.timeoutSeconds) : stalled)
                                  + ")"};
    if (received != *size)
        return {std::nullopt, "the report has " + std::to_string(received) + " bytes, but the agent announced "
                                  + std::to_string(*size)};
    if (!out)
        return {std::nullopt, "cannot write the report"};
    return {*size, {}};
}

Outcome<Done> ConsoleClient::deleteLogs(const std::string& host)
{
    return sendCommand(m_config, host, commandMessage(wordDelLogs));
}

Outcome<Done> ConsoleClient::closeSession(const std::string& host, const std::string& user, const std::string& computer)
{
    // The agent reads two blank-separated words of at most 255 characters and silently ignores
    // anything else; say so here instead of sending what cannot work.
    for (const std::string* name : {&user, &computer}) {
        if (name->empty() || name->size() > maxNameLength
            || name->find_first_of(std::string(" \t\n\v\f\r\0", 7)) != std::string::npos)
            return {std::nullopt, "cannot ask to close the session of '" + *name
                                      + "': a name must be 1 to 255 characters without blanks"};
    }
    return sendCommand(m_config, host, closeSessionMessage(user, computer));
}

Outcome<Done> ConsoleClient::closeAll(const std::string& host)
{
    return sendCommand(m_config, host, closeAllMessage());
}

}  // namespace vantor::console
