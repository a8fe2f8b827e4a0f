#pragma once
// What the SMTP tests share: fast, deterministic session options and the expected header.

#include "monitor/MailRelay.h"
#include "mail/SmtpSession.h"
#include "platform/Clock.h"
#include "ScopedTimeZone.h"

#include <memory>
#include <string>

namespace vantor::test {

inline constexpr int64_t mailTestTime = 1700000000;  // Tue, 14 Nov 23 22:13:20 UTC
// Under ScopedTimeZone("UTC0"): "Tue, 14 Nov 23 22:13:20 UTC".
inline std::string mailTestDate()
{
    return "Tue, 14 Nov 23 22:13:20 " + ScopedTimeZone::runtimeName();
}

inline const ManualClock& mailTestClock()
{
    static const ManualClock clock(mailTestTime);
    return clock;
}

// One-second waits, a fixed HELO name and the fixed clock (run under ScopedTimeZone("UTC0")).
inline SmtpOptions fastSmtpOptions()
{
    SmtpOptions options;
    options.waitLimit = std::chrono::seconds(1);
    options.heloName = "testhost";
    options.clock = &mailTestClock();
    return options;
}

// A relay on 127.0.0.1 at `port`, spoken to the way `security` says.
inline MailRelay loopbackRelay(int port, SmtpSecurity security = SmtpSecurity::None)
{
    MailRelay relay;
    relay.server = "127.0.0.1";
    relay.port = port;
    relay.security = security;
    return relay;
}

// What a WatchingTransport saw: the receives that ran out of time, and every byte sent.
struct TransportLog {
    int timeouts = 0;
    std::string sent;
};

// The TCP transport, telling its log what happens on it (one session at a time).
class WatchingTransport final : public SmtpTransport {
public:
    explicit WatchingTransport(std::shared_ptr<TransportLog> log)
        : m_inner(makeTcpSmtpTransport())
        , m_log(std::move(log))
    {
    }
    bool Create() override { return m_inner->Create(); }
    bool Connect(const std::string& host, int port, std::chrono::milliseconds limit) override
    {
        return m_inner->Connect(host, port, limit);
    }
    bool SendAll(std::string_view bytes, std::chrono::milliseconds limit) override
    {
        m_log->sent.append(bytes);
        return m_inner->SendAll(bytes, limit);
    }
    int Receive(char* buffer, int length, std::chrono::milliseconds limit) override
    {
        const int n = m_inner->Receive(buffer, length, limit);
        if (n == receiveTimedOut)
            ++m_log->timeouts;
        return n;
    }
    void Close() override { m_inner->Close(); }

private:
    std::unique_ptr<SmtpTransport> m_inner;
    std::shared_ptr<TransportLog> m_log;
};

// Options whose connections tell `log` what happens on them.
inline SmtpOptions watchedSmtpOptions(const std::shared_ptr<TransportLog>& log)
{
    SmtpOptions options = fastSmtpOptions();
    options.makeTransport = [log] { return std::make_unique<WatchingTransport>(log); };
    return options;
}

}  // namespace vantor::test
