// The extended dialogue against a scripted server: the logon in either form, the password file, the
// refusals with their reasons, and a server that stops in the middle of the TLS handshake.
#include "ScriptedSmtpServer.h"
#include "SmtpTestSupport.h"
#include "TempDir.h"
#include "ScopedTimeZone.h"
#include "mail/SendMail.h"
#include "mail/SmtpTls.h"
#include "mail/TestMail.h"

#include <gtest/gtest.h>

using namespace vantor;
using namespace vantor::test;
using namespace std::chrono;

namespace {

struct RecordingBoxes final : MessageBoxes {
    BoxAnswer show(const BoxRequest& request) override
    {
        shown.push_back(request);
        return BoxAnswer::Ok;
    }
    std::vector<BoxRequest> shown;
};

class SmtpLogonTest : public ::testing::Test {
protected:
    ScopedTimeZone utc{"UTC0"};
    TempDir dir;

    // A password file that only its owner may read, holding `content`.
    std::string passwordFile(const std::string& content,
                             std::filesystem::perms perms = std::filesystem::perms::owner_read
                                                            | std::filesystem::perms::owner_write)
    {
        dir.write("password", content);
        std::filesystem::permissions(dir / "password", perms);
        return (dir / "password").string();
    }

    MailRelay relayFor(const ScriptedSmtpServer& server, SmtpSecurity security, const std::string& user = "mailer")
    {
        MailRelay relay = loopbackRelay(server.port(), security);
        relay.user = user;
        if (!user.empty())
            relay.passwordFile = passwordFile("s3cret\r\nnot the password\n");
        return relay;
    }

    // The test mail through `relay`; its one box. Unless `realTls`, "TLS" is a layer that lets the
    // bytes through as they are, so that the scripted server reads the logon.
    BoxRequest testMail(const MailRelay& relay, bool realTls = false)
    {
        RecordingBoxes boxes;
        SmtpOptions options = fastSmtpOptions();
        if (!realTls)
            options.tlsLayer = [](std::unique_ptr<SmtpTransport> plain, const TlsPeerCheck&, milliseconds) {
                return TlsStart{std::move(plain), TlsFailure::None};
            };
        SendTestMail(relay, "me@test.local", boxes, nullptr, options);
        EXPECT_EQ(boxes.shown.size(), 1u);
        return boxes.shown.empty() ? BoxRequest{} : boxes.shown[0];
    }

    static std::string wire(ScriptedSmtpServer& server)
    {
        EXPECT_TRUE(server.waitForClosedConnections(1));
        const auto all = server.received();
        return all.empty() ? std::string() : all[0];
    }

