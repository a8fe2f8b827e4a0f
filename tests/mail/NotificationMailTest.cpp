// The new-user notification from the poll, through the SMTP client, to a test server.
#include "FreePort.h"
#include "MonitorFixture.h"
#include "ScriptedSmtpServer.h"
#include "SmtpTestSupport.h"
#include "ScopedTimeZone.h"
#include "mail/SendMail.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

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
           + mailTestDate() + "\r\nFrom: admin@test.local\r\nTo: \"admin@test.local\"<admin@test.local>\r\nSubject: "
           + subject + "\r\nX-Mailer: <QK Mail>\r\n\r\n" + dataAfterHeader + "\r\n.\r\nQUIT\r\n";
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

// Holds the connections to "slow.invalid" until the test opens it (at most ten seconds): a mail
// server that keeps the sender waiting as long as the test likes, and then does not answer.
struct Gate {
    void open()
    {
        std::lock_guard lock(mutex);
        opened = true;
        changed.notify_all();
    }
    // False when it was never opened.
    bool pass()
    {
        std::unique_lock lock(mutex);
        waiting = true;
        changed.notify_all();
        const bool ok = changed.wait_for(lock, std::chrono::seconds(10), [this] { return opened; });
        timedOut = timedOut || !ok;
        passed = true;
        changed.notify_all();
        return ok;
    }
    bool waitFor(bool Gate::*flag)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), [&] { return this->*flag; });
    }
    std::mutex mutex;
    std::condition_variable changed;
    bool opened = false;
    bool waiting = false;
    bool passed = false;
    bool timedOut = false;
};

// Any other name is the test's server on 127.0.0.1.
class SlowByName final : public SmtpTransport {
public:
    explicit SlowByName(std::shared_ptr<Gate> gate)
        : m_inner(makeTcpSmtpTransport())
        , m_gate(std::move(gate))
    {
    }
    bool Create() override { return m_inner->Create(); }
    bool Connect(const std::string& host, int port, std::chrono::milliseconds limit) override
    {
        if (host == "slow.invalid") {
            m_gate->pass();
            return false;
        }
        return m_inner->Connect("127.0.0.1", port, limit);
    }
    bool SendAll(std::string_view bytes, std::chrono::milliseconds limit) override
    {
        return m_inner->SendAll(bytes, limit);
    }
    int Receive(char* buffer, int length, std::chrono::milliseconds limit) override
    {
        return m_inner->Receive(buffer, length, limit);
    }
    void Close() override { m_inner->Close(); }

private:
    std::unique_ptr<SmtpTransport> m_inner;
    std::shared_ptr<Gate> m_gate;
};

// What the worker hands back, run when the test (standing for the GUI thread) takes it.
struct PostedQueue {
    void post(std::function<void()> fn)
    {
        std::lock_guard lock(mutex);
        queue.push_back(std::move(fn));
    }
    // Runs what has come back until `done` holds (bounded).
    template <typename F> bool runUntil(F done)
    {
        for (int i = 0; i < 500 && !done(); ++i) {
            std::deque<std::function<void()>> ready;
            {
                std::lock_guard lock(mutex);
                ready.swap(queue);
            }
            for (auto& fn : ready)
                fn();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return done();
    }
    std::mutex mutex;
    std::deque<std::function<void()>> queue;
};

TEST(NotificationMail, MailsOffThePollComeBackInTheOrderTheyWereRaised)
{
    ScopedTimeZone utc("UTC0");
    ScriptedSmtpServer server;
    auto gate = std::make_shared<Gate>();
    SmtpOptions options = fastSmtpOptions();
    options.makeTransport = [gate] { return std::make_unique<SlowByName>(gate); };
    PostedQueue gui;
    AsyncMailSender sender(options, [&gui](std::function<void()> fn) { gui.post(std::move(fn)); });
    std::vector<std::pair<std::string, bool>> outcomes;
    sender.setOutcome([&outcomes](const std::string& subject, bool sent) { outcomes.emplace_back(subject, sent); });

    // The slow one first: nothing waits for it, and the quick one's outcome still comes second.
    const MailRelay slow{"slow.invalid", server.port()};
    sender.sendMail(slow, "a@test.local", "a@test.local", "first", "1");
    sender.sendMail(MailRelay{"127.0.0.1", server.port()}, "b@test.local", "b@test.local", "second", "2");
    sender.sendMail(slow, "c@test.local", "c@test.local", "third", "3");
    ASSERT_TRUE(gate->waitFor(&Gate::waiting));
    EXPECT_EQ(server.connectionCount(), 0u);
    gate->open();
    ASSERT_TRUE(gui.runUntil([&] { return outcomes.size() == 3; }));
    EXPECT_EQ(outcomes,
              (std::vector<std::pair<std::string, bool>>{{"first", false}, {"second", true}, {"third", false}}));
    EXPECT_EQ(server.connectionCount(), 1u);
    std::lock_guard lock(gate->mutex);
    EXPECT_FALSE(gate->timedOut);
}

TEST(NotificationMail, ASenderGoingAwayDoesNotWaitForAMailServer)
{
    auto gate = std::make_shared<Gate>();
    SmtpOptions options = fastSmtpOptions();
    options.makeTransport = [gate] { return std::make_unique<SlowByName>(gate); };
    {
        AsyncMailSender sender(options);
        const MailRelay slow{"slow.invalid", freeTcpPort()};
        sender.sendMail(slow, "a@test.local", "a@test.local", "left behind", "1");
        sender.sendMail(slow, "a@test.local", "a@test.local", "dropped", "2");
        ASSERT_TRUE(gate->waitFor(&Gate::waiting));
    }
    // Gone while its mail still waited: the mail ends by itself once the server lets it.
    gate->open();
    ASSERT_TRUE(gate->waitFor(&Gate::passed));
    std::lock_guard lock(gate->mutex);
    EXPECT_FALSE(gate->timedOut);
}

}  // namespace
