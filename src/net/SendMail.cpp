#include "net/SendMail.h"

namespace vantor {

void SendMail(const std::string& server, const std::string& to, const std::string& from,
              const std::string& subject, const std::string& body, int port, const SmtpOptions& options)
{
    MailMessage message;
    message.from = from;
    message.subject = subject;
    message.body = body;
    message.AddRecipient(to, to);

    SmtpSession session(server, port, options);
    if (session.Connect())
        session.Send(message);
    session.Disconnect();
}

void SmtpMailSender::sendMail(const std::string& server, const std::string& to, const std::string& from,
                              const std::string& subject, const std::string& body)
{
    SendMail(server, to, from, subject, body, m_port, m_options);
}

}  // namespace vantor
