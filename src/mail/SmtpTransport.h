#pragma once
// The connection an SmtpSession talks over. The program's is a TCP connection; tests may give
// their own. Every wait is bounded by the limit passed in.

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

namespace vantor {

class SmtpTransport {
public:
    virtual ~SmtpTransport() = default;

    static constexpr int receiveTimedOut = -2;

    virtual bool Create() = 0;
    virtual bool Connect(const std::string& host, int port, std::chrono::milliseconds limit) = 0;
    // After a failed Connect: whether it failed because the host's name has no address.
    virtual bool hostNotFound() const { return false; }
    // Every byte, or false (failure, or the peer took nothing for the whole limit).
    virtual bool SendAll(std::string_view bytes, std::chrono::milliseconds limit) = 0;
    // The count of bytes received (> 0); 0 when the peer has closed the connection; -1 on failure;
    // receiveTimedOut when nothing came within the limit.
    virtual int Receive(char* buffer, int length, std::chrono::milliseconds limit) = 0;
    // Closes the connection; Create may be called again.
    virtual void Close() = 0;
};

// The program's transport: TCP to the host's port.
std::unique_ptr<SmtpTransport> makeTcpSmtpTransport();

}  // namespace vantor
