// The new-user notification from the poll, through the SMTP client, to a test server.
#include "FreePort.h"
#include "MonitorFixture.h"
#include "ScriptedSmtpServer.h"
#include "SmtpTestSupport.h"
#include "TimeZone.h"
#include "net/SendMail.h"

#include <gtest/gtest.h>

using namespace vantor;
using namespace vantor::test;

namespace {

std::string notification(const std::string& subject, const std::string& dataAfterHeader)
{
    return std::string("HELO testhost\r\n"
                       "MAIL From: <admin@test.local>\r\n"
                       "RCPT TO: <admin@test.local>\r\n"
                       "DATA\r\n"
                       "Date: ")
           + mailTestDate()
           + "\r\nFrom: admin@test.local\r\nTo: \"admin@test.local\"<admin@test.local>\r\nSubject: " + subject
           + "\r\nX-Mailer: <QK Mail>\r\n\r\n" + dataAfterHeader + "\r\n.\r\nQUIT\r\n";
}

TEST(NotificationMail, OneMailPerNewSessionWithTheExactSubjectAndBody)
{
    ScopedTimeZone utc("UTC0");
    ScriptedSmtpServer server;
    SmtpMailSender sender(fastSmtpOptions());
    MonitorHarness h;
    h.monitor.setMailSender(&sender);
    h.monitor.settings.mailOnNewUser = 1;
    h.monitor.settings.mailAddress = "admin@test.local";
    h.monitor.settings.smtpServer = "127.0.0.1";
    h.monitor.settings.smtpPort = server.port();
    h.net.addSession("alice", "pc1", {"/srv/share/a.txt", "/srv/share/docs"});
    h.net.addSession("bob", "10.0.0.7");
    h.monitor.pollSessions();

    ASSERT_TRUE(server.waitForClosedConnections(2));
    const auto mails = server.received();
    ASSERT_EQ(mails.size(), 2u);
    EXPECT_EQ(mails[0], notification("Vantor: new user - alice",
                                     "New user has logon to your PC!\r\n\r\n Username: alice\r\n Computer: pc1\r\n"
                                     "\r\n Opened files:\r\n/srv/share/a.txt\r\n/srv/share/docs\r\n"));
    EXPECT_EQ(mails[1], notification("Vantor: new user - bob",
                                     "New user has logon to your PC!\r\n\r\n Username: bob\r\n Computer: 10.0.0.7\r\n"
                                     "\r\n Opened files:\r\n<No opened files>\r\n"));
    // Both are shown now: the next poll sends nothing.
    h.monitor.pollSessions();
    EXPECT_EQ(server.connectionCount(), 2u);
}

TEST(NotificationMail, AFailedMailIsSilentAndThePollGoesOn)
{
    MonitorHarness h;
    SmtpMailSender sender(fastSmtpOptions());
    h.monitor.setMailSender(&sender);
    h.monitor.settings.mailOnNewUser = 1;
    h.monitor.settings.smtpServer = "127.0.0.1";
    h.monitor.settings.smtpPort = freeTcpPort();
    h.net.addSession("alice", "pc1");
    h.net.addSession("bob", "pc2");
    h.monitor.pollSessions();
    EXPECT_TRUE(h.boxes.shown.empty());
    EXPECT_EQ(h.rowUsers(), (std::vector<std::string>{"bob", "alice"}));
}

}  // namespace
