#pragma once
// "Send test mail" on the E-mail page: a fixed short mail to the address and through the server
// as typed on the page, and one box that tells the user how it went.

#include "net/SmtpSession.h"
#include "platform/MessageBoxes.h"

#include <string>

namespace vantor {

enum class TestMailOutcome { CannotConnect, CannotSend, Sent };

inline constexpr const char* testMailSubject = "Vantor. Test mail.";
inline constexpr const char* testMailBody = "Hello from Vantor!";

// The box that tells the outcome.
BoxRequest testMailBox(TestMailOutcome outcome, void* owner);

// Sends the test mail and shows its box through `boxes` (owned by `owner`, the E-mail page). A
// refused mail is told before QUIT, an accepted one after it.
TestMailOutcome SendTestMail(const std::string& server, const std::string& address, MessageBoxes& boxes,
                             void* owner = nullptr, int port = smtpPort, const SmtpOptions& options = {});

}  // namespace vantor
