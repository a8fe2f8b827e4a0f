#include "net/SendMail.h"

namespace vantor {

std::optional<std::string> SendMail(const std::string& server, const std::string& to, const std::string& from,
                                    const std::string& subject, const std::string& body, int port,
                                    const SmtpOptions& options)
{
    MailMessage message;
    message.from = from;
    message.subject = subject;
    message.body = body;
    message.AddRecipient(to, to);

    SmtpSession session(server, port, options);
    std::optional<std::string> failure;
    if (!session.Connect() || !session.Send(message))
        failure = session.lastError.empty() || session.lastError == "OK" ? std::string("the SMTP dialogue failed") : session.lastError;
    session.Disconnect();
    return failure;
}

void SmtpMailSender::sendMail(const std::string& server, const std::string& to, const std::string& from,
                              const std::string& subject, const std::string& body)
{
    auto failure = SendMail(server, to, from, subject, body, m_port, m_options);
    if (failure && m_onFailure)
        m_onFailure(to, server, *failure);
}

AsyncMailSender::AsyncMailSender(int port, SmtpOptions options, OrderedWorker::Poster postBack)
    : m_port(port), m_options(std::move(options)), m_worker(std::move(postBack))
{
}

AsyncMailSender::~AsyncMailSender()
{
    m_worker.abandon();
}

void AsyncMailSender::sendMail(const std::string& server, const std::string& to, const std::string& from,
                               const std::string& subject, const std::string& body)
{
    // The job holds its own copies: it may outlive this sender.
    auto failure = std::make_shared<std::optional<std::string>>();
    std::function<void()> then;
    if (m_outcome || m_onFailure)
        then = [failure, subject, to, server, outcome = m_outcome, onFailure = m_onFailure] {
            if (*failure && onFailure)
                onFailure(to, server, **failure);
            if (outcome)
                outcome(subject, !failure->has_value());
        };
    m_worker.post(
        [failure, server, to, from, subject, body, port = m_port, options = m_options] {
            *failure = SendMail(server, to, from, subject, body, port, options);
        },
        std::move(then));
}

void AsyncMailSender::post(std::function<void()> job, std::function<void()> then)
{
    m_worker.post(std::move(job), std::move(then));
}

}  // namespace vantor
