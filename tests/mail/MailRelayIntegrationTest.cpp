// Mail through a real relay: Debian's exim4-daemon-heavy on 127.0.0.1, started by the test with its
// own configuration, spool and self-signed certificate, on ports of the test's choosing. It offers
// STARTTLS on one port, TLS from the first byte on another, and the logon only once encrypted; a
// third port takes plain mail without a logon. Accepted mails stay in its spool, where the test
// reads how each came in. Needs root and exim4; skips itself otherwise.
#include "FreePort.h"
#include "MonitorFixture.h"
#include "SmtpTestSupport.h"
#include "TempDir.h"
#include "sockets/NetSocket.h"
#include "mail/SendMail.h"
#include "mail/TestMail.h"
#include "platform/Process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace vantor;
using namespace vantor::test;
using namespace std::chrono;

namespace {

constexpr const char* eximUser = "Debian-exim";
constexpr const char* relayPassword = "Secret-42";

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Sets (or with nullptr removes) an environment variable for the scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value)
        : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnv() { m_old ? setenv(m_name, m_old->c_str(), 1) : unsetenv(m_name); }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

class EximRelay {
public:
    EximRelay()
    {
        // Exim's connection processes may end just after it: as the subreaper they come to this
        // process, which reaps them, instead of lingering as zombies under an init that does not.
        prctl(PR_SET_CHILD_SUBREAPER, 1);
    }
    ~EximRelay() { stop(); }

    void stop()
    {
        const pid_t group = m_exim.pid();
        m_exim.stop();
        for (int i = 0; i < 150 && group > 0; ++i) {
            const pid_t reaped = waitpid(-group, nullptr, WNOHANG);
            if (reaped < 0)
                break;
            if (reaped == 0)
                std::this_thread::sleep_for(milliseconds(20));
        }
    }

    // Empty when it runs; otherwise why not.
    std::string start()
    {
        const passwd* pw = getpwnam(eximUser);
        if (!pw)
            return std::string("no ") + eximUser + " account";
        const uid_t uid = pw->pw_uid;
        const gid_t gid = pw->pw_gid;
        const ProcessResult cert =
            runProcess({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                        (dir / "key.pem").string(), "-out", (dir / "cert.pem").string(), "-days", "2", "-subj",
                        "/CN=localhost", "-addext", "subjectAltName=DNS:localhost"},
                       {.timeLimit = seconds(60)});
        if (!cert.succeeded())
            return "openssl req failed: " + cert.err;
        const ProcessResult print =
            runProcess({"openssl", "x509", "-in", (dir / "cert.pem").string(), "-noout", "-fingerprint", "-sha256"});
        const auto eq = print.out.find('=');
        if (!print.succeeded() || eq == std::string::npos)
            return "openssl x509 failed: " + print.err;
        fingerprint = print.out.substr(eq + 1);
        while (!fingerprint.empty() && (fingerprint.back() == '\n' || fingerprint.back() == '\r'))
            fingerprint.pop_back();
        std::filesystem::create_directories(dir / "spool");
        std::filesystem::create_directories(dir / "log");
        // Exim reads the key and writes its spool and log as its own user once a connection comes.
        for (const char* name : {"spool", "log", "key.pem"})
            if (chown((dir / name).c_str(), uid, gid) != 0)
                return std::string("chown failed for ") + name;

        std::string why;
        for (int attempt = 0; attempt < 3; ++attempt) {
            plainPort = freeTcpPort();
            submissionPort = freeTcpPort();
            tlsPort = freeTcpPort();
            writeConfig();
            why = launch();
            if (why.empty())
                return {};
            stop();
        }
        return why;
    }

    // The one spooled message (its header file and data file, joined) from or to `address`, an
    // address each test uses once; empty when there is none or more than one.
    std::string spooledWith(const std::string& address) const
    {
        std::string found;
        int count = 0;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(dir / "spool" / "input", ec)) {
            const std::string name = entry.path().string();
            if (!name.ends_with("-H"))
                continue;
            const std::string message = readFile(name) + readFile(name.substr(0, name.size() - 1) + "D");
            if (message.find("<" + address + ">") != std::string::npos) {
                found = message;
                ++count;
            }
        }
        return count == 1 ? found : std::string();
    }

    std::string log() const { return readFile(dir / "log" / "mainlog") + readFile(dir / "log" / "paniclog"); }

    TempDir dir;
    uint16_t plainPort = 0, submissionPort = 0, tlsPort = 0;
    std::string fingerprint;

