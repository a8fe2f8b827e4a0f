#include "demo/FakeNetManagement.h"

#include <algorithm>
#include <cctype>

namespace vantor {

namespace {

bool equalsNoCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::toupper(x) == std::toupper(y);
           });
}

}  // namespace

NetStatus FakeNetManagement::unreachable(const std::string& server)
{
    return {netcode::BadNetPath, "The network path was not found: " + server};
}

std::optional<NetStatus> FakeNetManagement::takeStatus(Op op)
{
    ++m_calls[op];
    if (auto it = m_once.find(op); it != m_once.end()) {
        NetStatus s = it->second;
        m_once.erase(it);
        return s;
    }
    if (auto it = m_sticky.find(op); it != m_sticky.end() && !it->second.ok())
        return it->second;
    return std::nullopt;
}

std::vector<FakeSession>* FakeNetManagement::sessionsFor(const ServerName& server)
{
    if (!server)
        return &m_local;
    auto it = m_servers.find(*server);
    return it == m_servers.end() ? nullptr : &it->second;
}

NetStatus FakeNetManagement::enumSessions(const ServerName& server, std::vector<NetSessionInfo>& out)
{
    std::lock_guard lock(m_mutex);
    advanceScenario();
    out.clear();
    if (auto s = takeStatus(Op::EnumSessions))
        return *s;
    auto* list = sessionsFor(server);
    if (!list)
        return unreachable(*server);
    for (const auto& s : *list)
        out.push_back({cutUtf8(s.user), cutUtf8(s.computer),
                       s.openCountOverride.value_or(static_cast<uint32_t>(s.files.size())), s.details});
    return NetStatus::success();
}

NetStatus FakeNetManagement::enumFiles(const ServerName& server, const std::string& user, std::vector<NetFileInfo>& out)
{
    std::lock_guard lock(m_mutex);
    advanceScenario();
    out.clear();
    if (auto s = takeStatus(Op::EnumFiles))
        return *s;
    auto* list = sessionsFor(server);
    if (!list)
        return unreachable(*server);
    for (const auto& s : *list)
        if (equalsNoCase(s.user, user))
            for (const auto& f : s.files)
                out.push_back({f.id, cutUtf8(f.path), cutUtf8(s.computer), {}, f.details});
    return NetStatus::success();
}

NetStatus FakeNetManagement::enumAllFiles(const ServerName& server, std::vector<NetFileInfo>& out)
{
    std::lock_guard lock(m_mutex);
    advanceScenario();
    out.clear();
    if (auto s = takeStatus(Op::EnumAllFiles))
        return *s;
    auto* list = sessionsFor(server);
    if (!list)
        return unreachable(*server);
    for (const auto& s : *list)
        for (const auto& f : s.files)
            out.push_back({f.id, cutUtf8(f.path), cutUtf8(s.computer), cutUtf8(s.user), f.details});
    return NetStatus::success();
}

NetStatus FakeNetManagement::enumShares(const ServerName& server, std::vector<NetShareInfo>& out)
{
    std::lock_guard lock(m_mutex);
    out.clear();
    if (auto s = takeStatus(Op::EnumShares))
        return *s;
    if (!sessionsFor(server))
        return unreachable(*server);
    if (!server || server->empty())
        out = m_shares;
    return NetStatus::success();
}

void FakeNetManagement::setShares(std::vector<NetShareInfo> shares)
{
    std::lock_guard lock(m_mutex);
    m_shares = std::move(shares);
}

NetStatus FakeNetManagement::deleteSession(const ServerName& server, const std::string& computer,
                                           const std::string& user)
{
    std::lock_guard lock(m_mutex);
    advanceScenario();
    m_deleteCalls.push_back({server, computer, user});
    if (auto s = takeStatus(Op::DeleteSession))
        return *s;
    auto* list = sessionsFor(server);
    if (!list)
        return unreachable(*server);
    auto matches = [&](const FakeSession& s) {
        return equalsNoCase(s.user, user) && equalsNoCase(s.computer, computer);
    };
    auto before = list->size();
    list->erase(std::remove_if(list->begin(), list->end(), matches), list->end());
    if (list->size() == before)
        return {netcode::ClientNameNotFound,
                "There is no session of user " + user + " from computer " + computer + "."};
    return NetStatus::success();
}

