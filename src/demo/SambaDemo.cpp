#include "demo/SambaDemo.h"

#include "demo/FakeNetManagement.h"
#include "demo/PrivateSambaServer.h"
#include "demo/SmbClientHolder.h"
#include "demo/TcpForwarder.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <iostream>
#include <thread>

#include "platform/ThreadGuard.h"

#include <fstream>
#include <unistd.h>

namespace vantor {

namespace {

// The scenario's paths name places on the demo's shares ("/srv/SHARE/PATH"); smbclient wants the
// share and the path inside it.
struct SharedPath {
    std::string share;
    std::string path;
};
SharedPath sharedPath(const std::string& path)
{
    const std::string inSrv = path.rfind("/srv/", 0) == 0 ? path.substr(5) : path;
    const auto slash = inSrv.find('/');
    if (slash == std::string::npos)
        return {"share", inSrv};
    return {inSrv.substr(0, slash), inSrv.substr(slash + 1)};
}

constexpr const char* demoServerPrefix = "vantor-demo-smbd";

samba::PrivateSambaServer::Options serverOptions()
{
    samba::PrivateSambaServer::Options o;
    // The accounts show in the table: let them read like people.
    o.accountPrefix = "";
    o.rootPrefix = demoServerPrefix;
    o.traceable = true;
    o.shares = {"share", "media"};
    // The client that holds a lock speaks SMB1 with its unix extensions, the only way smbclient
    // takes a byte-range lock: the demo then shows a locked file, and a dialect besides SMB3.
    o.globalOptions = {"server min protocol = NT1", "unix extensions = yes"};
    return o;
}

}  // namespace

class SambaDemoPlayer final : public SambaDemo {
public:
    SambaDemoPlayer();
    ~SambaDemoPlayer() override;
    SambaDemoPlayer(const SambaDemoPlayer&) = delete;
    SambaDemoPlayer& operator=(const SambaDemoPlayer&) = delete;

    std::string configFile() const override { return m_server.configFile().string(); }
    bool prepare(std::string& error);
    void startPlaying();

private:
    struct Client {
        std::string account;
        std::unique_ptr<samba::TcpForwarder> forwarder;  // null: straight from 127.0.0.1
        std::unique_ptr<samba::SmbClientHolder> holder;
        std::string share;  // the share its opens go to
    };

    void play();
    void apply(const ScenarioEvent& event);
    // Waits `seconds` unless stopped; false when stopped.
    bool waitFor(double seconds);

    samba::PrivateSambaServer m_server;
    std::vector<ScenarioEvent> m_scenario;
    std::map<std::string, Client> m_clients;  // by the scenario's user
    std::string m_password = "Demo-pass-1";
    std::string m_lockingUser;  // the client whose opens hold the scenario's locks
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;
};

SambaDemoPlayer::SambaDemoPlayer()
    : m_server(serverOptions())
    , m_scenario(demoScenario())
{
}

std::unique_ptr<SambaDemo> startSambaDemo(std::string& error)
{
    if (::geteuid() != 0) {
        error = "the Samba demo needs root (its clients are real accounts)";
        return nullptr;
    }
    // A demo that was killed could not stop its server or remove its accounts: this start does.
    for (const auto& folder : samba::PrivateSambaServer::removeAbandoned(demoServerPrefix))
        std::cerr << "vantor: removed what a demo that was killed left behind (" << folder.string() << ")\n";
    auto demo = std::make_unique<SambaDemoPlayer>();
    if (!demo->prepare(error))
        return nullptr;
    demo->startPlaying();
    return demo;
}

void SambaDemoPlayer::startPlaying()
{
    m_thread = std::thread([this] { runGuarded("the demo's clients", [this] { play(); }); });
}

SambaDemoPlayer::~SambaDemoPlayer()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    for (auto& [user, client] : m_clients) {
        if (client.holder)
            client.holder->disconnect();
        if (client.forwarder)
            client.forwarder->stop();
    }
    m_server.stop();
}

