#pragma once
// One mail in one SMTP session (connect, send, disconnect), reporting nothing: the new-user
// notification uses it, and a failure there must not disturb the poll.

#include "monitor/SessionMonitor.h"
#include "net/SmtpSession.h"

#include <string>

namespace vantor {

void SendMail(const std::string& server, const std::string& to, const std::string& from,
              const std::string& subject, const std::string& body, int port = smtpPort,
              const SmtpOptions& options = {});

// The monitor's MailSender: every notification through SendMail.
class SmtpMailSender final : public MailSender {
public:
    explicit SmtpMailSender(int port = smtpPort, SmtpOptions options = {})
        : m_port(port), m_options(std::move(options))
    {
    }
    void sendMail(const std::string& server, const std::string& to, const std::string& from,
                  const std::string& subject, const std::string& body) override;

private:
    int m_port;
    SmtpOptions m_options;
};

}  // namespace vantor
