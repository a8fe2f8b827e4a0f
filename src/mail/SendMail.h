#pragma once
// One mail in one SMTP session (connect, send, disconnect), reporting nothing: the new-user
// notification uses it, and a failure there must not disturb the poll.

#include "monitor/SessionMonitor.h"
#include "monitor/MailRelay.h"
#include "mail/SmtpSession.h"
#include "platform/OrderedWorker.h"

#include <functional>
#include <optional>
#include <string>

namespace vantor {

// `base` with the relay's encryption, user and password (read from its file). False, with words
// for the user in `reason`, when the password cannot be had; the password never appears there.
bool relaySmtpOptions(const MailRelay& relay, const SmtpOptions& base, SmtpOptions& out, std::string& reason);

// Returns the failure's text (for a log; the monitor shows nothing), nothing when the mail went.
std::optional<std::string> SendMail(const MailRelay& relay, const std::string& to, const std::string& from,
                                    const std::string& subject, const std::string& body,
                                    const SmtpOptions& options = {});

// The monitor's MailSender: every notification through SendMail.
class SmtpMailSender final : public MailSender {
public:
    explicit SmtpMailSender(SmtpOptions options = {})
        : m_options(std::move(options))
    {
    }
    void sendMail(const MailRelay& relay, const std::string& to, const std::string& from, const std::string& subject,
                  const std::string& body) override;

    // Told of every mail that did not go (the service logs it); empty: failures stay silent.
    using FailureHandler =
        std::function<void(const std::string& to, const std::string& server, const std::string& error)>;
    void setFailureHandler(FailureHandler handler) { m_onFailure = std::move(handler); }

private:
    FailureHandler m_onFailure;
    SmtpOptions m_options;
};

// The new-user notifications off the caller's thread. Each mail goes to a worker of its own, in the
// order given, so that a mail server that never answers holds neither the poll nor the window;
// `sendMail` only queues it. Each outcome comes back through the poster in the same order. When
// the sender goes away (at "Exit"), the mails not started are dropped and one still under way is
// left to end by itself: it carries everything it needs, so "Exit" never waits for a mail server.
class AsyncMailSender final : public MailSender {
public:
    using Outcome = std::function<void(const std::string& subject, bool sent)>;

    explicit AsyncMailSender(SmtpOptions options = {}, OrderedWorker::Poster postBack = {});
    ~AsyncMailSender() override;

    void sendMail(const MailRelay& relay, const std::string& to, const std::string& from, const std::string& subject,
                  const std::string& body) override;
    // Runs `job` on the mail worker after the mails queued before it (the test mail goes this way),
    // and `then` through the poster afterwards.
    void post(std::function<void()> job, std::function<void()> then = {});
    void setOutcome(Outcome outcome) { m_outcome = std::move(outcome); }
    // A mail that did not go, with the reason (for a log), after the mails before it.
    void setFailureHandler(SmtpMailSender::FailureHandler handler) { m_onFailure = std::move(handler); }
    // Waits until the mails queued so far are done.
    void waitIdle() { m_worker.waitIdle(); }

private:
    SmtpOptions m_options;
    Outcome m_outcome;
    SmtpMailSender::FailureHandler m_onFailure;
    OrderedWorker m_worker;
};

}  // namespace vantor
