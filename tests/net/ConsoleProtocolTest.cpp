// The protocol's free functions: what a peer's bytes mean, and how the console reads replies.
#include "console/ConsoleProtocol.h"

#include <gtest/gtest.h>

using namespace vantor;
using namespace vantor::console;
using namespace std::string_literals;
using Kind = CommandRequest::Kind;

TEST(ConsoleProtocol, RequestsAreDispatchedInOrderOnTheirFirstBytes)
{
    EXPECT_EQ(parseCommandRequest("sess\0"s).kind, Kind::Sessions);
    EXPECT_EQ(parseCommandRequest("report\0"s).kind, Kind::Report);
    EXPECT_EQ(parseCommandRequest("id\0"s).kind, Kind::Identity);
    EXPECT_EQ(parseCommandRequest("id").kind, Kind::Identity);
    EXPECT_EQ(parseCommandRequest("id\0\0garbage"s).kind, Kind::Identity);
    EXPECT_EQ(parseCommandRequest("del_logs\0"s).kind, Kind::DeleteLogs);
    EXPECT_EQ(parseCommandRequest("del_"s).kind, Kind::DeleteLogs);
    EXPECT_EQ(parseCommandRequest("\x06"s).kind, Kind::CloseAll);
    for (const std::string& ignored : {""s, "\0"s, "list"s, "rep\0"s, "no_rep\0"s, "repair"s, "ID\0"s, "sesS"s,
                                       "id\0x"s, "\x07"s, "\x01"s, " sess"s})
        EXPECT_EQ(parseCommandRequest(ignored).kind, Kind::Ignored) << ignored;
}

TEST(ConsoleProtocol, CloseSessionTakesTwoBoundedWords)
{
    auto close = parseCommandRequest("\x05"
                                     "alice PC7\0"s);
    EXPECT_EQ(close.kind, Kind::CloseSession);
    EXPECT_EQ(close.user, "alice");
    EXPECT_EQ(close.computer, "PC7");

    close = parseCommandRequest("\x05\r\n\tDOM\\bob\v\f192.168.1.20 trailing words"s);
    EXPECT_EQ(close.kind, Kind::CloseSession);
    EXPECT_EQ(close.user, "DOM\\bob");
    EXPECT_EQ(close.computer, "192.168.1.20");

    // Bytes of any value are names, except white space and NUL.
    close = parseCommandRequest("\x05\xC3\xA9l\xC3\xA8ve \x01\x7f"s);
    EXPECT_EQ(close.kind, Kind::CloseSession);
    EXPECT_EQ(close.user, "\xC3\xA9l\xC3\xA8ve");
    EXPECT_EQ(close.computer, "\x01\x7f");

    EXPECT_EQ(parseCommandRequest("\x05" + std::string(255, 'a') + " " + std::string(255, 'b')).kind,
              Kind::CloseSession);
    for (const std::string& bad : {"\x05"s, "\x05   "s, "\x05 alice"s, "\x05 alice \0 PC7"s,
                                   "\x05" + std::string(256, 'a') + " b", "\x05 a " + std::string(256, 'b')}) {
        const auto r = parseCommandRequest(bad);
        EXPECT_EQ(r.kind, Kind::Ignored);
        EXPECT_TRUE(r.user.empty() && r.computer.empty());
    }
}

TEST(ConsoleProtocol, RepliesAreBuiltByteForByte)
{
    EXPECT_EQ(identityMessage("pc07", 3, 5), "\x01PC07 3 5\0"s);
    EXPECT_EQ(identityMessage("", 0, 0), "\x01    0 0\0"s);
    EXPECT_EQ(signedByte(127), 127);
    EXPECT_EQ(signedByte(128), -128);
    EXPECT_EQ(signedByte(200), -56);
    EXPECT_EQ(signedByte(255), -1);
    EXPECT_EQ(signedByte(256), 0);
    EXPECT_EQ(signedByte(300), 44);
    EXPECT_EQ(signedByte(4294967295u), -1);
    EXPECT_EQ(sessionRowMessage({"alice", "PC7", 2}), "\x02"
                                                      "alice PC7 2\0"s);
    EXPECT_EQ(sessionsEndMessage(), "\x03"s);
    EXPECT_EQ(reportSizeMessage(0), "\x04"
                                    "0\0"s);
    EXPECT_EQ(reportSizeMessage(4294967295u), "\x04"
                                              "4294967295\0"s);
    EXPECT_EQ(closeSessionMessage("alice", "PC7"), "\x05"
                                                   "alice PC7\0"s);
    EXPECT_EQ(closeAllMessage(), "\x06"s);
    EXPECT_EQ(commandMessage(wordId), "id\0"s);
    EXPECT_EQ(commandMessage(wordDelLogs), "del_logs\0"s);
    EXPECT_TRUE(isDiscoveryRequest("list"));
    EXPECT_TRUE(isDiscoveryRequest("listen"));
    EXPECT_FALSE(isDiscoveryRequest("lisp"));
    EXPECT_FALSE(isDiscoveryRequest("lis"));
    EXPECT_TRUE(isReportWanted("rep\0"s));
    EXPECT_FALSE(isReportWanted("repo"));
    EXPECT_FALSE(isReportWanted("no_rep\0"s));
}

