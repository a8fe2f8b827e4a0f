#include "net/SmtpSession.h"

#include "net/SmtpProtocol.h"

#ifdef _WIN32
#include <winsock2.h>
#include <windows.h>
#else
#include <sys/utsname.h>
#include <unistd.h>
#endif

namespace vantor {

namespace {

using SteadyClock = std::chrono::steady_clock;

// A reply longer than this is no SMTP server's; it fails its step rather than grow without end.
constexpr std::size_t maxReplyBytes = 64 * 1024;

}  // namespace

SmtpSession::SmtpSession(std::string server, int port, SmtpOptions options)
    : m_server(std::move(server)), m_port(port), m_options(std::move(options))
{
}

SmtpSession::~SmtpSession()
{
    if (m_connected)
        Disconnect();
}

void SmtpSession::closeSocket()
{
    if (m_socket) {
        m_socket->Close();
        m_socket.reset();
    }
    m_replyBuffer.clear();
}

bool SmtpSession::sendText(const std::string& text)
{
    if (m_socket && m_socket->SendAll(text, m_options.waitLimit))
        return true;
    lastError = "Socket Error";
    m_broken = true;
    return false;
}

bool SmtpSession::Connect()
{
    if (m_connected)
        return true;
    m_broken = false;
    m_replyBuffer.clear();
    m_socket = m_options.makeTransport ? m_options.makeTransport() : makeTcpSmtpTransport();
    if (!m_socket || !m_socket->Create()) {
        m_socket.reset();
        lastError = "Unable to create the socket.";
        return false;
    }
    if (!m_socket->Connect(m_server, m_port, m_options.waitLimit)) {
        lastError = "Unable to connect to server";
        closeSocket();
        return false;
    }
    if (!ReadReply(SmtpCheck::Greeting)) {
        lastError = "Server didn't respond.";
        closeSocket();
        return false;
    }
    const std::string helo = m_options.heloName.empty() ? localHeloName() : cleanMailText(m_options.heloName);
    if (!sendText("HELO " + helo + "\r\n") || !ReadReply(SmtpCheck::Ok)) {
        closeSocket();
        return false;
    }
    m_connected = true;
    return true;
}

bool SmtpSession::Disconnect()
{
    if (!m_connected)
        return true;
    bool ok = false;
    if (m_broken) {
        lastError = "Connection lost";
    } else if (sendText("QUIT\r\n")) {
        ok = ReadReply(SmtpCheck::Quit);
    }
    closeSocket();
    m_connected = false;
    return ok;
}

bool SmtpSession::Send(MailMessage& message)
{
    if (!m_connected) {
        lastError = "Must be connected";
        return false;
    }
    if (!PrepareMessage(message))
        return false;
    return Transmit(message);
}

bool SmtpSession::PrepareMessage(MailMessage& message)
{
    if (!BuildHeader(message))
        return false;
    if (!message.body.ends_with("\r\n"))
        message.body += "\r\n";
    return true;
}

bool SmtpSession::BuildHeader(MailMessage& message)
{
    if (message.recipients.empty()) {
        lastError = "No Recipients";
        return false;
    }
    message.date = m_options.clock ? m_options.clock->now() : SystemClock::instance().now();
    // Every value goes through cleanMailText: names come from the network, and a CR or LF in one
    // would end its header line and start another of the sender's choosing.
    std::vector<MailRecipient> to;
    to.reserve(message.recipients.size());
    for (const auto& r : message.recipients)
        to.push_back({cleanMailText(r.address), cleanMailText(r.name)});
    message.header = "Date: " + formatMailDate(message.date) + "\r\nFrom: " + cleanMailText(message.from)
                     + "\r\nTo: " + mailToLine(to) + "\r\nSubject: " + cleanMailText(message.subject)
                     + "\r\nX-Mailer: <" + cleanMailText(mailer) + ">\r\n\r\n";
    return true;
}

std::string SmtpSession::StuffBody(const MailMessage& message) const
{
    return stuffMailBody(message.body);
}

bool SmtpSession::Transmit(MailMessage& message)
{
    if (!m_connected) {
        lastError = "Must be connected";
        return false;
    }
    if (!sendText("MAIL From: <" + cleanMailText(message.from) + ">\r\n") || !ReadReply(SmtpCheck::Ok))
        return false;
    for (const auto& r : message.recipients) {
        if (!sendText("RCPT TO: <" + cleanMailText(r.address) + ">\r\n"))
            return false;
        // A refused recipient leaves its text in lastError and the mail goes on to the others; a
        // reply that never came leaves the dialogue out of step, and that ends the mail.
        if (!ReadReply(SmtpCheck::Ok) && m_broken)
            return false;
    }
    if (!sendText("DATA\r\n") || !ReadReply(SmtpCheck::Data))
        return false;
    // One send for header, body and end: three small ones would each wait for the server's
    // delayed acknowledgement.
    if (!sendText(message.header + StuffBody(message) + "\r\n.\r\n"))
        return false;
    return ReadReply(SmtpCheck::Ok);
}

bool SmtpSession::ReadReply(int check)
{
    if (!m_socket) {
        lastError = "Socket Error";
        return false;
    }
    const auto deadline = SteadyClock::now() + m_options.waitLimit;
    bool peerClosed = false;
    for (;;) {
        const SmtpReplyScan scan = scanSmtpReply(m_replyBuffer, peerClosed);
        if (scan.complete) {
            m_replyBuffer.erase(0, scan.length);
            if (auto error = checkSmtpReply(scan.code, check)) {
                lastError = *error;
                return false;
            }
            return true;
        }
        if (peerClosed) {
            lastError = "Connection closed by server";
            m_broken = true;
            return false;
        }
        if (m_replyBuffer.size() > maxReplyBytes) {
            lastError = "Reply too long";
            m_broken = true;
            return false;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        if (left.count() <= 0) {
            lastError = "No reply from server in time";
            m_broken = true;
            return false;
        }
        char buffer[1024];
        const int n = m_socket->Receive(buffer, static_cast<int>(sizeof buffer), left);
        if (n > 0) {
            m_replyBuffer.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            peerClosed = true;
        } else if (n == SmtpTransport::receiveTimedOut) {
            lastError = "No reply from server in time";
            m_broken = true;
            return false;
        } else {
            lastError = "Socket Error";
            m_broken = true;
            return false;
        }
    }
}

std::string chooseHeloName(const std::optional<std::string>& hostName, const std::string& computerName)
{
    if (hostName && !hostName->empty())
        return cleanMailText(*hostName);
    if (!computerName.empty())
        return cleanMailText(computerName);
    return "localhost";
}

std::string localHeloName()
{
    std::optional<std::string> host;
    char buffer[256] = {};
    if (gethostname(buffer, sizeof buffer - 1) == 0)
        host = std::string(buffer);
    std::string computer;
#ifdef _WIN32
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (GetComputerNameA(name, &size))
        computer.assign(name, size);
#else
    struct utsname u {};
    if (uname(&u) == 0)
        computer = u.nodename;
#endif
    return chooseHeloName(host, computer);
}

}  // namespace vantor