bool SambaDemoPlayer::prepare(std::string& error)
{
    if (!m_server.start(error))
        return false;
    // The files and folders the clients open.
    // A file that one client writes must be writable whoever else only reads it.
    std::set<std::string> written;
    for (const auto& e : m_scenario) {
        if (e.kind == ScenarioEvent::Kind::Open && e.write) {
            written.insert(e.path);
        }
        if (e.kind == ScenarioEvent::Kind::Open && e.locks > 0 && m_lockingUser.empty())
            m_lockingUser = e.user;
    }
    for (const auto& e : m_scenario) {
        if (e.kind != ScenarioEvent::Kind::Open)
            continue;
        const SharedPath where = sharedPath(e.path);
        const auto target = m_server.sharePath(where.share) / where.path;
        std::error_code ec;
        if (target.has_extension()) {
            std::filesystem::create_directories(target.parent_path(), ec);
            std::filesystem::permissions(target.parent_path(), std::filesystem::perms(0777), ec);
            std::ofstream(target) << "Vantor demo file\n";
            // A file the accounts may write is opened for writing too: the demo shows both modes.
            std::filesystem::permissions(target, std::filesystem::perms(written.count(e.path) ? 0666 : 0644), ec);
        } else {
            std::filesystem::create_directories(target, ec);
        }
    }
    // One account per scenario user; every client but the first comes from an address of its own.
    int address = 1;
    for (const auto& e : m_scenario) {
        if (e.kind != ScenarioEvent::Kind::Connect || m_clients.count(e.user))
            continue;
        Client c;
        c.account = m_server.addUser(e.user, m_password, error);
        if (c.account.empty())
            return false;
        if (address > 1) {
            c.forwarder = std::make_unique<samba::TcpForwarder>("127.0.0." + std::to_string(address), m_server.port());
            if (!c.forwarder->start(error))
                return false;
        }
        ++address;
        m_clients.emplace(e.user, std::move(c));
    }
    return true;
}

bool SambaDemoPlayer::waitFor(double seconds)
{
    std::unique_lock lock(m_mutex);
    return !m_wake.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return m_stop; });
}

void SambaDemoPlayer::play()
{
    for (;;) {
        int64_t now = 0;
        for (const auto& e : m_scenario) {
            if (!waitFor(static_cast<double>(e.at - now)))
                return;
            now = e.at;
            apply(e);
        }
        if (!waitFor(10))
            return;
        for (auto& [user, client] : m_clients)
            if (client.holder)
                client.holder.reset();
    }
}

void SambaDemoPlayer::apply(const ScenarioEvent& e)
{
    auto it = m_clients.find(e.user);
    if (it == m_clients.end())
        return;
    Client& c = it->second;
    switch (e.kind) {
    case ScenarioEvent::Kind::Connect: {
        samba::SmbClientHolder::Options o;
        o.port = c.forwarder ? c.forwarder->port() : m_server.port();
        o.user = c.account;
        o.password = m_password;
        o.share = "share";
        if (e.user == m_lockingUser)
            o.protocol = "NT1";
        c.share = o.share;
        // In the server's folder, so that nothing of the client outlives the demo.
        o.logFile = m_server.root() / "log" / (c.account + ".client");
        c.holder = std::make_unique<samba::SmbClientHolder>(o);
        std::string error;
        if (!c.holder->connect(error))
            c.holder.reset();
        break;
    }
    case ScenarioEvent::Kind::Disconnect:
        c.holder.reset();
        break;
    case ScenarioEvent::Kind::Open: {
        const SharedPath where = sharedPath(e.path);
        if (!c.holder)
            break;
        // One session on more than one share: a tree connect of the same session.
        if (where.share != c.share && c.holder->connectShare(where.share))
            c.share = where.share;
        if (where.share != c.share)
            break;
        if (e.user == m_lockingUser && e.locks > 0) {
            // The unix extensions of this share first: only what is opened after them can be locked.
            c.holder->posix();
            if (c.holder->open(where.path))
                for (uint32_t i = 0; i < e.locks; ++i)
                    c.holder->lock(where.path, e.write, 16 * i, 16);
            break;
        }
        c.holder->open(where.path);
        break;
    }
    case ScenarioEvent::Kind::Close:
        if (c.holder)
            c.holder->close(sharedPath(e.path).path);
        break;
    }
}

}  // namespace vantor
