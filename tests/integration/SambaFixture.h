#pragma once
// What the tests against a private smbd share: the server on 127.0.0.1 with its "docs" share, a
// forwarder so that clients can also come from 127.0.0.2, the clients that hold files open, and
// Samba's own view of the sessions to check the monitor against.

#include "TempDir.h"
#include "monitor/SessionTypes.h"
#include "platform/samba/PrivateSambaServer.h"
#include "platform/samba/SambaNetManagement.h"
#include "platform/samba/SmbClientHolder.h"
#include "platform/samba/TcpForwarder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <tuple>

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

class SambaFixture : public ::testing::Test {
protected:
    void TearDown() override
    {
        // Clients first: their sessions end before their server.
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

    TempDir dataDir;
    std::unique_ptr<samba::PrivateSambaServer> server;
    std::unique_ptr<samba::TcpForwarder> forwarder;
    std::vector<std::unique_ptr<samba::SmbClientHolder>> clients;
};

}  // namespace vantor::test
