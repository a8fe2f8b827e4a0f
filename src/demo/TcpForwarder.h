#pragma once
// A TCP forwarder on loopback that connects onwards from another loopback address: a client that
// connects to it reaches the target as if from `sourceAddress` (127.0.0.2), so that one computer
// can play two client machines against a private Samba server.

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace vantor::samba {

class TcpForwarder {
public:
    TcpForwarder(std::string sourceAddress, uint16_t targetPort, std::string targetAddress = "127.0.0.1");
    ~TcpForwarder();
    TcpForwarder(const TcpForwarder&) = delete;
    TcpForwarder& operator=(const TcpForwarder&) = delete;

    // Listens on 127.0.0.1 on a free port.
    bool start(std::string& error);
    uint16_t port() const { return m_port; }
    // Closes every connection; returns within about a tenth of a second.
    void stop();

private:
    void run();

    std::string m_source;
    std::string m_targetAddress;
    uint16_t m_targetPort;
    uint16_t m_port = 0;
    int m_listen = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace vantor::samba
