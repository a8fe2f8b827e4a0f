// The agent's commands and replies byte for byte, over real sockets on 127.0.0.1.
#include "AgentFixture.h"
#include "platform/SystemText.h"
#include "SocketCodes.h"
#include "console/ConsoleProtocol.h"

#include <fstream>

using namespace vantor;
using namespace vantor::test;
using namespace std::chrono;
using namespace std::string_literals;

namespace {

double secondsSince(steady_clock::time_point start)
{
    return duration<double>(steady_clock::now() - start).count();
}

}  // namespace

using ConsoleAgentTest = AgentFixture;

TEST_F(ConsoleAgentTest, IdentityReplyCarriesTheUpperCasedNameAndSignedByteCounts)
{
    startAgent();
    host.setSessions({}, 3, 5);
    const RawExchange withNul = askAgent(commandPort, "id\0"s);
    EXPECT_EQ(withNul.received, "\x01PC07 3 5\0"s);
    EXPECT_EQ(withNul.received.size(), 10u);
    EXPECT_TRUE(withNul.closedByAgent);
    EXPECT_EQ(askAgent(commandPort, "id").received, "\x01PC07 3 5\0"s);

    host.setSessions({}, 200, 300);
    host.setName("Host-\xC3\xA9.lan");  // only ASCII letters change case
    EXPECT_EQ(askAgent(commandPort, "id\0"s).received, "\x01HOST-" + toSystemText("\xC3\xA9") + ".LAN -56 44\0"s);

    host.setName("");
    host.setSessions({}, 128, 255);
    EXPECT_EQ(askAgent(commandPort, "id\0"s).received, "\x01    -128 -1\0"s);

    // No poll has published anything yet.
    host.clearSnapshot();
    host.setName("pc07");
    EXPECT_EQ(askAgent(commandPort, "id\0"s).received, "\x01PC07 0 0\0"s);
}

TEST_F(ConsoleAgentTest, SessionsAreSentRowByRowThenTheEndMarker)
{
    startAgent();
    host.setSessions({{"alice", "PC7", 2}, {"bob", "PC9", 0}}, 2, 2);
    EXPECT_EQ(askAgent(commandPort, "sess\0"s).received, "\x02"
                                                         "alice PC7 2\0"
                                                         "\x02"
                                                         "bob PC9 0\0"
                                                         "\x03"s);

    host.setSessions({}, 0, 0);
    EXPECT_EQ(askAgent(commandPort, "sess\0"s).received, "\x03"s);
    host.clearSnapshot();
    EXPECT_EQ(askAgent(commandPort, "sess").received, "\x03"s);

    // Longest names, an empty user name (a system request) and a long table come through intact.
    std::vector<SessionEntry> rows{{std::string(255, 'u'), std::string(255, 'c'), 4294967295u}, {"", "10.0.0.7", 1}};
    for (int i = 0; i < 5000; ++i)
        rows.push_back({"user" + std::to_string(i), "PC" + std::to_string(i), static_cast<uint32_t>(i)});
    host.setSessions(rows, 5002, 0);
    std::string expected;
    for (const auto& r : rows)
        expected += "\x02" + r.user + " " + r.computer + " " + std::to_string(r.openFiles) + '\0';
    expected += '\x03';
    EXPECT_EQ(askAgent(commandPort, "sess\0"s).received, expected);
}

TEST_F(ConsoleAgentTest, NamesCrossTheWireInTheSystemsText)
{
    // UTF-8 inside; on the wire the text consoles have always had from this system (on Windows the
    // ANSI code page, where ë is one byte).
    startAgent();
    const std::string zoe = "Zo\xc3\xab", pc = "pc-\xc3\xa9t\xc3\xa9";
    host.setName(pc);
    host.setSessions({{zoe, pc, 1}}, 1, 1);
    EXPECT_EQ(askAgent(commandPort, "sess\0"s).received,
              "\x02" + toSystemText(zoe) + " " + toSystemText(pc) + " 1\0\x03"s);
    EXPECT_EQ(askAgent(commandPort, "id\0"s).received, "\x01PC-" + toSystemText("\xc3\xa9T\xc3\xa9") + " 1 1\0"s);
    EXPECT_EQ(askAgent(commandPort, "\x05" + toSystemText(zoe) + " " + toSystemText(pc) + "\0"s).received, "");
    std::lock_guard lock(host.mutex);
    EXPECT_EQ(host.closed, (std::vector<std::pair<std::string, std::string>>{{zoe, pc}}));
}

