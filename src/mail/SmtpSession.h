#pragma once
// A small client for the SMTP dialogue over one connection, with no retry. By default it speaks the
// basic dialogue (greeting, HELO, MAIL, RCPT, DATA, QUIT) in plain text; asked for encryption or a
// logon, it greets with EHLO, encrypts (TLS from the start, or STARTTLS), greets again and logs on
// with AUTH PLAIN or LOGIN before the same mail transaction. It runs on the calling thread, so
// every wait is bounded: a server that stops answering costs at most one wait limit per step, the
// TLS handshake included, not the platform's own connection time-outs.

#include "mail/MailMessage.h"
#include "monitor/MailRelay.h"
#include "mail/SmtpProtocol.h"
#include "mail/SmtpTls.h"
#include "mail/SmtpTransport.h"
#include "platform/Clock.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vantor {

inline constexpr int smtpPort = 25;
inline constexpr std::chrono::milliseconds smtpWaitLimit{30'000};

struct SmtpOptions {
    // Bounds the connection and each reply (and each send).
    std::chrono::milliseconds waitLimit = smtpWaitLimit;
    // The name HELO gives; empty: this computer's host name.
    std::string heloName;
    // "Now" for the Date line; null: the system clock.
    const Clock* clock = nullptr;
    // The connection; null: TCP.
    std::function<std::unique_ptr<SmtpTransport>()> makeTransport;
    // Encryption and logon; the defaults keep the basic dialogue.
    SmtpSecurity security = SmtpSecurity::None;
    std::string user;  // empty: no AUTH
    std::string password;
    std::string certFingerprint;  // see MailRelay
    // The encryption; null: startTls (SmtpTls.h). Tests put a layer there that encrypts nothing,
    // to follow the logon over a scripted server.
    std::function<TlsStart(std::unique_ptr<SmtpTransport>, const TlsPeerCheck&, std::chrono::milliseconds)> tlsLayer;
};

class SmtpSession {
public:
    SmtpSession(std::string server, int port, SmtpOptions options = {});
    virtual ~SmtpSession();
    SmtpSession(const SmtpSession&) = delete;
    SmtpSession& operator=(const SmtpSession&) = delete;

    // Connection, greeting and HELO (or EHLO, encryption and logon); connected only when every
    // step succeeds.
    bool Connect();
    // QUIT and close; true when not connected (nothing is sent then) or when QUIT got 221.
    bool Disconnect();
    // PrepareMessage, then Transmit.
    bool Send(MailMessage& message);
    // Writes the header and makes the body end with CR LF.
    virtual bool PrepareMessage(MailMessage& message);
    bool BuildHeader(MailMessage& message);
    std::string StuffBody(const MailMessage& message) const;
    // MAIL, RCPT and DATA. A refused recipient neither stops the mail nor fails it.
    bool Transmit(MailMessage& message);
    // Reads one whole reply and checks its code against row `check` of smtpReplyChecks.
    bool ReadReply(int check);

    bool connected() const { return m_connected; }
    const std::string& server() const { return m_server; }
    int port() const { return m_port; }

    std::string lastError = "OK";
    // Why the last step failed, in words for the user (a second line under the program's own
    // box text); empty when there is nothing to add. Never holds the password.
    std::string lastReason;
    std::string mailer = "QK Mail";

private:
    bool sendText(const std::string& text);
    void closeSocket();
    std::string greetingName() const;
    bool greetExtended(SmtpExtensions& extensions);
    bool encrypt();
    bool logOn(const SmtpExtensions& extensions);
    bool authStep(const std::string& text, int check);

    std::string m_server;
    int m_port;
    SmtpOptions m_options;
    bool m_connected = false;
    // Set when a wait ran out or the connection broke: the dialogue is out of step, and waiting
    // once more for the QUIT reply would only hold the caller longer.
    bool m_broken = false;
    std::unique_ptr<SmtpTransport> m_socket;
    std::string m_replyBuffer;  // bytes received and not yet taken as a reply
    std::string m_lastReply;  // the last whole reply, for the EHLO keywords
};

namespace smtpReason {
inline constexpr const char* untrusted = "The server's certificate is not trusted.";
inline constexpr const char* badLogon = "The server refused the user name or password.";
inline constexpr const char* noStartTls = "The server does not offer STARTTLS.";
inline constexpr const char* noAuth = "The server does not offer a logon that Vantor knows (AUTH PLAIN or LOGIN).";
inline constexpr const char* handshake = "The encrypted connection to the server could not be set up.";
inline constexpr const char* noTls = "This build of Vantor cannot encrypt mail.";
inline constexpr const char* cannotConnect = "Nothing answers at that server and port.";
inline constexpr const char* unknownServer = "No computer of that name is known: check the server's name.";
inline constexpr const char* noAnswer = "The server did not answer in time.";
inline constexpr const char* closed = "The server closed the connection.";
inline constexpr const char* clearLogon =
    "A logon needs an encrypted connection: set the security to starttls or tls, or leave the user empty.";
}  // namespace smtpReason

// The name this computer gives in HELO: the host name, or when that cannot be read, the
// computer name; cleaned of control characters.
std::string chooseHeloName(const std::optional<std::string>& hostName, const std::string& computerName);
std::string localHeloName();

}  // namespace vantor
