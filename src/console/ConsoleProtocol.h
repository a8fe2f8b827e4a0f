#pragma once
// The console protocol as data: the ports, the marker bytes, the command words, and free functions
// that read a peer's bytes and build the replies byte for byte. Both the agent and vantor-console
// use them; nothing here touches a socket, so tests and the fuzzer call them directly.
//
// A request is a command word (or a marker byte with text behind it); a reply is a marker byte
// followed by text and a terminating NUL byte that is sent with it.

#include "monitor/SessionTypes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::console {

inline constexpr uint16_t discoveryPort = 36869;  // UDP, console to agent
inline constexpr uint16_t consoleReplyPort = 36870;  // TCP, agent connects back to the console
inline constexpr uint16_t commandPort = 36872;  // TCP, console to agent, one command each

// Every wait of the agent lasts at most this long.
inline constexpr uint32_t waitSeconds = 3;
// A discovery datagram is received into this many bytes; a command request and the console's
// answer in the report exchange into this many.
inline constexpr int discoveryBufferSize = 255;
inline constexpr int commandBufferSize = 1024;
// A user or computer name in a close-session request.
inline constexpr std::size_t maxNameLength = 255;

inline constexpr char identityReply = 0x01;
inline constexpr char sessionRow = 0x02;
inline constexpr char sessionsEnd = 0x03;
inline constexpr char reportSize = 0x04;
inline constexpr char closeSessionRequest = 0x05;
inline constexpr char closeAllRequest = 0x06;

// A command word is recognised by the first four bytes of a message alone; a word shorter than
// four characters continues with NUL bytes ("id" is 'i' 'd' NUL NUL, "rep" is 'r' 'e' 'p' NUL).
struct CommandWord {
    const char* text;
    char key[4];
};
inline constexpr CommandWord wordList{"list", {'l', 'i', 's', 't'}};
inline constexpr CommandWord wordSess{"sess", {'s', 'e', 's', 's'}};
inline constexpr CommandWord wordReport{"report", {'r', 'e', 'p', 'o'}};
inline constexpr CommandWord wordRep{"rep", {'r', 'e', 'p', '\0'}};
inline constexpr CommandWord wordNoRep{"no_rep", {'n', 'o', '_', 'r'}};
inline constexpr CommandWord wordId{"id", {'i', 'd', '\0', '\0'}};
inline constexpr CommandWord wordDelLogs{"del_logs", {'d', 'e', 'l', '_'}};

// True when the first four bytes of `message` are the word's four bytes. Bytes missing from a
// message shorter than four count as NUL, so nothing of an earlier message can stand in for them.
bool startsWithWord(std::string_view message, const CommandWord& word);

// What a connection to the command port asks for.
struct CommandRequest {
    enum class Kind { Ignored, Sessions, Report, Identity, DeleteLogs, CloseSession, CloseAll };
    Kind kind = Kind::Ignored;
    std::string user;  // CloseSession only
    std::string computer;  // CloseSession only
};

// Reads the bytes of one received request. Tested in this order: "sess", "report", "id",
// "del_logs", then the first byte 0x05 and 0x06; everything else ("list" and "rep" included) is
// Ignored. A close-session request needs two white-space separated words of at most 255 characters
// each after the marker; with fewer words, or a longer one, it is Ignored.
CommandRequest parseCommandRequest(std::string_view received);

bool isDiscoveryRequest(std::string_view datagram);
// The console's answer in the report exchange: only "rep" followed by NUL asks for the file.
bool isReportWanted(std::string_view answer);

// The computer name of the identity reply: the host name upper-cased as the C library does in the
// "C" locale (ASCII letters only), or three blanks when there is none.
std::string identityName(const std::string& hostName);
// A count as the identity reply shows it: its low 8 bits as a signed value (200 shows as -56).
int signedByte(uint32_t count);

// Each message as sent, its terminating NUL included (sessionsEndMessage is the single byte).
std::string identityMessage(const std::string& hostName, uint32_t sessions, uint32_t openFiles);
std::string sessionRowMessage(const SessionEntry& row);
std::string sessionsEndMessage();
std::string reportSizeMessage(uint32_t size);
std::string closeSessionMessage(const std::string& user, const std::string& computer);
std::string closeAllMessage();
// A command word as a console sends it, with its NUL ("id" is 3 bytes).
std::string commandMessage(const CommandWord& word);

// --- reading the agent's replies (the console side) ----------------------------------------------

struct Identity {
    std::string computerName;
    int sessions = 0;
    int openFiles = 0;
};
// One identity reply: 0x01, name, blank, count, blank, count, then NUL or the end of the bytes.
// The name may itself hold blanks (three blanks when the agent knows no name).
std::optional<Identity> parseIdentityReply(std::string_view message);

// One session row's text (between the 0x02 and the NUL): user, blank, computer, blank, count.
// The user is taken up to the first blank and the count after the last one.
std::optional<SessionEntry> parseSessionRowText(std::string_view text);

// The most rows a sessions reply may carry before the console takes it for something else: some
// fifty times the largest server seen, and a bound on what a peer can make the console hold.
inline constexpr std::size_t maxSessionRows = 500'000;

// Collects the reply to "sess" as its bytes arrive in any pieces; Malformed past maxSessionRows.
class SessionsReplyReader {
public:
    enum class State { Reading, Done, Malformed };
    State feed(std::string_view bytes);
    State state() const { return m_state; }
    const std::vector<SessionEntry>& rows() const { return m_rows; }

private:
    State m_state = State::Reading;
    std::string m_pending;
    std::vector<SessionEntry> m_rows;
};

// The report-size reply: 0x04, decimal digits, NUL. nullopt for anything else.
std::optional<uint32_t> parseReportSizeReply(std::string_view message);

}  // namespace vantor::console