TEST(ConsoleProtocol, TheConsoleReadsWhatTheAgentBuilds)
{
    for (const auto& [name, sessions, files] : {std::tuple{"pc07"s, 3u, 5u}, {""s, 200u, 300u}, {"a b"s, 0u, 127u}}) {
        const auto id = parseIdentityReply(identityMessage(name, sessions, files));
        ASSERT_TRUE(id);
        EXPECT_EQ(id->computerName, identityName(name));
        EXPECT_EQ(id->sessions, signedByte(sessions));
        EXPECT_EQ(id->openFiles, signedByte(files));
    }
    for (const std::string& bad : {""s, "\x01"s, "\x01PC07\0"s, "\x01PC07 3\0"s, "\x01PC07 x 5\0"s, "\x02PC07 3 5\0"s})
        EXPECT_FALSE(parseIdentityReply(bad)) << bad;

    EXPECT_EQ(parseReportSizeReply(reportSizeMessage(1234567)), 1234567u);
    for (const std::string& bad : {"\x04\0"s,
                                   "\x04"
                                   "12"s,
                                   "\x04-1\0"s,
                                   "\x04"
                                   "4294967296\0"s,
                                   "\x05"
                                   "12\0"s,
                                   "\x04 1\0"s})
        EXPECT_FALSE(parseReportSizeReply(bad)) << bad;
}

TEST(ConsoleProtocol, SessionsReplyIsReadFromPiecesOfAnySize)
{
    const std::vector<SessionEntry> rows{{"alice", "PC7", 2}, {"", "10.0.0.7", 0}, {"bob", "", 4294967295u}};
    std::string wire;
    for (const auto& r : rows)
        wire += sessionRowMessage(r);
    wire += sessionsEndMessage();

    for (std::size_t piece : {1u, 2u, 5u, 1000u}) {
        SessionsReplyReader reader;
        for (std::size_t i = 0; i < wire.size(); i += piece) {
            EXPECT_EQ(reader.state(), SessionsReplyReader::State::Reading);
            reader.feed(std::string_view(wire).substr(i, piece));
        }
        EXPECT_EQ(reader.state(), SessionsReplyReader::State::Done);
        EXPECT_EQ(reader.rows(), rows);
    }

    SessionsReplyReader empty;
    EXPECT_EQ(empty.feed("\x03"), SessionsReplyReader::State::Done);
    EXPECT_TRUE(empty.rows().empty());

    for (const std::string& bad : {"\x01PC07 1 1\0"s,
                                   "\x02"
                                   "alice PC7\0"s,
                                   "\x02"
                                   "alice PC7 x\0"s,
                                   "\x02" + std::string(5000, 'a')}) {
        SessionsReplyReader reader;
        EXPECT_EQ(reader.feed(bad), SessionsReplyReader::State::Malformed) << bad.substr(0, 20);
    }

    // A peer cannot make the console hold rows without end.
    const std::string row = sessionRowMessage({"u", "c", 1});
    std::string many;
    for (std::size_t i = 0; i < 1000; ++i)
        many += row;
    SessionsReplyReader endless;
    for (std::size_t fed = 0; fed < maxSessionRows && endless.state() == SessionsReplyReader::State::Reading;
         fed += 1000)
        endless.feed(many);
    EXPECT_EQ(endless.rows().size(), maxSessionRows);
    EXPECT_EQ(endless.feed(row), SessionsReplyReader::State::Malformed);
}
