#include "mail/SendMail.h"

#include "platform/SecretFile.h"

namespace vantor {

bool relaySmtpOptions(const MailRelay& relay, const SmtpOptions& base, SmtpOptions& out, std::string& reason)
{
    out = base;
    out.security = relay.security;
    out.user = relay.user;
    out.certFingerprint = relay.certFingerprint;
    out.password.clear();
    if (relay.user.empty())
        return true;
    if (relay.passwordFile.empty()) {
        reason = "No password file is set for the user name.";
        return false;
    }
    std::string content;
    switch (readSecretFile(relay.passwordFile, content)) {
    case SecretFileStatus::Unreadable:
        reason = "The password file cannot be read: " + relay.passwordFile;
        return false;
    case SecretFileStatus::OpenToOthers:
        reason = "Others than its owner may use the password file " + relay.passwordFile
                 + ". Make it readable only by its owner (chmod 600).";
        return false;
    case SecretFileStatus::Read:
        break;
    }
    // The first line is the password: editors end a file with a line end that is no part of it.
    out.password = content.substr(0, content.find('\n'));
    if (out.password.ends_with('\r'))
        out.password.pop_back();
    return true;
}

std::optional<std::string> SendMail(const MailRelay& relay, const std::string& to, const std::string& from,
                                    const std::string& subject, const std::string& body, const SmtpOptions& options)
{
    SmtpOptions sessionOptions;
    std::string reason;
    if (!relaySmtpOptions(relay, options, sessionOptions, reason))
        return reason;

    MailMessage message;
    message.from = from;
    message.subject = subject;
    message.body = body;
    message.AddRecipient(to, to);

    SmtpSession session(relay.server, relay.port, sessionOptions);
    std::optional<std::string> failure;
    if (!session.Connect() || !session.Send(message)) {
        failure = session.lastError.empty() || session.lastError == "OK" ? std::string("the SMTP dialogue failed")
                                                                         : session.lastError;
        if (!session.lastReason.empty())
            *failure += " " + session.lastReason;
    }
    session.Disconnect();
    return failure;
}

void SmtpMailSender::sendMail(const MailRelay& relay, const std::string& to, const std::string& from,
                              const std::string& subject, const std::string& body)
{
    auto failure = SendMail(relay, to, from, subject, body, m_options);
    if (failure && m_onFailure)
        m_onFailure(to, relay.server, *failure);
}

AsyncMailSender::AsyncMailSender(SmtpOptions options, OrderedWorker::Poster postBack)
    : m_options(std::move(options))
    , m_worker(std::move(postBack))
{
}

AsyncMailSender::~AsyncMailSender()
{
    m_worker.abandon();
}

void AsyncMailSender::sendMail(const MailRelay& relay, const std::string& to, const std::string& from,
                               const std::string& subject, const std::string& body)
{
    // The job holds its own copies: it may outlive this sender.
    auto failure = std::make_shared<std::optional<std::string>>();
    std::function<void()> then;
    if (m_outcome || m_onFailure)
        then = [failure, subject, to, server = relay.server, outcome = m_outcome, onFailure = m_onFailure] {
            if (*failure && onFailure)
                onFailure(to, server, **failure);
            if (outcome)
                outcome(subject, !failure->has_value());
        };
    m_worker.post([failure, relay, to, from, subject, body,
                   options = m_options] { *failure = SendMail(relay, to, from, subject, body, options); },
                  std::move(then));
}

void AsyncMailSender::post(std::function<void()> job, std::function<void()> then)
{
    m_worker.post(std::move(job), std::move(then));
}

}  // namespace vantor
