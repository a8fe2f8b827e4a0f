#pragma once
// The platform's network-management service: sessions that other computers hold on a server's
// shares, the resources they hold open, closing them, and the accounts of this computer.
// Samba stands behind it on Linux, NetApi32 on Windows, and an in-memory fake in tests and demos.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantor {

// A status code and the text a person can act on. Code 0 is success; any other code is an error
// whose text is what showSystemError puts in its box.
struct NetStatus {
    uint32_t code = 0;
    std::string text;

    bool ok() const { return code == 0; }
    static NetStatus success() { return {}; }
};

// Status codes of the service (Windows' own numbers where Windows has one, so both backends agree).
namespace netcode {
inline constexpr uint32_t AccessDenied = 5;  // ERROR_ACCESS_DENIED
inline constexpr uint32_t NotEnoughMemory = 8;  // ERROR_NOT_ENOUGH_MEMORY (name conversion)
inline constexpr uint32_t NotSupported = 50;  // ERROR_NOT_SUPPORTED
inline constexpr uint32_t InvalidParameter = 87;  // ERROR_INVALID_PARAMETER
inline constexpr uint32_t BadNetPath = 53;  // ERROR_BAD_NETPATH (server unreachable)
inline constexpr uint32_t LogonFailure = 1326;  // ERROR_LOGON_FAILURE (no or wrong credentials)
inline constexpr uint32_t ServiceNotRunning = 2114;  // NERR_ServerNotStarted
inline constexpr uint32_t ClientNameNotFound = 2312;  // NERR_ClientNameNotFound
inline constexpr uint32_t FileIdNotFound = 2314;  // NERR_FileIdNotFound
inline constexpr uint32_t ToolFailed = 0x20000001;  // a platform tool failed to run or answered badly
inline constexpr uint32_t ToolTimedOut = 0x20000002;  // a platform tool did not finish in time
inline constexpr uint32_t BadToolOutput = 0x20000003;  // a platform tool's output could not be read
}  // namespace netcode

// What a service tells of a session beyond its user, computer and open count. Each field is empty
// where the service does not tell it (Samba knows no idle time, srvsvc's level 1 no dialect).
struct SessionDetails {
    std::optional<int64_t> connectedAt;  // seconds since 1970 (UTC)
    std::optional<int64_t> idleSeconds;
    std::vector<std::string> shares;  // the shares it has connected, in connection order
    std::string dialect;  // "SMB3_11"
    std::string encryption;  // the cipher, or "none"
    std::string signing;  // the cipher, or "none"
    std::optional<int64_t> processId;  // the smbd process serving it
    std::optional<int64_t> uid;  // the account's uid on this computer
    std::optional<uint32_t> channels;  // its connections (more than one: multichannel)
    bool operator==(const SessionDetails&) const = default;
};

// One session as the service reports it (level 1 of a session enumeration, and what more it tells).
struct NetSessionInfo {
    std::string user;  // UTF-8, at most 255 bytes
    std::string computer;  // client computer without leading backslashes, at most 255 bytes
    uint32_t openFiles = 0;
    SessionDetails details;
};

// How a resource is held open, where the service tells it.
struct FileDetails {
    std::string share;  // the share it was opened through
    std::string relativePath;  // its path inside that share, with '/' between names
    bool read = false;  // opened to read data
    bool write = false;  // opened to write or append data
    // What the opener denies others: some of "read", "write", "delete" joined by '/', or "none".
    // Empty where the service does not tell.
    std::string denyMode;
    std::string oplock;  // "batch", "exclusive", "level II", "lease RWH", "none"; empty: unknown
    std::optional<uint32_t> locks;  // byte-range locks held on it
    std::optional<int64_t> openedAt;  // seconds since 1970 (UTC)
    bool operator==(const FileDetails&) const = default;
};

// One open resource (level 3 of a file enumeration): its identifier and its path.
struct NetFileInfo {
    uint32_t id = 0;
    std::string path;  // UTF-8, at most 255 bytes
    // The client computer of the session that holds it, where the service can tell (Samba can,
    // NetApi32's level 3 cannot: empty there). The history uses it to tie a file to one session.
    std::string computer;
    // The user holding it, where the service tells (an enumeration of every user's files does).
    std::string user;
    FileDetails details;
};

// One shared folder of a server: its name and the folder it shares, as the server's configuration
// writes it (Samba's %-substitutions stand as they are; a server asked over the network gives its
// own form, "C:\\srv\\docs").
struct NetShareInfo {
    std::string name;
    std::string path;
    bool operator==(const NetShareInfo&) const = default;
};

// "read", "write", "read/write", or "" when the service does not tell.
std::string accessText(const FileDetails& details);

// A session as a close names it.
struct SessionKey {
    std::string computer;
    std::string user;
};

// How the last listing of sessions went beyond its status: the way it took where the usual one
// failed, and the records it could not read and left out (the rest being listed all the same).
struct ListingNotes {
    std::string route;  // empty: the usual way; else a short name of the other way
    std::string routeReason;  // why the usual way was left
    std::string routeMissing;  // what the other way cannot tell
    struct Skipped {
        std::string cause;  // the same text for every record with that fault
        std::string text;  // the same, naming the record
    };
    std::vector<Skipped> skipped;
};

// A server argument: empty means this computer, otherwise the server's name without backslashes.
using ServerName = std::optional<std::string>;

class NetManagement {
public:
    virtual ~NetManagement() = default;

    // Every session, in the service's order. An empty list is a success with no sessions.
    virtual NetStatus enumSessions(const ServerName& server, std::vector<NetSessionInfo>& out) = 0;

    // The open resources of every session of `user`, whatever its computer, in the service's order.
    virtual NetStatus enumFiles(const ServerName& server, const std::string& user, std::vector<NetFileInfo>& out) = 0;

    // Ends every session of `user` from `computer`. Success only when they are all ended.
    virtual NetStatus deleteSession(const ServerName& server, const std::string& computer, const std::string& user) = 0;

    // The account names of this computer, in the service's order.
    virtual NetStatus enumUsers(std::vector<std::string>& out) = 0;

    // Closes one open resource by the identifier its enumeration gave.
    virtual NetStatus closeFile(const ServerName& server, uint32_t fileId) = 0;

    // The open resources of every user, each with its user, in the service's order: one call where
    // a poll would otherwise make one per user. NotSupported where the service cannot.
    virtual NetStatus enumAllFiles(const ServerName& server, std::vector<NetFileInfo>& out);

    // The disk shares of the server with their folders, in the service's order. Only the shares
    // view wants them, so a failure leaves the folders unknown and is no poll's error.
    virtual NetStatus enumShares(const ServerName& server, std::vector<NetShareInfo>& out);

    // Ends the sessions of several pairs at once (the closes of one poll); one status per pair, in
    // order. A service that can share its work between them does; by default one deleteSession each.
    virtual std::vector<NetStatus> deleteSessions(const ServerName& server, const std::vector<SessionKey>& sessions);

    // The notes of the last enumSessions of this thread's caller: asked right after it, on the
    // same thread. By default none.
    virtual ListingNotes listingNotes() const { return {}; }
};

// Cuts a UTF-8 text to at most `maxBytes` bytes without splitting a multi-byte sequence.
std::string cutUtf8(std::string text, std::size_t maxBytes = 255);

}  // namespace vantor
