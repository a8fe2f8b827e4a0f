#include "net/TestMail.h"

namespace vantor {

BoxRequest testMailBox(TestMailOutcome outcome, void* owner)
{
    switch (outcome) {
    case TestMailOutcome::CannotConnect:
        return {"Error", "Can't connect to the SMTP server!", BoxIcon::Error, BoxButtons::Ok, owner};
    case TestMailOutcome::CannotSend:
        return {"Error", "Can't send the e-mail!", BoxIcon::Error, BoxButtons::Ok, owner};
    case TestMailOutcome::Sent:
        break;
    }
    return {"Vantor", "The mail has been sent!", BoxIcon::Information, BoxButtons::Ok, owner};
}

TestMailOutcome SendTestMail(const std::string& server, const std::string& address, MessageBoxes& boxes,
                             void* owner, int port, const SmtpOptions& options)
{
    MailMessage message;
    message.from = address;
    message.AddRecipient(address, address);
    message.subject = testMailSubject;
    message.body = testMailBody;

    SmtpSession session(server, port, options);
    TestMailOutcome outcome;
    if (!session.Connect()) {
        session.Disconnect();
        outcome = TestMailOutcome::CannotConnect;
        boxes.show(testMailBox(outcome, owner));
    } else if (!session.Send(message)) {
        outcome = TestMailOutcome::CannotSend;
        boxes.show(testMailBox(outcome, owner));
        session.Disconnect();
    } else {
        session.Disconnect();
        outcome = TestMailOutcome::Sent;
        boxes.show(testMailBox(outcome, owner));
    }
    return outcome;
}

}  // namespace vantor