NetStatus FakeNetManagement::enumUsers(std::vector<std::string>& out)
{
    std::lock_guard lock(m_mutex);
    out.clear();
    if (auto s = takeStatus(Op::EnumUsers))
        return *s;
    out = m_users;
    return NetStatus::success();
}

NetStatus FakeNetManagement::closeFile(const ServerName& server, uint32_t fileId)
{
    std::lock_guard lock(m_mutex);
    if (auto s = takeStatus(Op::CloseFile))
        return *s;
    auto* list = sessionsFor(server);
    if (!list)
        return unreachable(*server);
    for (auto& s : *list) {
        auto it = std::find_if(s.files.begin(), s.files.end(), [&](const NetFileInfo& f) { return f.id == fileId; });
        if (it != s.files.end()) {
            s.files.erase(it);
            m_closedFiles.push_back(fileId);
            return NetStatus::success();
        }
    }
    return {netcode::FileIdNotFound, "There is no open file with that identifier."};
}

void FakeNetManagement::setSessions(std::vector<FakeSession> sessions)
{
    std::lock_guard lock(m_mutex);
    m_local = std::move(sessions);
}

std::size_t FakeNetManagement::addSession(const std::string& user, const std::string& computer,
                                          std::vector<std::string> paths)
{
    std::lock_guard lock(m_mutex);
    FakeSession s{user, computer, {}, std::nullopt};
    for (auto& p : paths)
        s.files.push_back({nextFileId(), std::move(p), computer});
    m_local.push_back(std::move(s));
    return m_local.size() - 1;
}

void FakeNetManagement::setUsers(std::vector<std::string> users)
{
    std::lock_guard lock(m_mutex);
    m_users = std::move(users);
}

void FakeNetManagement::setStatus(Op op, NetStatus status)
{
    std::lock_guard lock(m_mutex);
    m_sticky[op] = std::move(status);
}

void FakeNetManagement::failNext(Op op, NetStatus status)
{
    std::lock_guard lock(m_mutex);
    m_once[op] = std::move(status);
}

void FakeNetManagement::setServerSessions(const std::string& server, std::vector<FakeSession> sessions)
{
    std::lock_guard lock(m_mutex);
    m_servers[server] = std::move(sessions);
}

std::vector<FakeDeleteCall> FakeNetManagement::deleteCalls() const
{
    std::lock_guard lock(m_mutex);
    return m_deleteCalls;
}

std::vector<uint32_t> FakeNetManagement::closedFileIds() const
{
    std::lock_guard lock(m_mutex);
    return m_closedFiles;
}

int FakeNetManagement::callCount(Op op) const
{
    std::lock_guard lock(m_mutex);
    auto it = m_calls.find(op);
    return it == m_calls.end() ? 0 : it->second;
}

std::vector<FakeSession> FakeNetManagement::sessions() const
{
    std::lock_guard lock(m_mutex);
    return m_local;
}

void FakeNetManagement::playScenario(std::vector<ScenarioEvent> events, const Clock& clock, bool loop)
{
    std::lock_guard lock(m_mutex);
    std::stable_sort(events.begin(), events.end(),
                     [](const ScenarioEvent& a, const ScenarioEvent& b) { return a.at < b.at; });
    m_scenario = std::move(events);
    m_scenarioClock = &clock;
    m_scenarioStart = clock.now();
    m_scenarioNext = 0;
    m_scenarioLoop = loop;
}

