// "Send test mail": the three outcomes, and when QUIT goes out relative to the box.
#include "FreePort.h"
#include "ScriptedSmtpServer.h"
#include "SmtpTestSupport.h"
#include "ScopedTimeZone.h"
#include "mail/TestMail.h"

#include <gtest/gtest.h>

using namespace vantor;
using namespace vantor::test;

namespace {

// Notes, when a box is shown, whether the server has had QUIT yet.
class WatchingBoxes final : public MessageBoxes {
public:
    explicit WatchingBoxes(ScriptedSmtpServer* server)
        : m_server(server)
    {
    }
    BoxAnswer show(const BoxRequest& request) override
    {
        shown.push_back(request);
        if (m_server) {
            const auto received = m_server->received();
            quitBeforeBox = !received.empty() && received.back().find("QUIT\r\n") != std::string::npos;
        }
        return BoxAnswer::Ok;
    }
    std::vector<BoxRequest> shown;
    bool quitBeforeBox = false;

private:
    ScriptedSmtpServer* m_server;
};

int owner;

void expectBox(const WatchingBoxes& boxes, const char* caption, const char* text, BoxIcon icon)
{
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].caption, caption);
    EXPECT_EQ(boxes.shown[0].text, text);
    EXPECT_EQ(boxes.shown[0].icon, icon);
    EXPECT_EQ(boxes.shown[0].buttons, BoxButtons::Ok);
    EXPECT_EQ(boxes.shown[0].owner, &owner);
}

TEST(TestMail, AcceptedMailIsToldAfterQuit)
{
    ScopedTimeZone utc("UTC0");
    // A refused recipient and a QUIT that is not answered 221 still count as sent.
    ScriptedSmtpServer server({.rcpt = {"550 No such user\r\n"}, .quit = "500 eh?\r\n"});
    WatchingBoxes boxes(&server);
    EXPECT_EQ(SendTestMail(loopbackRelay(server.port()), "me@test.local", boxes, &owner, fastSmtpOptions()),
              TestMailOutcome::Sent);
    expectBox(boxes, "Vantor", "The mail has been sent!", BoxIcon::Information);
    EXPECT_TRUE(boxes.quitBeforeBox);
    ASSERT_TRUE(server.waitForClosedConnections(1));
    EXPECT_EQ(server.received()[0], std::string("HELO testhost\r\n"
                                                "MAIL From: <me@test.local>\r\n"
                                                "RCPT TO: <me@test.local>\r\n"
                                                "DATA\r\n"
                                                "Date: ")
                                        + mailTestDate()
                                        + "\r\nFrom: me@test.local\r\nTo: \"me@test.local\"<me@test.local>\r\n"
                                          "Subject: Vantor. Test mail.\r\nX-Mailer: <QK Mail>\r\n\r\n"
                                          "Hello from Vantor!\r\n\r\n.\r\nQUIT\r\n");
}

TEST(TestMail, RefusedMailIsToldBeforeQuit)
{
    ScriptedSmtpServer server({.mail = "550 Sender refused\r\n"});
    WatchingBoxes boxes(&server);
    EXPECT_EQ(SendTestMail(loopbackRelay(server.port()), "me@test.local", boxes, &owner, fastSmtpOptions()),
              TestMailOutcome::CannotSend);
    expectBox(boxes, "Error", "Can't send the e-mail!", BoxIcon::Error);
    EXPECT_FALSE(boxes.quitBeforeBox);
    ASSERT_TRUE(server.waitForClosedConnections(1));
    EXPECT_TRUE(server.received()[0].ends_with("MAIL From: <me@test.local>\r\nQUIT\r\n"));
}

TEST(TestMail, NoConnectionIsToldAsSuch)
{
    {
        ScriptedSmtpServer server({.greeting = "421 Busy\r\n"});
        WatchingBoxes boxes(&server);
        EXPECT_EQ(SendTestMail(loopbackRelay(server.port()), "me@test.local", boxes, &owner, fastSmtpOptions()),
                  TestMailOutcome::CannotConnect);
        expectBox(boxes, "Error", "Can't connect to the SMTP server!", BoxIcon::Error);
        ASSERT_TRUE(server.waitForClosedConnections(1));
        EXPECT_EQ(server.received()[0], "");
    }
    // A name that gives no address is not a server that does not answer.
    for (const std::string& host : {std::string(), std::string("127.0.0.1")}) {
        WatchingBoxes boxes(nullptr);
        MailRelay relay = loopbackRelay(freeTcpPort());
        relay.server = host;
        EXPECT_EQ(SendTestMail(relay, "me@test.local", boxes, &owner, fastSmtpOptions()),
                  TestMailOutcome::CannotConnect);
        const std::string text = std::string("Can't connect to the SMTP server!\n")
                                 + (host.empty() ? smtpReason::unknownServer : smtpReason::cannotConnect);
        expectBox(boxes, "Error", text.c_str(), BoxIcon::Error);
    }
}

}  // namespace
