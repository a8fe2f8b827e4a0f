#pragma once
// An SMTP server for the tests, on 127.0.0.1 and a port of the system's choosing. It answers each
// command with the reply its script gives and records every byte it receives, one record per
// connection. All its waits are bounded; it stops when destroyed.

#include "sockets/NetSocket.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vantor::test {

struct SmtpReplyStep {
    enum class Kind { Text, Silent, Close };
    Kind kind = Kind::Text;
    // Sent one after another with a short pause between them (Text; Close sends them, then closes).
    std::vector<std::string> pieces;

    SmtpReplyStep() = default;
    SmtpReplyStep(const char* text)
        : pieces{text}
    {
    }
    SmtpReplyStep(std::string text)
        : pieces{std::move(text)}
    {
    }
    // Answers nothing and keeps the connection open until the client gives up.
    static SmtpReplyStep silent() { return make(Kind::Silent, {}); }
    static SmtpReplyStep close(std::string text = {})
    {
        return make(Kind::Close, text.empty() ? std::vector<std::string>{} : std::vector<std::string>{text});
    }
    static SmtpReplyStep split(std::string first, std::string second)
    {
        return make(Kind::Text, {std::move(first), std::move(second)});
    }

private:
    static SmtpReplyStep make(Kind kind, std::vector<std::string> pieces)
    {
        SmtpReplyStep s;
        s.kind = kind;
        s.pieces = std::move(pieces);
        return s;
    }
};

struct SmtpScript {
    SmtpReplyStep greeting = "220 test.local ESMTP ready\r\n";
    SmtpReplyStep helo = "250 test.local\r\n";
    SmtpReplyStep ehlo = "250-test.local\r\n250-STARTTLS\r\n250 AUTH PLAIN LOGIN\r\n";
    // After a 220 here the server speaks no more: it records what comes (a TLS client hello) until
    // the client gives up, as a server that stops in the middle of the handshake does.
    SmtpReplyStep starttls = "220 go ahead\r\n";
    // One per line from the AUTH command on, as long as the replies are 334; the default accepts.
    std::vector<SmtpReplyStep> auth;
    SmtpReplyStep mail = "250 OK\r\n";
    // One per RCPT in order; RCPTs beyond the list get the last one (or "250 OK").
    std::vector<SmtpReplyStep> rcpt;
    SmtpReplyStep data = "354 End data with <CR><LF>.<CR><LF>\r\n";
    SmtpReplyStep endOfData = "250 OK queued\r\n";
    SmtpReplyStep quit = "221 bye\r\n";
};

class ScriptedSmtpServer {
public:
    explicit ScriptedSmtpServer(SmtpScript script = {});
    ~ScriptedSmtpServer();
    ScriptedSmtpServer(const ScriptedSmtpServer&) = delete;
    ScriptedSmtpServer& operator=(const ScriptedSmtpServer&) = delete;

    uint16_t port() const { return m_port; }

    // Waits (at most `limit`) until `count` connections have ended; false when they have not.
    bool waitForClosedConnections(std::size_t count, std::chrono::milliseconds limit = std::chrono::milliseconds(5000));
    // The bytes received so far, one entry per connection accepted.
    std::vector<std::string> received() const;
    std::size_t connectionCount() const;

private:
    void run();
    void serve(NetSocket& connection, std::size_t index);
    bool reply(NetSocket& connection, const SmtpReplyStep& step);
    // Reads until `buffer` holds `terminator`; false when the client closed or the time is up.
    bool readUntil(NetSocket& connection, std::size_t index, std::string& buffer, const std::string& terminator);

    SmtpScript m_script;
    NetSocket m_listener;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_received;
    std::size_t m_closed = 0;
    std::thread m_thread;
};

}  // namespace vantor::test
