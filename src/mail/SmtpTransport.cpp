#include "mail/SmtpTransport.h"

#include "sockets/NetSocket.h"
#include "sockets/SocketPlatform.h"

#include <algorithm>
#include <climits>

namespace vantor {

namespace {

// NetSocket counts whole seconds; a part of a second left still deserves a wait.
uint32_t wholeSeconds(std::chrono::milliseconds limit)
{
    if (limit.count() <= 0)
        return 0;
    return static_cast<uint32_t>((limit.count() + 999) / 1000);
}

class TcpSmtpTransport final : public SmtpTransport {
public:
    bool Create() override { return m_socket.Create(); }

    bool Connect(const std::string& host, int port, std::chrono::milliseconds limit) override
    {
        m_hostNotFound = false;
        if (port < 0 || port > 0xFFFF)
            return false;
        if (!m_socket.Connect(static_cast<uint16_t>(port), host, wholeSeconds(limit))) {
            // The socket was created: the one failure before the connection itself is the name's.
            m_hostNotFound = m_socket.lastError() == sockets::invalidArgumentError();
            return false;
        }
        // A server that stops reading fails the send after the limit instead of holding us.
        return m_socket.SetSendTimeout(std::max<uint32_t>(1, wholeSeconds(limit)));
    }

    bool hostNotFound() const override { return m_hostNotFound; }

    bool SendAll(std::string_view bytes, std::chrono::milliseconds) override
    {
        if (bytes.size() > static_cast<std::size_t>(INT32_MAX))
            return false;
        const auto length = static_cast<int32_t>(bytes.size());
        return m_socket.SendAll(bytes.data(), length) == length;
    }

    int Receive(char* buffer, int length, std::chrono::milliseconds limit) override
    {
        const int32_t n = m_socket.Receive(buffer, length, wholeSeconds(limit));
        if (n > 0)
            return n;
        switch (m_socket.lastReceive()) {
        case NetSocket::ReceiveStatus::TimedOut:
            return receiveTimedOut;
        case NetSocket::ReceiveStatus::Closed:
            return 0;
        case NetSocket::ReceiveStatus::Data:
        case NetSocket::ReceiveStatus::Failed:
            break;
        }
        return -1;
    }

    void Close() override { m_socket.Close(); }

private:
    NetSocket m_socket;
    bool m_hostNotFound = false;
};

}  // namespace

std::unique_ptr<SmtpTransport> makeTcpSmtpTransport()
{
    return std::make_unique<TcpSmtpTransport>();
}

}  // namespace vantor