TEST_F(ConsoleAgentTest, CommandWordsAreRecognisedByTheirFirstFourBytesOnly)
{
    startAgent();
    host.setSessions({{"alice", "PC7", 2}}, 1, 2);
    // "reports" is "report"; "sessions" is "sess"; "identity" is not "id" (its third byte is no NUL).
    EXPECT_EQ(askAgent(commandPort, "reports").received, "\x04"
                                                         "0\0"s);
    EXPECT_EQ(askAgent(commandPort, "sessions").received, "\x02"
                                                          "alice PC7 2\0"
                                                          "\x03"s);
    for (const std::string& ignored : {"repair"s, "list\0"s, "rep\0"s, "no_rep\0"s, "identity"s, "ses"s, "x"s,
                                       "\0sess"s, "\x03"s, "\x01PC07 1 2\0"s, std::string(1024, 'z')}) {
        const RawExchange r = askAgent(commandPort, ignored);
        EXPECT_EQ(r.received, "") << "request " << ignored;
        EXPECT_TRUE(r.closedByAgent);
    }
    std::lock_guard lock(host.mutex);
    EXPECT_EQ(host.reportsGenerated, 1);
    EXPECT_EQ(host.deleteCount, 0);
    EXPECT_TRUE(host.closed.empty());
    EXPECT_EQ(host.closeAllCount, 0);
}

TEST_F(ConsoleAgentTest, AShortRequestNeverComparesWithTheRestOfAnEarlierOne)
{
    startAgent();
    host.setSessions({}, 1, 1);
    EXPECT_EQ(askAgent(commandPort, "sess").received, "\x03"s);
    // Behind a stale buffer "se" would read as "sess", and "i" behind "id\0" as "id".
    EXPECT_EQ(askAgent(commandPort, "se").received, "");
    EXPECT_EQ(askAgent(commandPort, "id\0"s).received, "\x01PC07 1 1\0"s);
    EXPECT_EQ(askAgent(commandPort, "i").received, "");
}

TEST_F(ConsoleAgentTest, ReportExchangeSendsTheFileOnlyAfterRep)
{
    startAgent();
    // A missing report: size 0, and nothing after "rep".
    {
        NetSocket s = connectTo(commandPort);
        ASSERT_EQ(s.SendAll("report\0", 7), 7);
        char buffer[16] = {};
        ASSERT_EQ(s.Receive(buffer, sizeof buffer, 3), 3);
        EXPECT_EQ(bytes(buffer, 3), "\x04"
                                    "0\0"s);
        ASSERT_EQ(s.SendAll("rep\0", 4), 4);
        const RawExchange rest = readToClose(s);
        EXPECT_EQ(rest.received, "");
        EXPECT_TRUE(rest.closedByAgent);
    }

    // A report larger than 1 MB arrives whole.
    std::string content;
    for (int i = 0; content.size() < 1500 * 1024; ++i)
        content += "<tr><td>line " + std::to_string(i) + "</td></tr>\r\n";
    content += std::string("\0\x1a\xff end", 7);
    dir.write("report.html", content);
    host.setReportFile(dir / "report.html");
    {
        NetSocket s = connectTo(commandPort);
        ASSERT_EQ(s.SendAll("report\0", 7), 7);
        char buffer[32] = {};
        const int32_t n = s.Receive(buffer, sizeof buffer, 3);
        EXPECT_EQ(bytes(buffer, static_cast<std::size_t>(n)), "\x04" + std::to_string(content.size()) + '\0');
        ASSERT_EQ(s.SendAll("rep\0", 4), 4);
        const RawExchange rest = readToClose(s);
        EXPECT_TRUE(rest.closedByAgent);
        EXPECT_EQ(rest.received.size(), content.size());
        EXPECT_TRUE(rest.received == content);
    }

    // "no_rep", or anything else than "rep" and its NUL: closed after the size reply. ("rep" sent
    // without its NUL is "rep": missing bytes count as NUL.)
    for (const std::string& answer : {"no_rep\0"s, "repo\0"s, "re"s, "rep "s}) {
        NetSocket s = connectTo(commandPort);
        ASSERT_EQ(s.SendAll("report\0", 7), 7);
        char buffer[32] = {};
        EXPECT_GT(s.Receive(buffer, sizeof buffer, 3), 0);
        ASSERT_EQ(s.SendAll(answer.data(), static_cast<int32_t>(answer.size())), static_cast<int32_t>(answer.size()));
        const RawExchange rest = readToClose(s);
        EXPECT_TRUE(rest.received.empty()) << "answer " << answer << ": " << rest.received.size() << " bytes";
        EXPECT_TRUE(rest.closedByAgent);
    }
    std::lock_guard lock(host.mutex);
    EXPECT_EQ(host.reportsGenerated, 6);
}

