// vantor-console against a running agent on 127.0.0.1, and against peers that fail it.
#include "AgentFixture.h"
#include "net/console/ConsoleCli.h"

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
    EXPECT_EQ(r.out,
              "User           Computer      # Open files\n"
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
    CliRun r = runConsole({"--discovery-port", std::to_string(discoveryPort), "--reply-port", replyPort, "--timeout", "2",
                        "discover", "127.0.0.1"});
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
    for (const std::vector<std::string>& cmd : {std::vector<std::string>{"id", "127.0.0.1"}, {"sessions", "127.0.0.1"},
                                               {"report", "127.0.0.1", "-o", "-"}, {"close-all", "127.0.0.1"}}) {
        std::vector<std::string> args{"--command-port", port, "--timeout", "1"};
        args.insert(args.end(), cmd.begin(), cmd.end());
        const CliRun r = runConsole(args);
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.err, "vantor-console: cannot connect to 127.0.0.1 port " + port + ": Connection refused\n");
    }

    // A peer that accepts and says nothing.
    NetSocket mute;
    ASSERT_TRUE(mute.Listen(0, "127.0.0.1"));
    const CliRun r = runConsole({"--command-port", std::to_string(mute.LocalPort()), "--timeout", "1", "id", "127.0.0.1"});
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
        c.SendAll("\x04" "100\0", 5);
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

TEST(ConsoleCli, UsageErrorsExitWithTwo)
{
    EXPECT_EQ(runConsole({"--help"}).code, 0);
    EXPECT_NE(runConsole({"--help"}).out.find("close HOST USER COMPUTER"), std::string::npos);
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{}, {"fly", "127.0.0.1"}, {"id"}, {"id", "a", "b"}, {"close", "h", "alice"},
          {"--timeout", "0", "id", "h"}, {"--command-port", "70000", "id", "h"}, {"--timeout"}, {"--bogus", "id", "h"}}) {
        const CliRun r = runConsole(bad);
        EXPECT_EQ(r.code, 2);
        EXPECT_NE(r.err.find("usage: vantor-console"), std::string::npos);
    }
}
