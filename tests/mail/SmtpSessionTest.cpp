// The SMTP dialogue against a scripted server on 127.0.0.1, checked byte for byte.
#include "FreePort.h"
#include "ScriptedSmtpServer.h"
#include "SmtpTestSupport.h"
#include "ScopedTimeZone.h"
#include "mail/SendMail.h"
#include "mail/SmtpSession.h"

#include <gtest/gtest.h>

using namespace vantor;
using namespace vantor::test;
using namespace std::chrono;

namespace {

class SmtpSessionTest : public ::testing::Test {
protected:
    ScopedTimeZone utc{"UTC0"};

    static MailMessage message(const std::string& body, const std::string& subject = "Hi")
    {
        MailMessage m;
        m.from = "from@test.local";
        m.subject = subject;
        m.body = body;
        m.AddRecipient("to@test.local", "to@test.local");
        return m;
    }

    static std::string header(const std::string& to = "\"to@test.local\"<to@test.local>",
                              const std::string& subject = "Hi")
    {
        return std::string("Date: ") + mailTestDate() + "\r\nFrom: from@test.local\r\nTo: " + to
               + "\r\nSubject: " + subject + "\r\nX-Mailer: <QK Mail>\r\n\r\n";
    }

    // Everything the server received on its only connection, once the client has gone.
    static std::string dialogue(ScriptedSmtpServer& server)
    {
        EXPECT_TRUE(server.waitForClosedConnections(1));
        auto all = server.received();
        EXPECT_EQ(all.size(), 1u);
        return all.empty() ? std::string() : all[0];
    }