TEST_F(ConsoleAgentTest, ASilentConsoleInTheReportExchangeIsClosedAfterTheWait)
{
    startAgent();
    dir.write("report.html", "<html></html>");
    host.setReportFile(dir / "report.html");
    NetSocket s = connectTo(commandPort);
    ASSERT_EQ(s.SendAll("report\0", 7), 7);
    const auto start = steady_clock::now();
    const RawExchange r = readToClose(s, 5);
    EXPECT_EQ(r.received, "\x04"
                          "13\0"s);
    EXPECT_TRUE(r.closedByAgent);
    EXPECT_GE(secondsSince(start), 0.8);
    EXPECT_LT(secondsSince(start), 4.0);
}

TEST_F(ConsoleAgentTest, CommandsWithoutReplyReachTheHost)
{
    startAgent();
    EXPECT_EQ(askAgent(commandPort, "del_logs\0"s).received, "");
    EXPECT_EQ(askAgent(commandPort, "del_logs").received, "");
    EXPECT_EQ(askAgent(commandPort, "\x05"
                                    "alice PC7\0"s)
                  .received,
              "");
    EXPECT_EQ(askAgent(commandPort, "\x05 \t bob\n 10.0.0.9 extra words\0"s).received, "");
    EXPECT_EQ(askAgent(commandPort, "\x05" + std::string(255, 'u') + " " + std::string(255, 'c')).received, "");
    EXPECT_EQ(askAgent(commandPort, "\x06"s).received, "");
    EXPECT_EQ(askAgent(commandPort, "\x06whatever"s).received, "");

    // Fewer than two words, or a word longer than a name can be: nothing is closed.
    for (const std::string& bad :
         {"\x05"s, "\x05 alice\0"s, "\x05\0alice PC7"s, "\x05 alice\0PC7"s, "\x05" + std::string(256, 'u') + " PC7",
          "\x05"
          "alice "
              + std::string(900, 'c')})
        EXPECT_EQ(askAgent(commandPort, bad).received, "");

    std::lock_guard lock(host.mutex);
    EXPECT_EQ(host.deleteCount, 2);
    using Pair = std::pair<std::string, std::string>;
    EXPECT_EQ(host.closed, (std::vector<Pair>{
                               {"alice", "PC7"}, {"bob", "10.0.0.9"}, {std::string(255, 'u'), std::string(255, 'c')}}));
    EXPECT_EQ(host.closeAllCount, 2);
}

// True while the agent still holds the connection open (nothing to read, not closed).
bool stillOpen(NetSocket& s)
{
    char byte;
    return s.Receive(&byte, 1, 0) == 0 && s.lastReceive() == NetSocket::ReceiveStatus::TimedOut;
}

// A reply far larger than the sockets between the two ends can hold.
std::vector<SessionEntry> hugeTable()
{
    return std::vector<SessionEntry>(1'000'000, SessionEntry{"someone", "SOME-COMPUTER", 12});
}

TEST_F(ConsoleAgentTest, ASilentConsoleKeepsNoOneWaitingAndIsDroppedAfterTheWait)
{
    startAgent(3);
    host.setSessions({}, 1, 0);
    NetSocket silent = connectTo(commandPort);
    std::this_thread::sleep_for(milliseconds(100));
    const RawExchange answer = askAgent(commandPort, "id\0"s, 6);
    EXPECT_EQ(answer.received, "\x01PC07 1 0\0"s);
    // Answered while the silent console still waited for its own turn to end.
    EXPECT_TRUE(stillOpen(silent));
    const RawExchange dropped = readToClose(silent, 6);
    EXPECT_EQ(dropped.received, "");
    EXPECT_TRUE(dropped.closedByAgent);
}

TEST_F(ConsoleAgentTest, AConsoleThatStopsReadingIsDroppedAtTheCommandDeadline)
{
    startAgent(1, milliseconds(1500));
    const std::vector<SessionEntry> rows = hugeTable();
    host.setSessions(rows, 1, 12);
    NetSocket stuck = connectTo(commandPort);
    ASSERT_EQ(stuck.SendAll("sess\0", 5), 5);  // and reads nothing for now
    std::this_thread::sleep_for(milliseconds(2000));
    const RawExchange cut = readToClose(stuck, 10);
    EXPECT_TRUE(cut.closedByAgent);
    EXPECT_LT(cut.received.size(), rows.size() * console::sessionRowMessage(rows[0]).size());
}

