#pragma once
// "Send test mail" on the E-mail page: a fixed short mail to the address and through the relay
// as typed on the page, and one box that tells the user how it went.

#include "monitor/MailRelay.h"
#include "mail/SmtpSession.h"
#include "platform/MessageBoxes.h"

#include <functional>
#include <string>

namespace vantor {

enum class TestMailOutcome { CannotConnect, CannotSend, Sent };

inline constexpr const char* testMailSubject = "Vantor. Test mail.";
inline constexpr const char* testMailBody = "Hello from Vantor!";

// The box that tells the outcome; `reason`, when there is one, on a second line.
BoxRequest testMailBox(TestMailOutcome outcome, void* owner, const std::string& reason = {});

// Sends the test mail and shows its box through `boxes` (owned by `owner`, the E-mail page). A
// refused mail is told before QUIT, an accepted one after it.
TestMailOutcome SendTestMail(const MailRelay& relay, const std::string& address, MessageBoxes& boxes,
                             void* owner = nullptr, const SmtpOptions& options = {});
// The same, telling the outcome and the mail server's reason at the same steps (the service's way).
using TestMailTold = std::function<void(TestMailOutcome, const std::string& reason)>;
TestMailOutcome SendTestMail(const MailRelay& relay, const std::string& address, const TestMailTold& tell,
                             const SmtpOptions& options = {});

}  // namespace vantor
