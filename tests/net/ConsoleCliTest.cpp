// vantor-console against a running agent on 127.0.0.1, and against peers that fail it.
#include "AgentFixture.h"
#include "SocketCodes.h"
#include "console/cli/ConsoleCli.h"

#include <sstream>

using namespace vantor;
using namespace vantor::test;
using namespace std::string_literals;

namespace {

struct CliRun {
    int code = -1;
    std::string out;
    std::string err;
};

CliRun runConsole(std::vector<std::string> args)
{
    std::ostringstream out, err;
    CliRun r;
    r.code = console::runConsole(args, out, err);
    r.out = out.str();
    r.err = err.str();
    return r;
}

struct ConsoleCliTest : AgentFixture {
    CliRun command(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--command-port", std::to_string(commandPort), "--timeout", "3"});
        return runConsole(args);
    }
};

}  // namespace

TEST_F(ConsoleCliTest, ReadsIdentityAndSessions)
{
    startAgent();
    host.setSessions({{"alice", "PC7", 2}, {"administrator", "192.168.1.20", 14}}, 2, 16);

    CliRun r = command({"id", "127.0.0.1"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "computer PC07, 2 sessions, 16 open files\n");

    r = command({"sessions", "localhost"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "User           Computer      # Open files\n"
                     "alice          PC7                      2\n"
                     "administrator  192.168.1.20            14\n"
                     "2 sessions\n");

    host.setSessions({}, 0, 0);
    r = command({"sessions", "127.0.0.1"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "User  Computer  # Open files\n0 sessions\n");
}

TEST_F(ConsoleCliTest, FetchesTheReportWholeWithProgress)
{
    startAgent();
    std::string content;
    while (content.size() < 1200 * 1024)
        content += "<p>" + std::to_string(content.size()) + "</p>\n";
    dir.write("report.html", content);
    host.setReportFile(dir / "report.html");

    const auto target = (dir / "fetched.html").string();
    CliRun r = command({"report", "127.0.0.1", "-o", target});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(dir.read("fetched.html") == content);
    const std::string size = std::to_string(content.size());
    EXPECT_EQ(r.out, "report size: " + size + " bytes\nsaved " + size + " bytes to " + target + "\n");
    EXPECT_NE(r.err.find("received " + size + " of " + size + " bytes (100%)"), std::string::npos);

    r = command({"report", "127.0.0.1", "-o", "-"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(r.out == content);

    // No report on the agent: an error, and no file left behind.
    host.setReportFile(dir / "missing.html");
    r = command({"report", "127.0.0.1", "-o", (dir / "none.html").string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("has no report"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "none.html"));
}

TEST_F(ConsoleCliTest, CommandsAreCarriedOutWhenTheConsoleReturns)
{
    startAgent();
    EXPECT_EQ(command({"delete-logs", "127.0.0.1"}).code, 0);
    EXPECT_EQ(command({"close", "127.0.0.1", "alice", "PC7"}).code, 0);
    EXPECT_EQ(command({"close-all", "127.0.0.1"}).code, 0);
    {
        std::lock_guard lock(host.mutex);
        EXPECT_EQ(host.deleteCount, 1);
        EXPECT_EQ(host.closed, (std::vector<std::pair<std::string, std::string>>{{"alice", "PC7"}}));
        EXPECT_EQ(host.closeAllCount, 1);
    }

    // A name the agent would ignore is refused here, and nothing is sent.
    CliRun r = command({"close", "127.0.0.1", "first last", "PC7"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("without blanks"), std::string::npos);
    EXPECT_EQ(command({"close", "127.0.0.1", "alice", std::string(256, 'c')}).code, 1);
    std::lock_guard lock(host.mutex);
    EXPECT_EQ(host.closed.size(), 1u);
}

TEST_F(ConsoleCliTest, DiscoverPrintsEveryAgentThatAnswers)
{
    startAgent();
    host.setSessions({}, 1, 3);
    const std::string replyPort = std::to_string(replyListener.LocalPort());
    replyListener.Close();  // the console listens there itself
    CliRun r = runConsole({"--discovery-port", std::to_string(discoveryPort), "--reply-port", replyPort, "--timeout",
                           "2", "discover", "127.0.0.1"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "127.0.0.1  computer PC07, 1 session, 3 open files\n");

    // Nobody answers on a port without an agent.
    r = runConsole({"--discovery-port", std::to_string(freeUdpPort()), "--reply-port", replyPort, "--timeout", "1",
                    "discover", "127.0.0.1"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "vantor-console: no agent answered within 1 s\n");
}

TEST(ConsoleCli, AHostThatDoesNotAnswerGivesAClearErrorAndExitCode)
{
    const std::string port = std::to_string(freeTcpPort());
    for (const std::vector<std::string>& cmd : {std::vector<std::string>{"id", "127.0.0.1"},
                                                {"sessions", "127.0.0.1"},
                                                {"report", "127.0.0.1", "-o", "-"},
                                                {"close-all", "127.0.0.1"}}) {
        std::vector<std::string> args{"--command-port", port, "--timeout", "1"};
        args.insert(args.end(), cmd.begin(), cmd.end());
        const CliRun r = runConsole(args);
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.err, "vantor-console: cannot connect to 127.0.0.1 port " + port + ": "
                             + socketErrorText(test::connectionRefusedCode) + "\n");
    }

    // A peer that accepts and says nothing.
    NetSocket mute;
    ASSERT_TRUE(mute.Listen(0, "127.0.0.1"));
    const CliRun r =
        runConsole({"--command-port", std::to_string(mute.LocalPort()), "--timeout", "1", "id", "127.0.0.1"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "vantor-console: 127.0.0.1 port " + std::to_string(mute.LocalPort()) + ": no answer within 1 s\n");
}

TEST(ConsoleCli, AReportShorterThanAnnouncedIsAnError)
{
    NetSocket server;
    ASSERT_TRUE(server.Listen(0, "127.0.0.1"));
    std::thread fake([&] {
        NetSocket c(server.Accept(5));
        char buffer[64];
        if (c.Receive(buffer, sizeof buffer, 5) <= 0)
            return;
        c.SendAll("\x04"
                  "100\0",
                  5);
        if (c.Receive(buffer, sizeof buffer, 5) <= 0)
            return;
        c.SendAll(std::string(60, 'x').data(), 60);
    });
    TempDir dir;
    const CliRun r = runConsole({"--command-port", std::to_string(server.LocalPort()), "--timeout", "3", "report",
                                 "127.0.0.1", "-o", (dir / "r.html").string()});
    fake.join();
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("the report has 60 bytes, but the agent announced 100"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "r.html"));
}

namespace {

// A peer on 127.0.0.1 that takes one connection, reads the request and then follows its script.
// Every script ends by itself, and sooner once the console has given up and hung up.
class ScriptedPeer {
public:
    explicit ScriptedPeer(std::function<void(NetSocket&)> script)
    {
        m_listener.Listen(0, "127.0.0.1");
        m_thread = std::thread([this, script = std::move(script)] {
            NetSocket c(m_listener.Accept(10));
            char request[1024];
            if (c.Receive(request, sizeof request, 5) > 0)
                script(c);
        });
    }
    ~ScriptedPeer() { m_thread.join(); }
    std::string port() const { return std::to_string(m_listener.LocalPort()); }

private:
    NetSocket m_listener;
    std::thread m_thread;
};

bool sendBytes(NetSocket& c, const std::string& bytes)
{
    return c.SendAll(bytes.data(), static_cast<int32_t>(bytes.size())) == static_cast<int32_t>(bytes.size());
}

// One byte every 300 ms, at most `count` of them.
void trickle(NetSocket& c, const std::string& head, int count)
{
    if (!sendBytes(c, head))
        return;
    for (int i = 0; i < count; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        if (!sendBytes(c, "7"))
            return;
    }
}

void flood(NetSocket& c, const std::string& head)
{
    if (!sendBytes(c, head))
        return;
    const std::string piece(16 * 1024, 'x');
    for (int i = 0; i < 256 && sendBytes(c, piece); ++i) { }
}

// The report exchange up to the console's "rep".
bool announce(NetSocket& c, const std::string& size)
{
    char answer[64];
    return sendBytes(c, "\x04" + size + std::string(1, '\0')) && c.Receive(answer, sizeof answer, 5) > 0;
}

}  // namespace

TEST(ConsoleCli, AHostileAgentGetsAnErrorNotAHangOrAFloodedFile)
{
    struct Case {
        const char* name;
        std::vector<std::string> command;
        std::function<void(NetSocket&)> script;
        std::string error;
    };
    const std::vector<Case> cases{
        {"identity trickled a byte at a time",
         {"id", "127.0.0.1"},
         [](NetSocket& c) { trickle(c, "\x01PC 1 ", 40); },
         "no complete answer within 2 s"},
        {"identity without its NUL",
         {"id", "127.0.0.1"},
         [](NetSocket& c) { flood(c, "\x01"); },
         "not of this protocol"},
        {"a size past 32 bits",
         {"report", "127.0.0.1", "-o", "-"},
         [](NetSocket& c) {
             sendBytes(c, "\x04"
                          "9223372036854775808"
                              + std::string(1, '\0'));
         },
         "malformed"},
        {"a report longer than announced",
         {"report", "127.0.0.1", "-o", "-"},
         [](NetSocket& c) {
             if (announce(c, "10"))
                 flood(c, "");
         },
         "sent more than the 10 bytes it announced"},
        {"a report trickled a byte at a time",
         {"report", "127.0.0.1", "-o", "-"},
         [](NetSocket& c) {
             if (announce(c, "100"))
                 trickle(c, "", 40);
         },
         "too slowly"},
        {"a sessions list trickled",
         {"sessions", "127.0.0.1"},
         [](NetSocket& c) {
             trickle(c,
                     "\x02"
                     "alice pc ",
                     40);
         },
         "too slowly"},
        {"data after a command that has no reply",
         {"close-all", "127.0.0.1"},
         [](NetSocket& c) { flood(c, ""); },
         "should not send"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        CliRun r;
        {
            ScriptedPeer peer(k.script);
            std::vector<std::string> args{"--command-port", peer.port(), "--timeout", "2"};
            args.insert(args.end(), k.command.begin(), k.command.end());
            r = runConsole(args);
        }
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.err.find(k.error), std::string::npos) << r.err;
        EXPECT_LE(r.out.size(), 200u) << "nothing beyond what was announced reaches the output";
    }
}

TEST(ConsoleCli, TextFromThePeerCannotDriveTheTerminal)
{
    EXPECT_EQ(console::printableText("plain Zo\xc3\xab \xe6\x97\xa5"), "plain Zo\xc3\xab \xe6\x97\xa5");
    EXPECT_EQ(console::printableText("\x1b[2Jx\x07\x7f\r\n"), "\\x1b[2Jx\\x07\\x7f\\x0d\\x0a");
    // C1 controls, bytes that are no UTF-8, an overlong form, a surrogate, a cut sequence.
    EXPECT_EQ(console::printableText("\xc2\x9b"
                                     "1m"),
              "\\xc2\\x9b1m");
    EXPECT_EQ(console::printableText("\x9b\xff\xc0\xaf\xed\xa0\x80\xe6\x97"),
              "\\x9b\\xff\\xc0\\xaf\\xed\\xa0\\x80\\xe6\\x97");

    CliRun id, rows;
    {
        ScriptedPeer peer([](NetSocket& c) { sendBytes(c, "\x01\x1b]0;owned\x07PC 1 2" + std::string(1, '\0')); });
        id = runConsole({"--command-port", peer.port(), "--timeout", "3", "id", "127.0.0.1"});
    }
    EXPECT_EQ(id.code, 0) << id.err;
    EXPECT_EQ(id.out, "computer \\x1b]0;owned\\x07PC, 1 session, 2 open files\n");
    {
        ScriptedPeer peer(
            [](NetSocket& c) { sendBytes(c, "\x02\x1b[31mbob\x1b[0m pc 3" + std::string(1, '\0') + "\x03"); });
        rows = runConsole({"--command-port", peer.port(), "--timeout", "3", "sessions", "127.0.0.1"});
    }
    EXPECT_EQ(rows.code, 0) << rows.err;
    EXPECT_EQ(rows.out.find('\x1b'), std::string::npos);
    EXPECT_NE(rows.out.find("\\x1b[31mbob\\x1b[0m  pc"), std::string::npos) << rows.out;
}

TEST(ConsoleCli, UsageErrorsExitWithTwo)
{
    EXPECT_EQ(runConsole({"--help"}).code, 0);
    EXPECT_NE(runConsole({"--help"}).out.find("close HOST USER COMPUTER"), std::string::npos);
    for (const std::vector<std::string>& bad : {std::vector<std::string>{},
                                                {"fly", "127.0.0.1"},
                                                {"id"},
                                                {"id", "a", "b"},
                                                {"close", "h", "alice"},
                                                {"--timeout", "0", "id", "h"},
                                                {"--command-port", "70000", "id", "h"},
                                                {"--timeout"},
                                                {"--bogus", "id", "h"}}) {
        const CliRun r = runConsole(bad);
        EXPECT_EQ(r.code, 2);
        EXPECT_NE(r.err.find("usage: vantor-console"), std::string::npos);
    }
}