TEST_F(ConsoleAgentTest, ConsolesBeyondTheWorkersWaitInTheBacklog)
{
    startAgent(2, seconds(5), 2);
    host.setSessions({}, 2, 0);
    NetSocket first = connectTo(commandPort);
    NetSocket second = connectTo(commandPort);
    std::this_thread::sleep_for(milliseconds(200));
    const RawExchange third = askAgent(commandPort, "id\0"s, 8);
    EXPECT_EQ(third.received, "\x01PC07 2 0\0"s);
    // Both workers were held by the silent consoles until the wait of one of them ran out.
    const bool firstOpen = stillOpen(first);
    const bool secondOpen = stillOpen(second);
    EXPECT_FALSE(firstOpen && secondOpen);
}

TEST_F(ConsoleAgentTest, StopIsPromptWhateverTheConsolesAreDoing)
{
    startAgent(3, seconds(60));
    host.setSessions(hugeTable(), 1, 12);
    NetSocket stuck = connectTo(commandPort);
    ASSERT_EQ(stuck.SendAll("sess\0", 5), 5);
    NetSocket silent = connectTo(commandPort);
    NetSocket halfRequest = connectTo(commandPort);
    ASSERT_EQ(halfRequest.SendAll("rep", 3), 3);
    dir.write("report.html", "<html></html>");
    host.setReportFile(dir / "report.html");
    NetSocket reportWaiting = connectTo(commandPort);
    ASSERT_EQ(reportWaiting.SendAll("report\0", 7), 7);
    sendDatagram("list");  // and nobody takes the connection back on the reply port
    std::this_thread::sleep_for(milliseconds(300));
    // Answered meanwhile (long before any of them runs out of time).
    EXPECT_EQ(askAgent(commandPort, "id\0"s, 5).received, "\x01PC07 1 12\0"s);

    const auto start = steady_clock::now();
    agent->stop();
    EXPECT_LT(secondsSince(start), 2.0);
    EXPECT_FALSE(agent->agentRunning);
    EXPECT_FALSE(agent->discoveryActive() || agent->commandActive());
    EXPECT_TRUE(readToClose(silent, 2).closedByAgent);
}

TEST_F(ConsoleAgentTest, DiscoveryAnswersListDatagramsOnTheConsolesReplyPort)
{
    startAgent();
    host.setSessions({}, 3, 5);
    sendDatagram("list\0"s);
    {
        NetSocket reply(replyListener.Accept(3));
        ASSERT_TRUE(reply.isValid());
        const RawExchange r = readToClose(reply, 3);
        EXPECT_EQ(r.received, "\x01PC07 3 5\0"s);
        EXPECT_TRUE(r.closedByAgent);
    }
    // A longer datagram beginning with "list" is a discovery too; 'lisp' and "lis" are not.
    sendDatagram("lisp");
    sendDatagram("lis");
    EXPECT_EQ(replyListener.Accept(2), invalidSocket);
    sendDatagram("listing everything, please");
    NetSocket reply(replyListener.Accept(3));
    EXPECT_TRUE(reply.isValid());
}

