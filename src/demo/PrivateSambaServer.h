#pragma once
// A private smbd on 127.0.0.1 for the tests and the demo: its own directory tree, configuration,
// port and accounts, so that it never touches the computer's own Samba server. Needs root (the
// accounts are real Linux accounts, made with useradd, as Samba requires).
//
// Everything it started stops in bounded time when it is stopped or destroyed: smbd, the
// samba-dcerpcd/rpcd_* helpers smbd may start on the first RPC call, the accounts and the tree.

#include "platform/InstanceLock.h"
#include "platform/Process.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vantor::samba {

class PrivateSambaServer {
public:
    struct Options {
        std::vector<std::string> shares{"share"};
        std::string smbd = "smbd";
        std::chrono::milliseconds startTimeout{15'000};
        // Account names start with this; each gets the process id and a counter so that servers
        // of parallel runs never share an account.
        std::string accountPrefix = "vt";
        // The server's folder is "/tmp/<rootPrefix>-XXXXXX".
        std::string rootPrefix = "vantor-smbd";
        // Lock the folder while the server lives and write down in it every account and group
        // made, so that removeAbandoned can undo all of it after the process was killed.
        bool traceable = false;
        // More "name = value" lines for [global] (tests that need SMB1's unix extensions).
        std::vector<std::string> globalOptions;
    };

    PrivateSambaServer();
    explicit PrivateSambaServer(Options options);
    ~PrivateSambaServer();
    PrivateSambaServer(const PrivateSambaServer&) = delete;
    PrivateSambaServer& operator=(const PrivateSambaServer&) = delete;

    // Makes the tree and configuration and starts smbd; returns once it accepts connections.
    bool start(std::string& error);

    // A Linux account without a home and its Samba password; returns the account's unique name
    // (built from `hint`), or an empty text with `error` set.
    std::string addUser(const std::string& hint, const std::string& password, std::string& error);

    // Makes an account of addUser an administrator of this server: a member of BUILTIN\Administrators
    // (listing sessions and open files, closing files) and, with `domainAdmin`, of Domain Admins
    // (closing sessions). Call it before the account logs on: Samba builds a logon's rights once.
    bool makeAdministrator(const std::string& user, bool domainAdmin, std::string& error);

    // Stops smbd and its helpers but keeps the tree and the accounts: the server then looks like a
    // stopped Samba (its configuration still names it).
    void stopSmbd();
    // Stops everything and removes the accounts and the tree. Safe to call more than once.
    void stop();

    bool smbdRunning();

    // Undoes what traceable servers of `rootPrefix` left when their process was killed: stops
    // their smbd, its helpers and the clients logged on with their accounts, deletes the accounts
    // and groups, removes the folders. Servers still running (their folder locked) are left alone.
    // Returns the folders it cleared.
    static std::vector<std::filesystem::path> removeAbandoned(const std::string& rootPrefix);
    uint16_t port() const { return m_port; }
    const std::filesystem::path& root() const { return m_root; }
    std::filesystem::path configFile() const { return m_root / "smb.conf"; }
    std::filesystem::path sharePath(const std::string& share) const { return m_root / "shares" / share; }
    const std::vector<std::string>& users() const { return m_users; }

private:
    bool writeConfig(std::string& error) const;
    // A new Linux group mapped by "net groupmap add" with `mapping`; its name, or empty with `error`.
    std::string mappedGroup(const std::string& hint, const std::vector<std::string>& mapping, std::string& error);
    void stopHelpers();
    std::string smbdLogTail() const;

    void record(const char* kind, const std::string& name) const;

    Options m_options;
    std::filesystem::path m_root;
    std::unique_ptr<InstanceLock> m_rootLock;
    uint16_t m_port = 0;
    ChildProcess m_smbd;
    std::vector<std::string> m_users;
    std::vector<std::string> m_groups;  // Linux groups mapped to Samba's administrative groups
    std::string m_adminGroup, m_domainAdminGroup;
};

// A free TCP port on 127.0.0.1 (bound and released: the caller should retry if it is taken in between).
uint16_t freeLoopbackPort();

// Whether something accepts TCP connections on address:port.
bool acceptsConnections(const std::string& address, uint16_t port);

// The command line of process `pid`, its arguments separated by NULs; empty once it has ended.
std::string commandLineOf(int pid);

// The pids of processes whose command line contains `text` (not this process).
std::vector<int> processesWithArgument(const std::string& text);

}  // namespace vantor::samba