private:
    void writeConfig()
    {
        const std::string d = dir.path().string();
        std::ostringstream c;
        c << "primary_hostname = relay.test\n"
          << "exim_user = " << eximUser << "\nexim_group = " << eximUser << "\n"
          << "keep_environment =\n"
          << "spool_directory = " << d << "/spool\n"
          << "log_file_path = " << d << "/log/%slog\n"
          << "pid_file_path = " << d << "/exim.pid\n"
          << "local_interfaces = 127.0.0.1\n"
          << "daemon_smtp_ports = " << plainPort << " : " << submissionPort << " : " << tlsPort << "\n"
          << "tls_on_connect_ports = " << tlsPort << "\n"
          << "tls_advertise_hosts = *\n"
          << "tls_certificate = " << d << "/cert.pem\n"
          << "tls_privatekey = " << d << "/key.pem\n"
          << "queue_only = true\n"
          << "host_lookup =\nrfc1413_hosts =\n"
          << "acl_smtp_rcpt = check_rcpt\n"
          << "begin acl\n"
          << "check_rcpt:\n"
          << "  accept authenticated = *\n"
          << "  accept condition = ${if ={$received_port}{" << plainPort << "}}\n"
          << "  deny message = log on first\n"
          << "begin authenticators\n"
          << "plain:\n  driver = plaintext\n  public_name = PLAIN\n"
          << "  server_condition = ${if and {{eq{$auth2}{mailer}}{eq{$auth3}{" << relayPassword << "}}}}\n"
          << "  server_set_id = $auth2\n  server_advertise_condition = ${if def:tls_in_cipher}\n"
          << "login:\n  driver = plaintext\n  public_name = LOGIN\n  server_prompts = Username:: : Password::\n"
          << "  server_condition = ${if and {{eq{$auth1}{mailer}}{eq{$auth2}{" << relayPassword << "}}}}\n"
          << "  server_set_id = $auth1\n  server_advertise_condition = ${if def:tls_in_cipher}\n";
        // Exim wants its configuration owned by root and written by nobody else.
        dir.write("exim.conf", c.str());
        std::filesystem::permissions(dir / "exim.conf", std::filesystem::perms(0644));
    }

    std::string launch()
    {
        std::string error;
        ChildProcess::Options o;
        o.newSession = true;  // its connection processes go with it
        o.outputFile = (dir / "exim.out").string();
        if (!m_exim.start({findProgram("exim4"), "-C", (dir / "exim.conf").string(), "-bdf"}, o, error))
            return "exim4 did not start: " + error;
        // Up when all three ports take connections; bounded, and given up when exim ends.
        for (int i = 0; i < 150; ++i) {
            if (!m_exim.running())
                return "exim4 ended: " + readFile(dir / "exim.out") + log();
            bool all = true;
            for (uint16_t port : {plainPort, submissionPort, tlsPort}) {
                NetSocket probe;
                all = all && probe.Create() && probe.Connect(port, "127.0.0.1", 1);
            }
            if (all)
                return {};
            std::this_thread::sleep_for(milliseconds(100));
        }
        return "exim4 did not listen in time: " + readFile(dir / "exim.out") + log();
    }

    ChildProcess m_exim;
};

class MailRelayTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (geteuid() != 0) {
            skipWhy = "needs root";
            return;
        }
        if (findProgram("exim4").find('/') == std::string::npos || !std::filesystem::exists(findProgram("exim4"))) {
            skipWhy = "exim4 is not installed (exim4-daemon-heavy)";
            return;
        }
        relay = new EximRelay;
        skipWhy = relay->start();
        if (!skipWhy.empty())
            ADD_FAILURE() << skipWhy;
    }
    static void TearDownTestSuite()
    {
        delete relay;
        relay = nullptr;
    }
    void SetUp() override
    {
        if (!skipWhy.empty())
            GTEST_SKIP() << skipWhy;
        passwordFile = writePassword(relayPassword);
    }

    std::string writePassword(const std::string& password, const std::string& name = "password")
    {
        dir.write(name, password + "\n");
        std::filesystem::permissions(dir / name, std::filesystem::perms(0600));
        return (dir / name).string();
    }

    MailRelay relayFor(SmtpSecurity security)
    {
        MailRelay r;
        r.server = "127.0.0.1";
        r.security = security;
        r.port = security == SmtpSecurity::None       ? relay->plainPort
                 : security == SmtpSecurity::StartTls ? relay->submissionPort
                                                      : relay->tlsPort;
        if (security != SmtpSecurity::None) {
            r.user = "mailer";
            r.passwordFile = passwordFile;
            r.certFingerprint = relay->fingerprint;
        }
        return r;
    }

    // The test mail's box text.
    static std::string testMail(const MailRelay& r, const std::string& address, SmtpOptions options = fastSmtpOptions())
    {
        struct Boxes final : MessageBoxes {
            BoxAnswer show(const BoxRequest& request) override
            {
                text += request.text;
                return BoxAnswer::Ok;
            }
            std::string text;
        } boxes;
        options.waitLimit = seconds(10);  // exim with its TLS is slower than the scripted server
        SendTestMail(r, address, boxes, nullptr, options);
        return boxes.text;
    }

    static inline EximRelay* relay = nullptr;
    static inline std::string skipWhy;
    TempDir dir;
    std::string passwordFile;
};

