#include "MonitorFixture.h"

#include <gtest/gtest.h>

using namespace vantor;
using namespace vantor::test;

namespace {

TEST(NewUserEvent, FirstPollMakesEveryoneNewButShowsNothingWithTheDefaults)
{
    MonitorHarness h;
    h.net.addSession("alice", "pc1");
    h.monitor.pollSessions();
    EXPECT_EQ(h.view.flashes, 0);
    EXPECT_TRUE(h.mail.mails.empty());
}

TEST(NewUserEvent, MailsOnePerNewSessionInEnumerationOrder)
{
    MonitorHarness h;
    h.monitor.settings.mailOnNewUser = 1;
    h.monitor.settings.mailAddress = "root@localhost";
    h.monitor.settings.smtpServer = "smtp.local";
    h.monitor.settings.smtpPort = 587;
    h.monitor.settings.smtpSecurity = SmtpSecurity::StartTls;
    h.monitor.settings.smtpUser = "mailer";
    h.monitor.settings.smtpPasswordFile = "/etc/vantor/smtp-password";
    h.monitor.settings.smtpCertFingerprint = "ab:cd";
    h.net.addSession("alice", "pc1", {"/a", "/b"});
    h.net.addSession("bob", "pc2");
    h.net.addSession("bob", "pc2");  // the same new pair twice: two events
    h.monitor.pollSessions();

    ASSERT_EQ(h.mail.mails.size(), 3u);
    const auto& first = h.mail.mails[0];
    EXPECT_EQ(first.server, "smtp.local");
    // The mail goes the way the settings say, all of it.
    EXPECT_EQ(first.relay.port, 587);
    EXPECT_EQ(first.relay.security, SmtpSecurity::StartTls);
    EXPECT_EQ(first.relay.user, "mailer");
    EXPECT_EQ(first.relay.passwordFile, "/etc/vantor/smtp-password");
    EXPECT_EQ(first.relay.certFingerprint, "ab:cd");
    EXPECT_EQ(first.to, "root@localhost");
    EXPECT_EQ(first.from, "root@localhost");
    EXPECT_EQ(first.subject, "Vantor: new user - alice");
    EXPECT_EQ(first.body, "New user has logon to your PC!\r\n\r\n Username: alice\r\n Computer: pc1\r\n\r\n"
                          " Opened files:\r\n/a\r\n/b\r\n");
    EXPECT_EQ(h.mail.mails[1].body, "New user has logon to your PC!\r\n\r\n Username: bob\r\n Computer: pc2\r\n\r\n"
                                    " Opened files:\r\n<No opened files>");

    // Shown now: the next poll raises nothing; a second session of a shown pair is not new.
    h.net.addSession("alice", "pc1");
    h.monitor.pollSessions();
    EXPECT_EQ(h.mail.mails.size(), 3u);
}

TEST(NewUserEvent, FlashOnlyWhileHiddenAndAgainAfterAGap)
{
    MonitorHarness h;
    h.net.addSession("alice", "pc1");
    h.monitor.desk()->mainVisible = false;
    h.monitor.pollSessions();
    EXPECT_EQ(h.view.flashes, 1);

    auto sessions = h.net.sessions();
    h.net.setSessions({});
    h.monitor.pollSessions();
    h.net.setSessions(sessions);
    h.monitor.pollSessions();  // missing from one poll: new again
    EXPECT_EQ(h.view.flashes, 2);

    h.monitor.desk()->mainVisible = true;
    h.net.addSession("bob", "pc2");
    h.monitor.pollSessions();
    EXPECT_EQ(h.view.flashes, 2);
}

TEST(NewUserEvent, ComparesWithTheRowsOfTheLastSuccessfulPoll)
{
    MonitorHarness h;
    h.monitor.settings.mailOnNewUser = 1;
    h.net.addSession("alice", "pc1");
    h.monitor.pollSessions();
    h.net.failNext(FakeNetManagement::Op::EnumSessions, {53, "The network path was not found."});
    h.monitor.pollSessions();
    h.monitor.pollSessions();
    EXPECT_EQ(h.mail.mails.size(), 1u);  // alice was still shown after the failed poll
}

TEST(NewUserEvent, HiddenSessionsNeverRaiseAndBecomeNewWhenShown)
{
    MonitorHarness h;
    h.monitor.settings.mailOnNewUser = 1;
    h.monitor.settings.hideLocalUsers = 1;
    h.monitor.settings.hideSystemRequests = 1;
    h.net.addSession("alice", "127.0.0.1");
    h.net.addSession("", "pc2");
    h.net.addSession("erin", "::1");
    h.monitor.pollSessions();
    EXPECT_TRUE(h.mail.mails.empty());
    h.monitor.settings.hideLocalUsers = 0;
    h.monitor.settings.hideSystemRequests = 0;
    h.monitor.pollSessions();
    EXPECT_EQ(h.mail.mails.size(), 3u);
}

TEST(NewUserEvent, NameComparisonIsCaseSensitive)
{
    MonitorHarness h;
    h.monitor.settings.mailOnNewUser = 1;
    h.net.addSession("alice", "pc1");
    h.monitor.pollSessions();
    h.net.setSessions({{"Alice", "pc1", {}, std::nullopt}});
    h.monitor.pollSessions();
    EXPECT_EQ(h.mail.mails.size(), 2u);
}

}  // namespace

