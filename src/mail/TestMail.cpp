#include "mail/TestMail.h"

#include "mail/SendMail.h"

namespace vantor {

BoxRequest testMailBox(TestMailOutcome outcome, void* owner, const std::string& reason)
{
    BoxRequest box{"Vantor", "The mail has been sent!", BoxIcon::Information, BoxButtons::Ok, owner};
    switch (outcome) {
    case TestMailOutcome::CannotConnect:
        box = {"Error", "Can't connect to the SMTP server!", BoxIcon::Error, BoxButtons::Ok, owner};
        break;
    case TestMailOutcome::CannotSend:
        box = {"Error", "Can't send the e-mail!", BoxIcon::Error, BoxButtons::Ok, owner};
        break;
    case TestMailOutcome::Sent:
        break;
    }
    if (!reason.empty())
        box.text += "\n" + reason;
    return box;
}

TestMailOutcome SendTestMail(const MailRelay& relay, const std::string& address, MessageBoxes& boxes, void* owner,
                             const SmtpOptions& options)
{
    return SendTestMail(
        relay, address,
        [&boxes, owner](TestMailOutcome outcome, const std::string& reason) {
            boxes.show(testMailBox(outcome, owner, reason));
        },
        options);
}

TestMailOutcome SendTestMail(const MailRelay& relay, const std::string& address, const TestMailTold& tell,
                             const SmtpOptions& options)
{
    SmtpOptions sessionOptions;
    std::string reason;
    if (!relaySmtpOptions(relay, options, sessionOptions, reason)) {
        tell(TestMailOutcome::CannotConnect, reason);
        return TestMailOutcome::CannotConnect;
    }

    MailMessage message;
    message.from = address;
    message.AddRecipient(address, address);
    message.subject = testMailSubject;
    message.body = testMailBody;

    SmtpSession session(relay.server, relay.port, sessionOptions);
    TestMailOutcome outcome;
    if (!session.Connect()) {
        session.Disconnect();
        outcome = TestMailOutcome::CannotConnect;
        tell(outcome, session.lastReason);
    } else if (!session.Send(message)) {
        outcome = TestMailOutcome::CannotSend;
        tell(outcome, session.lastReason);
        session.Disconnect();
    } else {
        session.Disconnect();
        outcome = TestMailOutcome::Sent;
        tell(outcome, {});
    }
    return outcome;
}

}  // namespace vantor