TEST_F(ConsoleAgentTest, AConsoleNotOnTheListGetsNoAnswerAtAllAndOnesOnItAreServedAsBefore)
{
    host.setSessions({{"alice", "PC7", 1}}, 1, 1);
    allowedConsoles = parseConsoleAllowList("10.1.2.3, 127.0.0.2/32").networks;
    startAgent();
    // Closed unread (a reset, as the request is never taken), whatever was asked: no row, no
    // identity, no close, no reply to a discovery.
    for (const std::string& request : {"sess"s, "id"s,
                                       "\x05"
                                       "alice PC7\0"s,
                                       "\x06"s, "del_logs"s}) {
        NetSocket s = connectTo(commandPort);
        s.SendAll(request.data(), static_cast<int32_t>(request.size()));  // may meet the reset already
        EXPECT_EQ(readToClose(s).received, "");
    }
    sendDatagram("list\0"s);
    EXPECT_EQ(replyListener.Accept(2), invalidSocket);
    {
        std::lock_guard lock(host.mutex);
        EXPECT_TRUE(host.closed.empty());
        EXPECT_EQ(host.closeAllCount + host.deleteCount, 0);
        EXPECT_TRUE(commandsFrom.empty());
    }

    agent->stop();
    allowedConsoles = parseConsoleAllowList("127.0.0.0/8").networks;
    startAgent();
    EXPECT_EQ(askAgent(commandPort, "sess").received,
              console::sessionRowMessage({"alice", "PC7", 1}) + console::sessionsEndMessage());
    EXPECT_EQ(askAgent(commandPort, "\x06"s).received, "");
    sendDatagram("list\0"s);
    NetSocket reply(replyListener.Accept(3));
    EXPECT_TRUE(reply.isValid());
    std::lock_guard lock(host.mutex);
    EXPECT_EQ(host.closeAllCount, 1);
    // The service writes each of them to the journal with this address.
    EXPECT_EQ(commandsFrom, (std::vector<std::string>{"127.0.0.1", "127.0.0.1"}));
}

TEST_F(ConsoleAgentTest, ADiscoveryNobodyListensForIsDroppedAndTheNextAnswered)
{
    startAgent();
    const uint16_t replyPort = replyListener.LocalPort();
    replyListener.Close();
    sendDatagram("list");
    std::this_thread::sleep_for(milliseconds(300));
    ASSERT_TRUE(replyListener.Listen(replyPort, "127.0.0.1"));
    sendDatagram("list");
    NetSocket reply(replyListener.Accept(3));
    ASSERT_TRUE(reply.isValid());
    EXPECT_EQ(readToClose(reply, 3).received, "\x01PC07 0 0\0"s);
    EXPECT_EQ(replyListener.Accept(1), invalidSocket);  // the first "list" got nothing late
}

TEST(ConsoleAgent, PortsThatCannotBeOpenedAreToldAndTheOtherThreadRuns)
{
    FakeAgentHost host;
    NetSocket heldTcp;
    ASSERT_TRUE(heldTcp.Listen(0, "127.0.0.1"));
    const uint16_t udpPort = freeUdpPort();
    NetDatagramSocket heldUdp;
    ASSERT_TRUE(heldUdp.Create("127.0.0.1", udpPort));

    ConsoleAgent::Config config;
    config.bindAddress = "127.0.0.1";
    config.commandPort = heldTcp.LocalPort();
    config.discoveryPort = freeUdpPort();
    config.waitSeconds = 1;
    {
        ConsoleAgent agent(host, config);
        agent.start();
        EXPECT_TRUE(agent.discoveryActive());
        EXPECT_FALSE(agent.commandActive());
        ASSERT_EQ(host.boxes.size(), 1u);
        EXPECT_EQ(host.boxes[0].caption, "Error");
        EXPECT_EQ(host.boxes[0].text, socketErrorText(test::addressInUseCode));
        EXPECT_EQ(host.boxes[0].icon, BoxIcon::Information);
    }
    host.boxes.clear();
    config.commandPort = 0;
    config.discoveryPort = udpPort;
    ConsoleAgent agent(host, config);
    agent.start();
    EXPECT_FALSE(agent.discoveryActive());
    ASSERT_TRUE(agent.commandActive());
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].caption, "Error");
    EXPECT_EQ(host.boxes[0].text, "Can't create socket!");
    EXPECT_EQ(host.boxes[0].icon, BoxIcon::Error);
    EXPECT_EQ(askAgent(agent.commandPort(), "id\0"s).received, "\x01PC07 0 0\0"s);
}

TEST(ConsoleAgent, StopEndsBothThreadsAndFreesThePort)
{
    FakeAgentHost host;
    ConsoleAgent::Config config;
    config.bindAddress = "127.0.0.1";
    config.commandPort = 0;
    config.discoveryPort = freeUdpPort();
    ConsoleAgent agent(host, config);
    agent.start();
    ASSERT_TRUE(agent.discoveryActive() && agent.commandActive());
    EXPECT_TRUE(agent.agentRunning);
    agent.start();  // a second start changes nothing
    std::this_thread::sleep_for(milliseconds(100));
    agent.stop();
    EXPECT_FALSE(agent.agentRunning);
    EXPECT_FALSE(agent.discoveryActive() || agent.commandActive());

    // The port is free again at once, for a restarted agent.
    NetSocket again;
    EXPECT_TRUE(again.Listen(agent.commandPort(), "127.0.0.1"));
}