TEST_F(MailRelayTest, TheTestMailAndANewUserMailArriveInEveryMode)
{
    for (SmtpSecurity security : {SmtpSecurity::None, SmtpSecurity::StartTls, SmtpSecurity::Tls}) {
        const std::string mode = smtpSecurityName(security);
        SCOPED_TRACE(mode);
        auto log = std::make_shared<TransportLog>();
        const SmtpOptions options = watchedSmtpOptions(log);
        const std::string& sent = log->sent;

        const std::string testAddress = mode + "-test@relay.test";
        EXPECT_EQ(testMail(relayFor(security), testAddress, options), "The mail has been sent!") << relay->log();
        const std::string test = relay->spooledWith(testAddress);
        EXPECT_NE(test.find("Subject: Vantor. Test mail."), std::string::npos) << test;
        EXPECT_NE(test.find("Hello from Vantor!"), std::string::npos) << test;

        if (security == SmtpSecurity::None) {
            // The classic dialogue, byte for byte, and the relay took it as such.
            EXPECT_EQ(sent, "HELO testhost\r\nMAIL From: <" + testAddress + ">\r\nRCPT TO: <" + testAddress
                                + ">\r\nDATA\r\nDate: " + mailTestDate() + "\r\nFrom: " + testAddress + "\r\nTo: \""
                                + testAddress + "\"<" + testAddress
                                + ">\r\nSubject: Vantor. Test mail.\r\nX-Mailer: <QK Mail>\r\n\r\n"
                                  "Hello from Vantor!\r\n\r\n.\r\nQUIT\r\n");
            EXPECT_NE(test.find(" with smtp "), std::string::npos) << test;
        } else {
            // Encrypted and logged on: exim's own record of the message says so.
            EXPECT_NE(test.find(" with esmtpsa "), std::string::npos) << test;
            EXPECT_NE(test.find("-auth_id mailer"), std::string::npos) << test;
            EXPECT_EQ(sent.find("mailer"), std::string::npos);  // nothing readable on the wire
        }

        MonitorHarness h;
        SmtpMailSender sender(options);
        h.monitor.setMailSender(&sender);
        const MailRelay r = relayFor(security);
        h.monitor.settings.mailOnNewUser = 1;
        h.monitor.settings.mailAddress = mode + "-admin@relay.test";
        h.monitor.settings.smtpServer = r.server;
        h.monitor.settings.smtpPort = r.port;
        h.monitor.settings.smtpSecurity = r.security;
        h.monitor.settings.smtpUser = r.user;
        h.monitor.settings.smtpPasswordFile = r.passwordFile;
        h.monitor.settings.smtpCertFingerprint = r.certFingerprint;
        h.net.addSession("alice", "pc1", {"/srv/share/a.txt"});
        h.monitor.pollSessions();
        const std::string notice = relay->spooledWith(mode + "-admin@relay.test");
        EXPECT_NE(notice.find("Subject: Vantor: new user - alice"), std::string::npos) << relay->log();
        EXPECT_NE(notice.find(" Username: alice"), std::string::npos);
        EXPECT_NE(notice.find("/srv/share/a.txt"), std::string::npos);
    }
}

TEST_F(MailRelayTest, AWrongPasswordAndAnUntrustedCertificateAreRefusedWithTheirTexts)
{
    const std::string cannot = "Can't connect to the SMTP server!\n";
    const std::string untrusted = cannot + "The server's certificate is not trusted.";
    const std::string certFile = (relay->dir / "cert.pem").string();
    {
        MailRelay r = relayFor(SmtpSecurity::StartTls);
        r.passwordFile = writePassword("not-the-password", "wrong-password");
        EXPECT_EQ(testMail(r, "wrong@relay.test"), cannot + "The server refused the user name or password.");
    }
    for (SmtpSecurity security : {SmtpSecurity::StartTls, SmtpSecurity::Tls}) {
        SCOPED_TRACE(smtpSecurityName(security));
        MailRelay r = relayFor(security);
        // Self-signed, so no CA of the system's store vouches for it.
        r.certFingerprint.clear();
        {
            ScopedEnv noExtraCa("SSL_CERT_FILE", nullptr);
            EXPECT_EQ(testMail(r, "untrusted@relay.test"), untrusted);
        }
        // Another certificate's pin.
        r.certFingerprint = std::string(64, '0');
        EXPECT_EQ(testMail(r, "pinned@relay.test"), untrusted);
        r.certFingerprint.clear();
        // With the certificate as the store's one CA, the name decides: it was made for localhost.
        ScopedEnv ca("SSL_CERT_FILE", certFile.c_str());
        EXPECT_EQ(testMail(r, "by-address@relay.test"), untrusted);
        r.server = "localhost";
        const std::string address = std::string(smtpSecurityName(security)) + "-by-name@relay.test";
        EXPECT_EQ(testMail(r, address), "The mail has been sent!");
    }
    for (const char* refused :
         {"wrong@relay.test", "untrusted@relay.test", "pinned@relay.test", "by-address@relay.test"})
        EXPECT_EQ(relay->spooledWith(refused), "") << refused;
}

}  // namespace
