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

}  // namespace vantor
