#pragma once
// What the tests against a private smbd share: the server on 127.0.0.1 with its "docs" share, a
// forwarder so that clients can also come from 127.0.0.2, the clients that hold files open, and
// Samba's own view of the sessions to check the monitor against.

#include "TempDir.h"
#include "platform/Process.h"
#include "monitor/SessionTypes.h"
#include "demo/PrivateSambaServer.h"
#include "platform/samba/SambaNetManagement.h"
#include "demo/SmbClientHolder.h"
#include "demo/TcpForwarder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <pwd.h>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace vantor::test {

// The rows as the three columns show them: what the service tells beyond those is checked on its own.
inline std::vector<SessionEntry> columns(std::vector<SessionEntry> v)
{
    for (auto& e : v)
        e.details = {};
    return v;
}

inline std::vector<SessionEntry> sorted(std::vector<SessionEntry> v)
{
    v = columns(std::move(v));
    std::sort(v.begin(), v.end(), [](const SessionEntry& a, const SessionEntry& b) {
        return std::tie(a.user, a.computer, a.openFiles) < std::tie(b.user, b.computer, b.openFiles);
    });
    return v;
}

// Polls `done` every 100 ms for up to `limit`; the limit only ends a test that would otherwise
// hang, it is no speed goal.
template <class Pred> bool waitUntil(Pred done, std::chrono::milliseconds limit = std::chrono::seconds(20))
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

// Why a test cannot run here: not root (the private server makes Linux accounts, and smbstatus
// works only as root), or one of Samba's `programs` missing; empty when it can.
inline std::string sambaMissing(std::initializer_list<const char*> programs = {"smbd", "smbclient"})
{
    if (::geteuid() != 0)
        return "needs root: the private Samba server makes Linux accounts and smbstatus only works as root";
    for (const char* program : programs)
        if (findProgram(program).find('/') == std::string::npos)
            return std::string("needs Samba's ") + program + " (scripts/install-deps.sh installs it)";
    return {};
}

class SambaFixture : public ::testing::Test {
protected:
    // The server with its "docs" share and the accounts alice and bob (passwords "pw-alice" and
    // "pw-bob"), and the forwarder to it from 127.0.0.2.
    void startServer(samba::PrivateSambaServer::Options options = {})
    {
        options.shares = {"docs"};
        server = std::make_unique<samba::PrivateSambaServer>(options);
        std::string error;
        ASSERT_TRUE(server->start(error)) << error;
        alice = server->addUser("alice", "pw-alice", error);
        ASSERT_FALSE(alice.empty()) << error;
        bob = server->addUser("bob", "pw-bob", error);
        ASSERT_FALSE(bob.empty()) << error;
        forwarder = std::make_unique<samba::TcpForwarder>("127.0.0.2", server->port());
        ASSERT_TRUE(forwarder->start(error)) << error;
    }

    void TearDown() override
    {
        // Clients first: their sessions end before their server.
        for (auto& c : fullAccessClients)
            c->stop();
        fullAccessClients.clear();
        clients.clear();
        forwarder.reset();
        if (server)
            server->stop();
    }

    samba::SmbClientHolder& connect(const std::string& user, const std::string& password, bool fromSecondAddress)
    {
        samba::SmbClientHolder::Options o;
        o.port = fromSecondAddress ? forwarder->port() : server->port();
        o.share = "docs";
        o.user = user;
        o.password = password;
        o.logFile = dataDir / ("client-" + std::to_string(clients.size()) + ".log");
        clients.push_back(std::make_unique<samba::SmbClientHolder>(o));
        std::string error;
        EXPECT_TRUE(clients.back()->connect(error)) << error;
        return *clients.back();
    }

#ifdef VANTOR_FULL_ACCESS_CLIENT
    // A client of `user` that holds `name` in "docs" open with full access, as Windows Explorer
    // may: the open smbstatus cannot write as JSON. The file is made here, owned by the user, so
    // that the user holds every right on it. Empty when it is held, else why not.
    std::string holdWithFullAccess(const std::string& user, const std::string& password, const std::string& name)
    {
        const auto file = server->sharePath("docs") / name;
        std::ofstream(file) << "held with full access\n";
        const struct passwd* pw = ::getpwnam(user.c_str());
        if (!pw || ::chown(file.c_str(), pw->pw_uid, pw->pw_gid) != 0)
            return "cannot give " + file.string() + " to " + user;
        std::filesystem::permissions(file, std::filesystem::perms::all);
        auto client = std::make_unique<LineHelper>();
        int startError = 0;
        if (!client->start({"/usr/bin/python3", VANTOR_FULL_ACCESS_CLIENT, server->configFile().string(), user,
                            password, std::to_string(server->port())},
                           startError))
            return "cannot start the client: error " + std::to_string(startError);
        const auto reply = client->exchange("open " + name, std::chrono::seconds(60));
        const std::string said = client->errorOutput();
        fullAccessClients.push_back(std::move(client));
        if (reply.outcome != LineHelper::Reply::Outcome::Line || reply.line != "opened")
            return "the client answered \"" + reply.line + "\" " + said;
        return {};
    }
#endif

    // Sessions as Samba itself reports them right now, without the monitor.
    std::vector<NetSessionInfo> sambaSessions()
    {
        SambaOptions o;
        o.configFile = server->configFile().string();
        o.reuseWindow = std::chrono::milliseconds(0);
        SambaNetManagement fresh(o);
        std::vector<NetSessionInfo> out;
        EXPECT_TRUE(fresh.enumSessions({}, out).ok());
        return out;
    }

    bool sambaHasSessionOf(const std::string& user)
    {
        const auto sessions = sambaSessions();
        return std::any_of(sessions.begin(), sessions.end(), [&](const NetSessionInfo& s) { return s.user == user; });
    }

    TempDir dataDir;
    std::string alice, bob;
    std::unique_ptr<samba::PrivateSambaServer> server;
    std::unique_ptr<samba::TcpForwarder> forwarder;
    std::vector<std::unique_ptr<samba::SmbClientHolder>> clients;
    std::vector<std::unique_ptr<LineHelper>> fullAccessClients;
};

}  // namespace vantor::test
