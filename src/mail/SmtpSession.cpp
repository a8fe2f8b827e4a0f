#include "mail/SmtpSession.h"

#include "mail/SmtpProtocol.h"
#include "mail/SmtpTls.h"

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
    : m_server(std::move(server))
    , m_port(port)
    , m_options(std::move(options))
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
    lastReason.clear();
    // The password would cross the network in clear, readable by anyone in between: refused
    // before a byte is sent, whatever the server offers.
    if (!m_options.user.empty() && m_options.security == SmtpSecurity::None) {
        lastError = "No logon without TLS";
        lastReason = smtpReason::clearLogon;
        return false;
    }
    m_socket = m_options.makeTransport ? m_options.makeTransport() : makeTcpSmtpTransport();
    if (!m_socket || !m_socket->Create()) {
        m_socket.reset();
        lastError = "Unable to create the socket.";
        return false;
    }
    if (!m_socket->Connect(m_server, m_port, m_options.waitLimit)) {
        lastError = "Unable to connect to server";
        lastReason = m_socket->hostNotFound() ? smtpReason::unknownServer : smtpReason::cannotConnect;
        closeSocket();
        return false;
    }
    if (m_options.security == SmtpSecurity::Tls && !encrypt()) {
        closeSocket();
        return false;
    }
    if (!ReadReply(SmtpCheck::Greeting)) {
        lastError = "Server didn't respond.";
        closeSocket();
        return false;
    }
    const bool basic = m_options.security == SmtpSecurity::None && m_options.user.empty();
    if (basic) {
        if (!sendText("HELO " + greetingName() + "\r\n") || !ReadReply(SmtpCheck::Ok)) {
            closeSocket();
            return false;
        }
        m_connected = true;
        return true;
    }

    SmtpExtensions extensions;
    bool ok = greetExtended(extensions);
    if (ok && m_options.security == SmtpSecurity::StartTls) {
        // Going on in plain text when STARTTLS is missing would hand the password and the mail to
        // whoever removed it from the reply.
        if (!extensions.startTls) {
            lastError = "STARTTLS not offered";
            lastReason = smtpReason::noStartTls;
            ok = false;
        } else {
            // RFC 3207 4.2: what the server said before the handshake is forgotten; it says it
            // again to the second EHLO.
            ok = sendText("STARTTLS\r\n") && ReadReply(SmtpCheck::Greeting) && encrypt() && greetExtended(extensions);
        }
    }
    if (ok && !m_options.user.empty())
        ok = logOn(extensions);
    if (!ok) {
        closeSocket();
        return false;
    }
    m_connected = true;
    return true;
}

std::string SmtpSession::greetingName() const
{
    return m_options.heloName.empty() ? localHeloName() : cleanMailText(m_options.heloName);
}

bool SmtpSession::greetExtended(SmtpExtensions& extensions)
{
    if (!sendText("EHLO " + greetingName() + "\r\n") || !ReadReply(SmtpCheck::Ok))
        return false;
    extensions = parseEhloReply(m_lastReply);
    return true;
}

bool SmtpSession::encrypt()
{
    // Bytes that came with or after the go-ahead were sent before the encryption and may have
    // been put there by someone in between; they must not read as encrypted replies.
    m_replyBuffer.clear();
    const TlsPeerCheck peer{m_server, m_options.certFingerprint};
    TlsStart tls = m_options.tlsLayer ? m_options.tlsLayer(std::move(m_socket), peer, m_options.waitLimit)
                                      : startTls(std::move(m_socket), peer, m_options.waitLimit);
    if (tls.transport) {
        m_socket = std::move(tls.transport);
        return true;
    }
    m_broken = true;
    switch (tls.failure) {
    case TlsFailure::Untrusted:
        lastError = "Untrusted certificate";
        lastReason = smtpReason::untrusted;
        break;
    case TlsFailure::TimedOut:
        lastError = "No reply from server in time";
        lastReason = smtpReason::noAnswer;
        break;
    case TlsFailure::Unavailable:
        lastError = "No TLS";
        lastReason = smtpReason::noTls;
        break;
    case TlsFailure::None:
    case TlsFailure::HandshakeFailed:
        lastError = "TLS handshake failed";
        lastReason = smtpReason::handshake;
        break;
    }
    return false;
}

bool SmtpSession::authStep(const std::string& text, int check)
{
    if (!sendText(text))
        return false;
    if (ReadReply(check))
        return true;
    if (!m_broken)
        lastReason = smtpReason::badLogon;
    return false;
}

bool SmtpSession::logOn(const SmtpExtensions& extensions)
{
    if (extensions.authPlain)
        return authStep("AUTH PLAIN " + base64Encode(std::string(1, '\0') + m_options.user + '\0' + m_options.password)
                            + "\r\n",
                        SmtpCheck::LoggedOn);
    if (extensions.authLogin)
        return authStep("AUTH LOGIN\r\n", SmtpCheck::GoOn)
               && authStep(base64Encode(m_options.user) + "\r\n", SmtpCheck::GoOn)
               && authStep(base64Encode(m_options.password) + "\r\n", SmtpCheck::LoggedOn);
    lastError = "AUTH not offered";
    lastReason = smtpReason::noAuth;
    return false;
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
    lastReason.clear();
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
    // Text outside ASCII: the header's in encoded words, the body declared as UTF-8. A mail of
    // ASCII alone keeps the classic header.
    const std::string mime =
        isAsciiText(message.body)
            ? std::string()
            : "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n";
    message.header = "Date: " + formatMailDate(message.date) + "\r\nFrom: " + cleanMailText(message.from)
                     + "\r\nTo: " + mailToLine(to) + "\r\nSubject: " + encodeHeaderText(cleanMailText(message.subject))
                     + "\r\nX-Mailer: <" + cleanMailText(mailer) + ">\r\n" + mime + "\r\n";
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
            m_lastReply = m_replyBuffer.substr(0, scan.length);
            m_replyBuffer.erase(0, scan.length);
            if (auto error = checkSmtpReply(scan.code, check)) {
                lastError = *error;
                return false;
            }
            return true;
        }
        if (peerClosed) {
            lastError = "Connection closed by server";
            lastReason = smtpReason::closed;
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
            lastReason = smtpReason::noAnswer;
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
            lastReason = smtpReason::noAnswer;
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
    struct utsname u { };
    if (uname(&u) == 0)
        computer = u.nodename;
#endif
    return chooseHeloName(host, computer);
}

}  // namespace vantor
