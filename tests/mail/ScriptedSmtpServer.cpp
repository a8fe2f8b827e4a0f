#include "ScriptedSmtpServer.h"

#include <stdexcept>

namespace vantor::test {

namespace {

using Clock = std::chrono::steady_clock;

// A client that neither sends nor closes for this long is dropped: every test ends by itself.
constexpr auto idleLimit = std::chrono::seconds(10);

std::string commandOf(const std::string& line)
{
    std::string cmd = line.substr(0, 4);
    for (char& c : cmd)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return cmd;
}

}  // namespace

ScriptedSmtpServer::ScriptedSmtpServer(SmtpScript script)
    : m_script(std::move(script))
{
    if (!m_listener.Listen(0, "127.0.0.1"))
        throw std::runtime_error("the test SMTP server cannot listen on 127.0.0.1");
    m_port = m_listener.LocalPort();
    m_thread = std::thread([this] { run(); });
}

ScriptedSmtpServer::~ScriptedSmtpServer()
{
    m_stop = true;
    m_thread.join();
}

bool ScriptedSmtpServer::waitForClosedConnections(std::size_t count, std::chrono::milliseconds limit)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, limit, [&] { return m_closed >= count; });
}

std::vector<std::string> ScriptedSmtpServer::received() const
{
    std::lock_guard lock(m_mutex);
    return m_received;
}

std::size_t ScriptedSmtpServer::connectionCount() const
{
    std::lock_guard lock(m_mutex);
    return m_received.size();
}

void ScriptedSmtpServer::run()
{
    while (!m_stop) {
        const SocketHandle handle = m_listener.Accept(0);
        if (handle == invalidSocket) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        NetSocket connection(handle);
        std::size_t index;
        {
            std::lock_guard lock(m_mutex);
            index = m_received.size();
            m_received.emplace_back();
        }
        serve(connection, index);
        connection.Close();
        {
            std::lock_guard lock(m_mutex);
            ++m_closed;
        }
        m_changed.notify_all();
    }
}

bool ScriptedSmtpServer::reply(NetSocket& connection, const SmtpReplyStep& step)
{
    for (std::size_t i = 0; i < step.pieces.size(); ++i) {
        if (i > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const std::string& piece = step.pieces[i];
        if (connection.SendAll(piece.data(), static_cast<int32_t>(piece.size())) < 0)
            return false;
    }
    return step.kind == SmtpReplyStep::Kind::Text;
}

bool ScriptedSmtpServer::readUntil(NetSocket& connection, std::size_t index, std::string& buffer,
                                   const std::string& terminator)
{
    auto lastData = Clock::now();
    while (terminator.empty() || buffer.find(terminator) == std::string::npos) {
        if (m_stop || Clock::now() - lastData > idleLimit)
            return false;
        char chunk[4096];
        const int32_t n = connection.Receive(chunk, sizeof chunk, 1);
        if (n > 0) {
            buffer.append(chunk, static_cast<std::size_t>(n));
            std::lock_guard lock(m_mutex);
            m_received[index].append(chunk, static_cast<std::size_t>(n));
            lastData = Clock::now();
        } else if (connection.lastReceive() != NetSocket::ReceiveStatus::TimedOut) {
            return false;
        }
    }
    return true;
}

void ScriptedSmtpServer::serve(NetSocket& connection, std::size_t index)
{
    std::string buffer;
    std::size_t rcptCount = 0;
    std::size_t authCount = 0;
    bool inAuth = false;
    // After a Silent step the server only listens (and records) until the client goes away.
    auto listenToTheEnd = [&] { readUntil(connection, index, buffer, {}); };

    if (!reply(connection, m_script.greeting)) {
        if (m_script.greeting.kind == SmtpReplyStep::Kind::Silent)
            listenToTheEnd();
        return;
    }
    for (;;) {
        if (!readUntil(connection, index, buffer, "\r\n"))
            return;
        const std::size_t end = buffer.find("\r\n");
        const std::string line = buffer.substr(0, end);
        buffer.erase(0, end + 2);
        const std::string cmd = commandOf(line);

        SmtpReplyStep step = "500 unknown command\r\n";
        if (inAuth || cmd == "AUTH") {
            step = m_script.auth.empty() ? SmtpReplyStep("235 Authentication succeeded\r\n")
                                         : m_script.auth[std::min(authCount++, m_script.auth.size() - 1)];
            inAuth = !step.pieces.empty() && step.pieces[0].starts_with("334");
        } else if (cmd == "EHLO")
            step = m_script.ehlo;
        else if (cmd == "STAR")
            step = m_script.starttls;
        else if (cmd == "HELO")
            step = m_script.helo;
        else if (cmd == "MAIL")
            step = m_script.mail;
        else if (cmd == "RCPT")
            step = m_script.rcpt.empty() ? SmtpReplyStep("250 OK\r\n")
                                         : m_script.rcpt[std::min(rcptCount++, m_script.rcpt.size() - 1)];
        else if (cmd == "DATA")
            step = m_script.data;
        else if (cmd == "QUIT")
            step = m_script.quit;

        if (!reply(connection, step)) {
            if (step.kind == SmtpReplyStep::Kind::Silent)
                listenToTheEnd();
            return;
        }
        if (cmd == "STAR" && !inAuth && !step.pieces.empty() && step.pieces[0].starts_with("2")) {
            listenToTheEnd();
            return;
        }
        const bool dataAccepted = cmd == "DATA" && !step.pieces.empty() && step.pieces[0].starts_with("3");
        if (dataAccepted) {
            if (!readUntil(connection, index, buffer, "\r\n.\r\n"))
                return;
            buffer.erase(0, buffer.find("\r\n.\r\n") + 5);
            if (!reply(connection, m_script.endOfData)) {
                if (m_script.endOfData.kind == SmtpReplyStep::Kind::Silent)
                    listenToTheEnd();
                return;
            }
        }
    }
}

}  // namespace vantor::test
