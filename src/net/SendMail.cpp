#include "net/SendMail.h"

namespace vantor {

void SendMail(const std::string& server, const std::string& to, const std::string& from,
              const std::string& subject, const std::string& body, int port, const SmtpOptions& options)
{
    SendMailTold(server, to, from, subject, body, port, options);
}

bool SendMailTold(const std::string& server, const std::string& to, const std::string& from,
                  const std::string& subject, const std::string& body, int port, const SmtpOptions& options)
{
    MailMessage message;
    message.from = from;
    message.subject = subject;
    message.body = body;
    message.AddRecipient(to, to);

    SmtpSession session(server, port, options);
    bool sent = false;
    if (session.Connect())
        sent = session.Send(message);
    session.Disconnect();
    return sent;
}

void SmtpMailSender::sendMail(const std::string& server, const std::string& to, const std::string& from,
                              const std::string& subject, const std::string& body)
{
    SendMail(server, to, from, subject, body, m_port, m_options);
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
    auto sent = std::make_shared<bool>(false);
    m_worker.post(
        [sent, server, to, from, subject, body, port = m_port, options = m_options] {
            *sent = SendMailTold(server, to, from, subject, body, port, options);
        },
        m_outcome ? std::function<void()>([sent, subject, outcome = m_outcome] { outcome(subject, *sent); })
                  : std::function<void()>());
}

void AsyncMailSender::post(std::function<void()> job, std::function<void()> then)
{
    m_worker.post(std::move(job), std::move(then));
}

}  // namespace vantor