void FakeNetManagement::advanceScenario()
{
    if (!m_scenarioClock || m_scenario.empty())
        return;
    const int64_t elapsed = m_scenarioClock->now() - m_scenarioStart;
    auto find = [&](const ScenarioEvent& e) {
        return std::find_if(m_local.begin(), m_local.end(),
                            [&](const FakeSession& s) { return s.user == e.user && s.computer == e.computer; });
    };
    while (m_scenarioNext < m_scenario.size() && m_scenario[m_scenarioNext].at <= elapsed) {
        const ScenarioEvent& e = m_scenario[m_scenarioNext++];
        auto it = find(e);
        switch (e.kind) {
        case ScenarioEvent::Kind::Connect:
            if (it == m_local.end()) {
                FakeSession s{e.user, e.computer, {}, std::nullopt, {}};
                s.details.connectedAt = m_scenarioClock->now();
                s.details.dialect = "SMB3_11";
                s.details.encryption = "none";
                s.details.signing = "AES-128-GMAC (partial)";
                m_local.push_back(std::move(s));
            }
            break;
        case ScenarioEvent::Kind::Disconnect:
            if (it != m_local.end())
                m_local.erase(it);
            break;
        case ScenarioEvent::Kind::Open:
            if (it != m_local.end()) {
                NetFileInfo f{nextFileId(), e.path, e.computer, {}, {}};
                // "/srv/SHARE/REST": the demo's shares lie side by side under /srv.
                const std::string inSrv = e.path.starts_with("/srv/") ? e.path.substr(5) : e.path;
                const auto slash = inSrv.find('/');
                f.details.share = inSrv.substr(0, slash);
                f.details.relativePath = slash == std::string::npos ? std::string() : inSrv.substr(slash + 1);
                f.details.read = true;
                f.details.write = e.write;
                f.details.denyMode = e.write ? "write" : "none";
                f.details.oplock = e.write ? "batch" : "none";
                f.details.locks = e.locks;
                f.details.openedAt = m_scenarioClock->now();
                auto& shares = it->details.shares;
                if (std::find(shares.begin(), shares.end(), f.details.share) == shares.end())
                    shares.push_back(f.details.share);
                it->files.push_back(std::move(f));
            }
            break;
        case ScenarioEvent::Kind::Close:
            if (it != m_local.end())
                std::erase_if(it->files, [&](const NetFileInfo& f) { return f.path == e.path; });
            break;
        }
        if (m_scenarioNext == m_scenario.size() && m_scenarioLoop) {
            m_scenarioStart += m_scenario.back().at + 10;
            m_scenarioNext = 0;
            m_local.clear();
            break;
        }
    }
}

std::vector<ScenarioEvent> demoScenario()
{
    using K = ScenarioEvent::Kind;
    return {
        {0, K::Connect, "alice", "192.168.10.21", ""},
        {1, K::Open, "alice", "192.168.10.21", "/srv/share/projects/plan.odt", true},
        {2, K::Open, "alice", "192.168.10.21", "/srv/share/projects"},
        {6, K::Connect, "bob", "192.168.10.34", ""},
        {8, K::Open, "bob", "192.168.10.34", "/srv/share/finance/budget 2027.ods", true, 1},
        {12, K::Open, "alice", "192.168.10.21", "/srv/share/finance/budget 2027.ods"},
        {15, K::Connect, "carol", "192.168.10.57", ""},
        {16, K::Open, "carol", "192.168.10.57", "/srv/media/photos/team.jpg"},
        {17, K::Open, "carol", "192.168.10.57", "/srv/share/photos/notes.txt", true},
        {30, K::Close, "alice", "192.168.10.21", "/srv/share/projects/plan.odt"},
        {40, K::Disconnect, "bob", "192.168.10.34", ""},
        {48, K::Connect, "dave", "192.168.10.80", ""},
        {50, K::Open, "dave", "192.168.10.80", "/srv/share/projects/report.pdf"},
        {75, K::Disconnect, "carol", "192.168.10.57", ""},
        {90, K::Disconnect, "alice", "192.168.10.21", ""},
        {110, K::Disconnect, "dave", "192.168.10.80", ""},
    };
}

void FakeNetManagement::setListingNotes(ListingNotes notes)
{
    std::lock_guard lock(m_mutex);
    m_notes = std::move(notes);
}

ListingNotes FakeNetManagement::listingNotes() const
{
    std::lock_guard lock(m_mutex);
    return m_notes;
}

}  // namespace vantor