    static std::string mailTransaction()
    {
        return "MAIL From: <me@test.local>\r\nRCPT TO: <me@test.local>\r\nDATA\r\nDate: " + mailTestDate()
               + "\r\nFrom: me@test.local\r\nTo: \"me@test.local\"<me@test.local>\r\nSubject: Vantor. Test mail.\r\n"
                 "X-Mailer: <QK Mail>\r\n\r\nHello from Vantor!\r\n\r\n.\r\nQUIT\r\n";
    }
};

TEST_F(SmtpLogonTest, LogsOnWithPlainOrLoginAsOfferedThenSendsTheSameMail)
{
    {
        ScriptedSmtpServer server;
        EXPECT_EQ(testMail(relayFor(server, SmtpSecurity::Tls)).text, "The mail has been sent!");
        // Base64 of NUL "mailer" NUL "s3cret": the first line of the file, without its CR LF.
        EXPECT_EQ(wire(server), "EHLO testhost\r\nAUTH PLAIN AG1haWxlcgBzM2NyZXQ=\r\n" + mailTransaction());
    }
    {
        ScriptedSmtpServer server({.ehlo = "250-test.local\r\n250 AUTH LOGIN\r\n",
                                   .auth = {"334 VXNlcm5hbWU6\r\n", "334 UGFzc3dvcmQ6\r\n", "235 ok\r\n"}});
        EXPECT_EQ(testMail(relayFor(server, SmtpSecurity::Tls)).text, "The mail has been sent!");
        EXPECT_EQ(wire(server), "EHLO testhost\r\nAUTH LOGIN\r\nbWFpbGVy\r\nczNjcmV0\r\n" + mailTransaction());
    }
}

TEST_F(SmtpLogonTest, RefusalsKeepTheBoxTextAndTellWhy)
{
    struct Case {
        const char* name;
        SmtpScript script;
        SmtpSecurity security;
        const char* reason;
        const char* wire;  // all the server heard: nothing of the mail, no password where none belongs
    };
    const Case cases[] = {
        {"wrong password",
         {.auth = {"535 5.7.8 Authentication credentials invalid\r\n"}},
         SmtpSecurity::Tls,
         smtpReason::badLogon,
         nullptr},
        {"no STARTTLS",
         {.ehlo = "250-test.local\r\n250 AUTH PLAIN\r\n"},
         SmtpSecurity::StartTls,
         smtpReason::noStartTls,
         "EHLO testhost\r\n"},
        {"no logon",
         {.ehlo = "250-test.local\r\n250 SIZE 1000\r\n"},
         SmtpSecurity::Tls,
         smtpReason::noAuth,
         "EHLO testhost\r\n"},
        {"LOGIN refused at the user",
         {.ehlo = "250-test.local\r\n250 AUTH LOGIN\r\n", .auth = {"334 VXNlcm5hbWU6\r\n", "535 no\r\n"}},
         SmtpSecurity::Tls,
         smtpReason::badLogon,
         nullptr},
        // The password never crosses the network in clear, whatever the server offers.
        {"a logon without TLS", {}, SmtpSecurity::None, smtpReason::clearLogon, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedSmtpServer server(c.script);
        const BoxRequest box = testMail(relayFor(server, c.security));
        EXPECT_EQ(box.caption, "Error");
        EXPECT_EQ(box.text, std::string("Can't connect to the SMTP server!\n") + c.reason);
        const std::string heard = c.security == SmtpSecurity::None ? std::string() : wire(server);
        if (c.security == SmtpSecurity::None) {
            EXPECT_EQ(server.connectionCount(), 0u);
        }
        if (c.wire) {
            EXPECT_EQ(heard, c.wire);
        }
        EXPECT_EQ(heard.find("MAIL"), std::string::npos);
    }
}

TEST_F(SmtpLogonTest, ThePasswordFileMustBeItsOwnersAlone)
{
    SmtpOptions options;
    std::string reason;
    MailRelay relay = loopbackRelay(25);
    relay.user = "mailer";
    EXPECT_FALSE(relaySmtpOptions(relay, {}, options, reason));
    EXPECT_EQ(reason, "No password file is set for the user name.");

    relay.passwordFile = (dir / "missing").string();
    EXPECT_FALSE(relaySmtpOptions(relay, {}, options, reason));
    EXPECT_EQ(reason, "The password file cannot be read: " + relay.passwordFile);

    relay.passwordFile = passwordFile("pw\n");
    ASSERT_TRUE(relaySmtpOptions(relay, {}, options, reason));
    EXPECT_EQ(options.password, "pw");
    EXPECT_EQ(options.user, "mailer");

#ifndef _WIN32
    using std::filesystem::perms;
    for (perms open : {perms::group_read, perms::others_read, perms::group_write}) {
        relay.passwordFile = passwordFile("pw\n", perms::owner_read | perms::owner_write | open);
        options.password = "left over";
        EXPECT_FALSE(relaySmtpOptions(relay, {}, options, reason));
        EXPECT_EQ(reason, "Others than its owner may use the password file " + relay.passwordFile
                              + ". Make it readable only by its owner (chmod 600).");
        EXPECT_TRUE(options.password.empty());
    }
    // Refused before any connection is made.
    ScriptedSmtpServer server;
    relay.port = server.port();
    const BoxRequest box = testMail(relay);
    EXPECT_EQ(box.text, "Can't connect to the SMTP server!\n" + reason);
    EXPECT_EQ(server.connectionCount(), 0u);
#endif
}

TEST_F(SmtpLogonTest, AServerThatStopsInTheHandshakeIsLeftWithinTheWaitLimit)
{
    if (!tlsAvailable())
        GTEST_SKIP() << "this build has no TLS";
    struct Case {
        SmtpSecurity security;
        SmtpScript script;
        std::string before;  // what the server hears before the client hello
    };
    const Case cases[] = {
        {SmtpSecurity::StartTls, {}, "EHLO testhost\r\nSTARTTLS\r\n"},
        {SmtpSecurity::Tls, {.greeting = SmtpReplyStep::silent()}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(smtpSecurityName(c.security));
        ScriptedSmtpServer server(c.script);
        const auto start = steady_clock::now();
        const BoxRequest box = testMail(relayFor(server, c.security), true);
        EXPECT_LT(duration<double>(steady_clock::now() - start).count(), 10.0);  // the limit is 1 s
        EXPECT_EQ(box.text, std::string("Can't connect to the SMTP server!\n") + smtpReason::noAnswer);
        const std::string heard = wire(server);
        ASSERT_GT(heard.size(), c.before.size() + 2);
        EXPECT_EQ(heard.substr(0, c.before.size()), c.before);
        // A TLS handshake record: the client hello went out, and nothing in plain text after it.
        EXPECT_EQ(heard.substr(c.before.size(), 2), std::string("\x16\x03"));
        EXPECT_EQ(heard.find("AUTH"), std::string::npos);
    }
}

}  // namespace