    static double secondsSince(steady_clock::time_point start)
    {
        return duration<double>(steady_clock::now() - start).count();
    }
};

TEST_F(SmtpSessionTest, AGoodMailTravelsByteForByte)
{
    ScriptedSmtpServer server;
    SmtpSession session("127.0.0.1", server.port(), fastSmtpOptions());
    ASSERT_TRUE(session.Connect()) << session.lastError;
    EXPECT_TRUE(session.connected());
    MailMessage m = message("Hello");
    ASSERT_TRUE(session.Send(m)) << session.lastError;
    EXPECT_TRUE(session.Disconnect());
    EXPECT_FALSE(session.connected());
    EXPECT_EQ(session.lastError, "OK");
    EXPECT_EQ(m.date, mailTestTime);
    EXPECT_EQ(m.body, "Hello\r\n");

    EXPECT_EQ(dialogue(server), "HELO testhost\r\n"
                                "MAIL From: <from@test.local>\r\n"
                                "RCPT TO: <to@test.local>\r\n"
                                "DATA\r\n"
                                    + header() + "Hello\r\n\r\n.\r\nQUIT\r\n");
}

TEST_F(SmtpSessionTest, ARefusedStepFailsWithItsReplyAndEndsTheDialogue)
{
    struct Case {
        SmtpScript script;
        bool connects;
        std::string error;
        std::string dialogue;  // what the server received, once the session has gone
    };
    const std::vector<Case> cases = {
        // No HELO after a greeting other than 220; not connected, Disconnect sends nothing and succeeds.
        {{.greeting = "554 no service here\r\n"}, false, "Server didn't respond.", ""},
        // The server sees the connection end without waiting for a time-out of its own.
        {{.helo = "501 Syntax error\r\n"}, false, "501:SMTP server error", "HELO testhost\r\n"},
        {{.helo = "hello there\r\n"}, false, "0:SMTP server error", "HELO testhost\r\n"},
        {{.data = "451 Try later\r\n"},
         true,
         "451:SMTP server not ready for data",
         "HELO testhost\r\nMAIL From: <from@test.local>\r\nRCPT TO: <to@test.local>\r\nDATA\r\nQUIT\r\n"},
        {{.endOfData = "552 Too big\r\n"}, true, "552:SMTP server error", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        ScriptedSmtpServer server(c.script);
        {
            SmtpSession session("127.0.0.1", server.port(), fastSmtpOptions());
            ASSERT_EQ(session.Connect(), c.connects);
            if (c.connects) {
                MailMessage m = message("x");
                EXPECT_FALSE(session.Send(m));
            } else {
                EXPECT_FALSE(session.connected());
                EXPECT_TRUE(session.Disconnect());
            }
            EXPECT_EQ(session.lastError, c.error);
        }  // the destructor says QUIT to a session still connected
        const std::string wire = dialogue(server);
        if (c.connects) {
            EXPECT_NE(wire.rfind("QUIT\r\n"), std::string::npos) << wire;
        }
        if (!c.dialogue.empty() || !c.connects) {
            EXPECT_EQ(wire, c.dialogue);
        }
    }
}

TEST_F(SmtpSessionTest, EveryRecipientGetsARcptAndARefusedOneDoesNotStopTheMail)
{
    ScriptedSmtpServer server({.rcpt = {"550 No such user\r\n", "250 OK\r\n"}});
    SmtpSession session("127.0.0.1", server.port(), fastSmtpOptions());
    ASSERT_TRUE(session.Connect());
    MailMessage m = message("x\r\n");
    m.recipients.clear();
    m.AddRecipient("address1", "name1");
    m.AddRecipient("address2", "name2");
    EXPECT_TRUE(session.Send(m));
    EXPECT_EQ(session.lastError, "550:SMTP server error");  // the refusal is kept, not counted
    session.Disconnect();

    EXPECT_EQ(dialogue(server), "HELO testhost\r\n"
                                "MAIL From: <from@test.local>\r\n"
                                "RCPT TO: <address1>\r\n"
                                "RCPT TO: <address2>\r\n"
                                "DATA\r\n"
                                    + header("name1<address1>,name2<address2>") + "x\r\n\r\n.\r\nQUIT\r\n");
}

TEST_F(SmtpSessionTest, LoneDotLinesAreDoubledOnTheWire)
{
    ScriptedSmtpServer server;
    SmtpSession session("127.0.0.1", server.port(), fastSmtpOptions());
    ASSERT_TRUE(session.Connect());
    MailMessage m = message(".\r\na\r\n.\r\nb\r\n.x\r\n.");
    // The test server ends the data at the first lone dot: an unstuffed body would end it early
    // and the rest would read as unknown commands.
    EXPECT_TRUE(session.Send(m)) << session.lastError;
    EXPECT_EQ(session.StuffBody(m), "..\r\na\r\n..\r\nb\r\n.x\r\n..\r\n");
    EXPECT_EQ(m.body, ".\r\na\r\n.\r\nb\r\n.x\r\n.\r\n");  // stuffing works on a copy
    session.Disconnect();
    const std::string wire = dialogue(server);
    EXPECT_NE(wire.find(header() + "..\r\na\r\n..\r\nb\r\n.x\r\n..\r\n\r\n.\r\nQUIT\r\n"), std::string::npos);
}

TEST_F(SmtpSessionTest, QuitNotAnswered221StillEndsTheSession)
{
    ScriptedSmtpServer server({.quit = "250 what?\r\n"});
    SmtpSession session("127.0.0.1", server.port(), fastSmtpOptions());
    ASSERT_TRUE(session.Connect());
    MailMessage m = message("Hello");
    EXPECT_TRUE(session.Send(m));
    EXPECT_FALSE(session.Disconnect());
    EXPECT_EQ(session.lastError, "250:SMTP server didn't terminate session");
    EXPECT_FALSE(session.connected());
    EXPECT_TRUE(server.waitForClosedConnections(1));
}

TEST_F(SmtpSessionTest, RefusalsInTheMailKeepTheSessionForQuit)
{
    ScriptedSmtpServer server({.mail = "550 Sender refused\r\n"});
    SmtpSession session("127.0.0.1", server.port(), fastSmtpOptions());
    ASSERT_TRUE(session.Connect());

    MailMessage none = message("x");
    none.recipients.clear();
    EXPECT_FALSE(session.Send(none));
    EXPECT_EQ(session.lastError, "No Recipients");

    MailMessage m = message("x");
    EXPECT_FALSE(session.Send(m));
    EXPECT_EQ(session.lastError, "550:SMTP server error");
    EXPECT_TRUE(session.connected());
    EXPECT_TRUE(session.Disconnect());
    // Nothing of the recipient-less mail went out, and nothing after the refused MAIL.
    EXPECT_EQ(dialogue(server), "HELO testhost\r\nMAIL From: <from@test.local>\r\nQUIT\r\n");
}

TEST_F(SmtpSessionTest, WithoutAConnectionNothingIsSent)
{
    ScriptedSmtpServer server;
    {
        SmtpSession session("127.0.0.1", server.port(), fastSmtpOptions());
        EXPECT_TRUE(session.Disconnect());
        MailMessage m = message("x");
        EXPECT_FALSE(session.Send(m));
        EXPECT_EQ(session.lastError, "Must be connected");
        session.lastError = "OK";
        EXPECT_FALSE(session.Transmit(m));
        EXPECT_EQ(session.lastError, "Must be connected");
    }
    EXPECT_EQ(server.connectionCount(), 0u);

    // Nothing listens on a port that was free a moment ago.
    SmtpSession session("127.0.0.1", freeTcpPort(), fastSmtpOptions());
    EXPECT_FALSE(session.Connect());
    EXPECT_EQ(session.lastError, "Unable to connect to server");
    SmtpSession unnamed("", 25, fastSmtpOptions());
    EXPECT_FALSE(unnamed.Connect());
    EXPECT_EQ(unnamed.lastError, "Unable to connect to server");
}

TEST_F(SmtpSessionTest, AServerThatClosesFailsTheStepInsteadOfRereadingTheLastReply)
{
    // The HELO reply "250 ..." still stands in the reply buffer when MAIL gets no answer at all.
    ScriptedSmtpServer server({.mail = SmtpReplyStep::close()});
    SmtpSession session("127.0.0.1", server.port(), fastSmtpOptions());
    ASSERT_TRUE(session.Connect());
    MailMessage m = message("x");
    const auto start = steady_clock::now();
    EXPECT_FALSE(session.Send(m));
    EXPECT_EQ(session.lastError, "Connection closed by server");
    EXPECT_FALSE(session.Disconnect());
    EXPECT_LT(secondsSince(start), 0.9);  // no wait ran out
}

TEST_F(SmtpSessionTest, AMultiLineReplyInPiecesIsOneReply)
{
    ScriptedSmtpServer server(
        {.greeting = SmtpReplyStep::split("220-test.local first line\r\n220-more", " text\r\n220 ready\r\n")});
    SmtpSession session("127.0.0.1", server.port(), fastSmtpOptions());
    ASSERT_TRUE(session.Connect()) << session.lastError;
    MailMessage m = message("x");
    EXPECT_TRUE(session.Send(m)) << session.lastError;
    EXPECT_TRUE(session.Disconnect()) << session.lastError;
}

TEST_F(SmtpSessionTest, EveryWaitIsBounded)
{
    {
        ScriptedSmtpServer server({.greeting = SmtpReplyStep::silent()});
        SmtpSession session("127.0.0.1", server.port(), fastSmtpOptions());
        const auto start = steady_clock::now();
        EXPECT_FALSE(session.Connect());
        EXPECT_EQ(session.lastError, "Server didn't respond.");
        EXPECT_GE(secondsSince(start), 0.9);
        EXPECT_LT(secondsSince(start), 5.0);
        EXPECT_TRUE(server.waitForClosedConnections(1));
    }
    {
        // A server that goes quiet after the data: one wait runs out, and QUIT is not waited for
        // again on a dialogue that is out of step.
        ScriptedSmtpServer server({.endOfData = SmtpReplyStep::silent()});
        auto log = std::make_shared<TransportLog>();
        const auto start = steady_clock::now();
        SendMail(loopbackRelay(server.port()), "to@test.local", "from@test.local", "s", "b", watchedSmtpOptions(log));
        EXPECT_EQ(log->timeouts, 1);
        EXPECT_LT(secondsSince(start), 5.0);
        EXPECT_TRUE(server.waitForClosedConnections(1));
        EXPECT_EQ(server.received()[0].find("QUIT"), std::string::npos);
    }
}

TEST_F(SmtpSessionTest, AMailWithTextOutsideAsciiSaysSo)
{
    ScriptedSmtpServer server;
    SmtpSession session("127.0.0.1", server.port(), fastSmtpOptions());
    ASSERT_TRUE(session.Connect());
    MailMessage foreign = message(" Username: J\xc3\xa9r\xc3\xb4me\r\n", "Vantor: new user - J\xc3\xa9r\xc3\xb4me");
    MailMessage plain = message("plain\r\n");
    EXPECT_TRUE(session.Send(foreign));
    EXPECT_TRUE(session.Send(plain));
    session.Disconnect();
    const std::string wire = dialogue(server);
    EXPECT_NE(wire.find("\r\nSubject: =?UTF-8?B?VmFudG9yOiBuZXcgdXNlciAtIErDqXLDtG1l?=\r\nX-Mailer: <QK Mail>\r\n"
                        "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n"
                        "Content-Transfer-Encoding: 8bit\r\n\r\n Username: J\xc3\xa9r\xc3\xb4me\r\n"),
              std::string::npos)
        << wire;
    // A mail of ASCII alone keeps the classic header.
    EXPECT_NE(wire.find(header() + "plain\r\n"), std::string::npos) << wire;
}

TEST_F(SmtpSessionTest, NamesFromTheNetworkCannotAddHeaderLinesOrCommands)
{
    ScriptedSmtpServer server;
    SmtpSession session("127.0.0.1", server.port(), fastSmtpOptions());
    ASSERT_TRUE(session.Connect());
    MailMessage m = message("x", "Vantor: new user - eve\r\nBcc: victim@example.com");
    m.from = "from@test.local>\r\nRCPT TO: <victim@example.com";
    EXPECT_TRUE(session.Send(m));
    session.Disconnect();
    const std::string wire = dialogue(server);
    EXPECT_EQ(wire.find("\r\nBcc:"), std::string::npos);
    EXPECT_EQ(wire.find("\r\nRCPT TO: <victim"), std::string::npos);
    EXPECT_NE(wire.find("\r\nSubject: Vantor: new user - eve??Bcc: victim@example.com\r\n"), std::string::npos);
    EXPECT_NE(wire.find("MAIL From: <from@test.local>??RCPT TO: <victim@example.com>\r\n"), std::string::npos);
}

}  // namespace
