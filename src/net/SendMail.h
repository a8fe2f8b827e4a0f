#pragma once
// One mail in one SMTP session (connect, send, disconnect), reporting nothing: the new-user
// notification uses it, and a failure there must not disturb the poll.

#include "monitor/SessionMonitor.h"
#include "monitor/MailRelay.h"
#include "net/SmtpSession.h"

#include <functional>
#include <optional>
#include <string>

namespace vantor {

// `base` with the relay's encryption, user and password (read from its file). False, with words
// for the user in `reason`, when the password cannot be had; the password never appears there.
bool relaySmtpOptions(const MailRelay& relay, const SmtpOptions& base, SmtpOptions& out, std::string& reason);

// Returns the failure's text (for a log; the monitor shows nothing), nothing when the mail went.
std::optional<std::string> SendMail(const MailRelay& relay, const std::string& to, const std::string& from, const std::string& subject,
              const std::string& body, const SmtpOptions& options = {});

// The monitor's MailSender: every notification through SendMail.
class SmtpMailSender final : public MailSender {
public:
    explicit SmtpMailSender(SmtpOptions options = {}) : m_options(std::move(options)) {}
    void sendMail(const MailRelay& relay, const std::string& to, const std::string& from,
                  const std::string& subject, const std::string& body) override;

    // Told of every mail that did not go (the service logs it); empty: failures stay silent.
    using FailureHandler = std::function<void(const std::string& to, const std::string& server,
                                              const std::string& error)>;
    void setFailureHandler(FailureHandler handler) { m_onFailure = std::move(handler); }

private:
    FailureHandler m_onFailure;
    SmtpOptions m_options;
};

}  // namespace vantor
