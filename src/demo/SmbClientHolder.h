#pragma once
// A client that holds files and folders open on a Samba share: smbclient fed one command at a
// time through a pipe ("open FILE"). For the tests and the demo; it ends with its owner.

#include "platform/Process.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace vantor::samba {

class SmbClientHolder {
public:
    struct Options {
        std::string host = "127.0.0.1";
        uint16_t port = 445;
        std::string share = "share";
        std::string user;
        std::string password;
        std::string smbclient = "smbclient";
        // The protocol to speak ("NT1"); empty: smbclient's default.
        std::string protocol;
        // smbclient's answers land here (tests read them when something fails); empty: discarded.
        std::filesystem::path logFile;
        // smbclient reads ahead: commands sent closer together than this get lost.
        std::chrono::milliseconds commandPause{300};
    };

    explicit SmbClientHolder(Options options);
    ~SmbClientHolder();
    SmbClientHolder(const SmbClientHolder&) = delete;
    SmbClientHolder& operator=(const SmbClientHolder&) = delete;

    // Starts smbclient; true once it is connected and logged on (within `timeout`).
    bool connect(std::string& error, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Opens a file or a folder, relative to the share (with '/' between names), and keeps it open.
    bool open(const std::string& path);
    // Connects one more share of the same server in the same session; the opens after it are made
    // on that share.
    bool connectShare(const std::string& share);
    // Switches to SMB1's unix extensions (protocol NT1, "unix extensions" on the server); the files
    // opened after it can be locked.
    bool posix();
    // Takes a POSIX byte-range lock on what open(path) opened last, for writing or reading.
    bool lock(const std::string& path, bool write, uint64_t start, uint64_t length);
    // Closes what open(path) opened (the last open of that path).
    bool close(const std::string& path);
    // Closes the connection (smbclient ends, its session with it).
    void disconnect();
    bool connected();

private:
    bool send(const std::string& command);
    // Sends a command and waits for smbclient's answer; returns what it said.
    std::string ask(const std::string& command, const std::vector<std::string>& answers);

    Options m_options;
    ChildProcess m_client;
    bool m_ownLog = false;
    std::vector<std::pair<std::string, int>> m_handles;  // path and smbclient's fnum, oldest first
    bool m_posix = false;  // the unix extensions are on
};

}  // namespace vantor::samba
