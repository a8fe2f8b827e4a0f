#pragma once
// A small client for the basic SMTP dialogue (greeting, HELO, MAIL, RCPT, DATA, QUIT) over one
// connection: no extended greeting, no authentication, no encryption, no retry. It runs on the
// calling thread, so every wait is bounded: a server that stops answering costs at most one wait
// limit per step, not the platform's own connection time-outs.

#include "net/MailMessage.h"
#include "net/SmtpTransport.h"
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
};

class SmtpSession {
public:
    SmtpSession(std::string server, int port, SmtpOptions options = {});
    virtual ~SmtpSession();
    SmtpSession(const SmtpSession&) = delete;
    SmtpSession& operator=(const SmtpSession&) = delete;

    // Connection, greeting and HELO; connected only when all three succeed.
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
    std::string mailer = "QK Mail";

private:
    bool sendText(const std::string& text);
    void closeSocket();

    std::string m_server;
    int m_port;
    SmtpOptions m_options;
    bool m_connected = false;
    // Set when a wait ran out or the connection broke: the dialogue is out of step, and waiting
    // once more for the QUIT reply would only hold the caller longer.
    bool m_broken = false;
    std::unique_ptr<SmtpTransport> m_socket;
    std::string m_replyBuffer;  // bytes received and not yet taken as a reply
};

// The name this computer gives in HELO: the host name, or when that cannot be read, the
// computer name; cleaned of control characters.
std::string chooseHeloName(const std::optional<std::string>& hostName, const std::string& computerName);
std::string localHeloName();

}  // namespace vantor