namespace {

TEST(NewUserEvent, TheMailListsTheFilesOfTheSessionOnItsOwnServer)
{
    MonitorHarness h;
    h.monitor.settings.mailOnNewUser = 1;
    h.net.addSession("alice", "pc1", {"/local/mine"});  // another alice, on this computer
    FakeSession there{"alice", "10.0.0.7", {{7, "/far/a", "10.0.0.7"}}, std::nullopt};
    FakeSession otherDesk{"alice", "10.0.0.9", {{8, "/far/elsewhere", "10.0.0.9"}}, std::nullopt};
    h.net.setServerSessions("far", {there, otherDesk});
    ASSERT_TRUE(h.monitor.setRemoteServer("far"));
    ASSERT_EQ(h.mail.mails.size(), 2u);
    EXPECT_TRUE(h.mail.mails[0].body.ends_with(" Opened files:\r\n/far/a\r\n")) << h.mail.mails[0].body;
    EXPECT_TRUE(h.mail.mails[1].body.ends_with(" Opened files:\r\n/far/elsewhere\r\n")) << h.mail.mails[1].body;
}

TEST(NewUserEvent, OpenFilesAreFetchedOnlyForTheMail)
{
    MonitorHarness h;
    h.net.addSession("alice", "pc1", {"/a"});
    h.net.addSession("bob", "pc2");
    h.monitor.pollSessions();
    EXPECT_EQ(h.net.callCount(FakeNetManagement::Op::EnumFiles), 0);

    h.monitor.settings.mailOnNewUser = 1;
    h.net.addSession("carol", "pc3");
    h.monitor.pollSessions();
    EXPECT_EQ(h.net.callCount(FakeNetManagement::Op::EnumFiles), 1);
    ASSERT_EQ(h.mail.mails.size(), 1u);
    EXPECT_EQ(h.mail.mails[0].subject, "Vantor: new user - carol");
}

TEST(NewUserEvent, NamesAndPathsStayOnTheirOwnLinesOfTheBody)
{
    EXPECT_EQ(SessionMonitor::newUserBody("eve\r\n.\r\nx", "pc\n1", {"/srv/a\n.\nb", "/srv/c"}),
              "New user has logon to your PC!\r\n\r\n Username: eve??.??x\r\n Computer: pc?1\r\n\r\n"
              " Opened files:\r\n/srv/a?.?b\r\n/srv/c\r\n");
}

TEST(NewUserEvent, APairIsShownOnlyByThatUserAndComputer)
{
    MonitorHarness h;
    h.net.addSession("ab", "c");
    h.net.addSession(std::string("x\0y", 3), "z");
    h.monitor.pollSessions();
    h.monitor.settings.mailOnNewUser = 1;
    h.net.addSession("a", "bc");
    h.net.addSession("x", std::string("\0yz", 3));
    h.monitor.pollSessions();
    ASSERT_EQ(h.mail.mails.size(), 2u);
    EXPECT_EQ(h.mail.mails[0].subject, "Vantor: new user - a");
}

}  // namespace
